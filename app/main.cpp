#include "status_dump.h"

#include <cstdio>

int main(int argc, char** argv)
{
    if (wantsStatusDump(argc, argv))
        return runStatusDump(argc, argv);
    std::fputs("kivobar: the tray is not built yet; use --status\n", stderr);
    return 1;
}
