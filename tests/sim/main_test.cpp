// The auction-sim executable as the programs start it: one PORT line, then
// serving until a signal or the parent's end.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "support.h"

using namespace simtest;

namespace {

struct Child {
  pid_t pid = -1;
  int out = -1;  // the child's stdout
};

Child Spawn(const std::vector<std::string>& args) {
  // Everything that allocates happens before the fork.
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(AUCTION_SIM_EXE));
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  int fds[2];
  if (::pipe(fds) != 0) return {};
  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(fds[1], 1);
    ::close(fds[0]);
    ::close(fds[1]);
    ::execv(AUCTION_SIM_EXE, argv.data());
    ::_exit(127);
  }
  ::close(fds[1]);
  return {pid, fds[0]};
}

// Reads the child's stdout up to its end or the first newline.
std::string ReadLine(int fd) {
  std::string line;
  char c;
  while (::read(fd, &c, 1) == 1) {
    line += c;
    if (c == '\n') break;
  }
  return line;
}

std::string ReadRest(int fd) {
  std::string out;
  char buf[512];
  ssize_t n;
  while ((n = ::read(fd, buf, sizeof buf)) > 0) out.append(buf, static_cast<std::size_t>(n));
  return out;
}

int WaitExit(pid_t pid) {
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(Executable, PrintsOnePortLineServesAndStopsOnSigterm) {
  Child c = Spawn({"--demo", "--latency", "0"});
  ASSERT_GT(c.pid, 0);
  std::string line = ReadLine(c.out);
  ASSERT_EQ(line.rfind("PORT=", 0), 0u) << line;
  ASSERT_EQ(line.back(), '\n');
  int port = std::stoi(line.substr(5));
  ASSERT_GT(port, 0);

  Client client;
  const std::string base = "http://127.0.0.1:" + std::to_string(port);
  std::string home = PageText(client.Get(base + "/").body);
  // The clock starts at the real time.
  const std::int64_t wall =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
          .count();
  std::int64_t siteSeconds = std::stoll(After(home, "nowMil", 7, ";").substr(0, 10));
  EXPECT_LT(std::llabs(siteSeconds - wall), 3600);
  // --demo: the listing has deals.
  std::string listing = PageText(client.Get(base + "/paimai/0-0-0-0-0-0-1-0-0-0-1.html").body);
  EXPECT_GT(Count(listing, "resultDeals"), 0);

  ::kill(c.pid, SIGTERM);
  EXPECT_EQ(WaitExit(c.pid), 0);
  EXPECT_EQ(ReadRest(c.out), "");  // exactly one line
  ::close(c.out);
}

TEST(Executable, StopsOnSigintWithAFixedPort) {
  // Let the kernel pick a free port first, then ask for it explicitly.
  std::uint16_t free;
  {
    sim::Server probe;
    free = probe.Start();
  }
  Child c = Spawn({"--port", std::to_string(free)});
  ASSERT_GT(c.pid, 0);
  EXPECT_EQ(ReadLine(c.out), "PORT=" + std::to_string(free) + "\n");
  Client client;
  std::string listing = PageText(
      client.Get("http://127.0.0.1:" + std::to_string(free) + "/paimai/0-0-0-0-0-0-1-0-0-0-1.html").body);
  EXPECT_EQ(Count(listing, "resultDeals"), 0);  // no scenario without --demo
  EXPECT_NE(listing.find("nowMil="), std::string::npos);
  ::kill(c.pid, SIGINT);
  EXPECT_EQ(WaitExit(c.pid), 0);
  ::close(c.out);
}

TEST(Executable, HelpAndBadArguments) {
  Child help = Spawn({"--help"});
  std::string text = ReadRest(help.out);
  EXPECT_EQ(WaitExit(help.pid), 0);
  EXPECT_NE(text.find("--demo"), std::string::npos);
  EXPECT_EQ(text.rfind("usage: auction-sim", 0), 0u);  // usage only, no server
  ::close(help.out);

  for (std::vector<std::string> bad :
       {std::vector<std::string>{"--port", "70000"}, std::vector<std::string>{"--latency"},
        std::vector<std::string>{"--bogus"}}) {
    Child c = Spawn(bad);
    EXPECT_EQ(ReadRest(c.out), "");
    EXPECT_EQ(WaitExit(c.pid), 2) << bad[0];
    ::close(c.out);
  }
}

TEST(Executable, EndsWhenItsParentDies) {
  // A middle process starts auction-sim and dies; auction-sim must follow.
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  pid_t middle = ::fork();
  if (middle == 0) {
    ::dup2(fds[1], 1);
    ::close(fds[0]);
    ::close(fds[1]);
    pid_t sim = ::fork();
    if (sim == 0) {
      char* argv[] = {const_cast<char*>(AUCTION_SIM_EXE), nullptr};
      ::execv(AUCTION_SIM_EXE, argv);
      ::_exit(127);
    }
    // Lives until the test kills it; the PORT line goes straight to the test
    // through the shared pipe.
    ::pause();
    ::_exit(0);
  }
  ::close(fds[1]);
  std::string line = ReadLine(fds[0]);
  ASSERT_EQ(line.rfind("PORT=", 0), 0u);
  const std::string url = "http://127.0.0.1:" + line.substr(5, line.size() - 6) + "/";
  Client client;
  EXPECT_EQ(client.Get(url).status, 200);
  ::kill(middle, SIGKILL);
  ::waitpid(middle, nullptr, 0);
  // The pipe's write end closes when auction-sim, its last holder, exits.
  EXPECT_EQ(ReadRest(fds[0]), "");
  ::close(fds[0]);
  Client after;
  EXPECT_NE(after.Get(url).result, CURLE_OK);
}

}  // namespace
