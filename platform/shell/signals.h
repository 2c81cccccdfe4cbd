#pragma once
// SIGINT and SIGTERM as a request to stop, for programs without a window.
#include <atomic>

namespace platform::shell {

// From now on SIGINT and SIGTERM set `flag` instead of ending the process.
// `flag` must live until the process ends or another flag is given.
void CatchTerminationSignals(std::atomic<bool>& flag);

}  // namespace platform::shell
