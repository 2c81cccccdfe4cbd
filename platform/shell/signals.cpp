#include "platform/shell/signals.h"

#include <csignal>

namespace platform::shell {

namespace {
std::atomic<std::atomic<bool>*> g_flag{nullptr};

extern "C" void OnTerminationSignal(int) {
  // A lock-free atomic store is safe in a signal handler.
  if (std::atomic<bool>* f = g_flag.load()) f->store(true);
}
}  // namespace

void CatchTerminationSignals(std::atomic<bool>& flag) {
  static_assert(std::atomic<bool>::is_always_lock_free);
  g_flag = &flag;
  struct sigaction sa {};
  sa.sa_handler = OnTerminationSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
}

}  // namespace platform::shell
