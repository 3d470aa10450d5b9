#pragma once

/// Sets the allocator up for a process that runs for weeks: large buffers (a big status file read once)
/// go back to the system as soon as they are freed. Call once, at start.
void tuneMemoryForLongRuns();

/// Hands back to the system the memory this process has freed but its allocator still keeps, as after a
/// large menu shrank; cheap enough to call after each such change.
void returnFreedMemory();
