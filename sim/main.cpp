// auction-sim: serves the simulated auction site until SIGINT/SIGTERM or
// until the process that started it dies.
#include <sys/prctl.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "sim/auction_sim.h"

namespace {

const char kUsage[] =
    "usage: auction-sim [--port N] [--demo] [--latency MS] [--help]\n"
    "  --port N      listen on 127.0.0.1:N (default: a free port)\n"
    "  --demo        load the demo scenario (running auctions, a history, other bidders)\n"
    "  --latency MS  one-way network delay added to every request\n"
    "Prints PORT=<n> once listening; stops on SIGINT, SIGTERM or when its parent exits.\n";

bool ParseNumber(const char* text, long max, long& out) {
  char* end = nullptr;
  long v = std::strtol(text, &end, 10);
  if (!text[0] || *end || v < 0 || v > max) return false;
  out = v;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  long port = 0, latency = 0;
  bool demo = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (a == "--demo") {
      demo = true;
    } else if (a == "--port" && i + 1 < argc && ParseNumber(argv[i + 1], 65535, port)) {
      ++i;
    } else if (a == "--latency" && i + 1 < argc && ParseNumber(argv[i + 1], 600000, latency)) {
      ++i;
    } else {
      std::fprintf(stderr, "auction-sim: bad argument '%s'\n%s", a.c_str(), kUsage);
      return 2;
    }
  }

  // Every thread inherits the blocked mask; the main thread takes the signals.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  const pid_t parent = getppid();
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (getppid() != parent) return 0;  // the parent died before we asked

  sim::Server server;
  std::uint16_t actual = 0;
  try {
    server.SetLatency(std::chrono::milliseconds(latency));
    if (demo) server.LoadDemoScenario();
    actual = server.Start(static_cast<std::uint16_t>(port));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "auction-sim: %s\n", e.what());
    return 1;
  }
  std::printf("PORT=%u\n", static_cast<unsigned>(actual));
  std::fflush(stdout);

  int sig = 0;
  sigwait(&stopSignals, &sig);
  server.Stop();
  return 0;
}
