#pragma once

#include <chrono>

/// Waits until the agent home of this process reads as online, as `nm-online` waits for the network: looks at once,
/// then again at each refresh of the model and whenever the status file could have changed, for at most `timeout`
/// (zero looks once). Returns the exit status: 0 online, 1 not online within the time.
int waitOnline(int argc, char** argv, std::chrono::milliseconds timeout);
