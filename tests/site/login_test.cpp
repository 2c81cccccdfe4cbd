// The site connection both programs make: every transport, on any thread,
// carries the one login read from the user's source, with the program's agent.
#include "site/login.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <thread>

#include "sim/auction_sim.h"
#include "site/fetch.h"
#include "site/paths.h"

namespace {

TEST(SiteConnection, EveryTransportCarriesTheOneLoginAndTheProgramsAgent) {
  sim::Server server;
  server.Start();
  char dir[] = "/tmp/site-login-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string path = std::string(dir) + "/cookies.txt";
  std::ofstream(path) << "127.0.0.1\tFALSE\t/\tFALSE\t4102444800\tpin\tbuyer-1\n";
  ::site::SiteSettings s;
  s.siteUrl = server.BaseUrl();
  s.cookies = path;
  for (const char* agent : {::site::kAgentName, ::site::kHistoryAgentName}) {
    server.ClearLog();
    {
      ::site::SiteConnection c(s, agent);
      EXPECT_EQ(c.notice(), "");
      EXPECT_EQ(c.loginBrowser(), "firefox") << "a cookies.txt names no browser";
      c.transport().Get(server.BaseUrl() + ::site::kHomePath);
      std::thread([&] {
        c.NewTransport()->Get(server.BaseUrl() + ::site::DetailPath(::site::kClockDealId));
      }).join();
    }
    const auto log = server.Log();
    ASSERT_EQ(log.size(), 2u);
    for (const auto& e : log) {
      EXPECT_NE(e.cookie.find("pin=buyer-1"), std::string::npos) << e.path << ": " << e.cookie;
      EXPECT_EQ(e.userAgent, agent) << e.path;
    }
  }
  std::remove(path.c_str());
  rmdir(dir);
}

TEST(SiteConnection, NoLoginIsToldNamingTheSourceUnlessNoneWasChosen) {
  ::site::SiteSettings s;
  s.siteUrl = "http://127.0.0.1:9";
  s.cookies = "/nonexistent/cookies.txt";
  s.loginBrowser = "chromium --incognito";
  ::site::SiteConnection missing(s, ::site::kAgentName);
  EXPECT_NE(missing.notice().find("/nonexistent/cookies.txt"), std::string::npos) << missing.notice();
  EXPECT_EQ(missing.loginBrowser(), "chromium --incognito");
  s.cookies = "none";
  EXPECT_EQ(::site::SiteConnection(s, ::site::kAgentName).notice(), "");
}

}  // namespace
