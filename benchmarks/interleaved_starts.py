#!/usr/bin/python3
"""Start-to-exit of two commands, run in turns rather than one after the other, so that the load of a shared
machine weighs on both alike: the median and the least wall time, and the median CPU time, of each.

usage: interleaved_starts.py RUNS "COMMAND A" "COMMAND B"    (absolute program paths, words split at blanks)
"""

import os
import statistics
import sys
import time


def main():
    runs = int(sys.argv[1])
    commands = [argument.split() for argument in sys.argv[2:4]]
    wall = [[], []]
    cpu = [[], []]
    devnull = os.open(os.devnull, os.O_WRONLY)
    for _ in range(runs):
        for index, argv in enumerate(commands):
            start = time.perf_counter()
            pid = os.posix_spawn(argv[0], argv, os.environ, file_actions=[(os.POSIX_SPAWN_DUP2, devnull, 1)])
            _, _, usage = os.wait4(pid, 0)
            wall[index].append(time.perf_counter() - start)
            cpu[index].append(usage.ru_utime + usage.ru_stime)
    for index, argv in enumerate(commands):
        print(f"{' '.join(argv)}: wall median {statistics.median(wall[index]) * 1e3:.2f} ms, least "
              f"{min(wall[index]) * 1e3:.2f} ms; CPU median {statistics.median(cpu[index]) * 1e3:.2f} ms")
    print(f"B against A: wall median {statistics.median(wall[1]) / statistics.median(wall[0]):.2f}x, least "
          f"{min(wall[1]) / min(wall[0]):.2f}x, CPU median {statistics.median(cpu[1]) / statistics.median(cpu[0]):.2f}x")
    return 0


if __name__ == "__main__":
    sys.exit(main())
