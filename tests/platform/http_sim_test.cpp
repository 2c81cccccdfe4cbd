// CurlTransport against the simulated site: what reaches the site (agent,
// cookies, connection), and how it ends when the site misbehaves.
#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

#include "platform/http/http.h"
#include "sim/auction_sim.h"

namespace {

using platform::http::Cookie;
using platform::http::CurlTransport;
using platform::http::Options;

class HttpSim : public ::testing::Test {
 protected:
  void SetUp() override {
    server.Start();
    base = server.BaseUrl();
    server.SetClock(1386012345678, false);
  }

  // The Cookie header of the last request that reached the site.
  std::string LastCookie() {
    auto log = server.Log();
    EXPECT_FALSE(log.empty());
    return log.empty() ? std::string("<no request>") : log.back().cookie;
  }

  static Cookie Make(std::string domain, std::string name, std::string value) {
    Cookie c;
    c.domain = std::move(domain);
    c.name = std::move(name);
    c.value = std::move(value);
    return c;
  }

  sim::Server server;
  std::string base;
};

TEST_F(HttpSim, AnswerBodyAndStatusArrive) {
  CurlTransport t;
  auto r = t.Get(base + "/detail/3333333");
  EXPECT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.status, 200);
  EXPECT_FALSE(r.truncated);
  EXPECT_NE(r.body.find("var nowMil=1386012345678;\r\n"), std::string::npos);
}

TEST_F(HttpSim, ErrorStatusIsACompletedTransfer) {
  CurlTransport t;
  auto r = t.Get(base + "/detail/42");  // no such auction: 404 page
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.status, 404);
  EXPECT_NE(r.body.find("404"), std::string::npos);
}

TEST_F(HttpSim, UserAgentReachesTheSiteAsRawBytes) {
  Options o;
  o.userAgent = "\xBE\xA9\xB6\xAB";
  CurlTransport t(o);
  t.Get(base + "/detail/3333333");
  ASSERT_EQ(server.Log().size(), 1u);
  EXPECT_EQ(server.Log()[0].userAgent, "\xBE\xA9\xB6\xAB");
}

TEST_F(HttpSim, OneConnectionServesEveryRequestAndIsSeenAliveUntilTheSiteClosesIt) {
  CurlTransport t;
  EXPECT_FALSE(t.ConnectionAlive());  // none opened yet
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(t.Get(base + "/detail/3333333").ok);
  auto log = server.Log();
  ASSERT_EQ(log.size(), 4u);
  for (const auto& e : log) EXPECT_EQ(e.connection, log[0].connection);
  EXPECT_TRUE(t.ConnectionAlive());
  server.Stop();
  EXPECT_FALSE(t.ConnectionAlive());
}

TEST_F(HttpSim, RefusedConnectionFailsWithAReason) {
  std::string gone = base;
  server.Stop();
  CurlTransport t;
  auto r = t.Get(gone + "/detail/3333333");
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(r.body.empty());
  EXPECT_FALSE(r.error.empty());
}

TEST_F(HttpSim, ConnectionClosedWithoutAnswerFails) {
  server.AddFault({sim::FaultKind::Refuse, "/detail/", 1});
  CurlTransport t;
  auto r = t.Get(base + "/detail/3333333");
  EXPECT_FALSE(r.ok);
  // The next request opens a new connection and succeeds.
  EXPECT_TRUE(t.Get(base + "/detail/3333333").ok);
}

TEST_F(HttpSim, StalledAnswerIsAbandonedAndTheNextOneWorks) {
  sim::Fault stall{sim::FaultKind::Stall, "/detail/", 1};
  stall.stallMs = 30000;
  server.AddFault(stall);
  Options o;
  o.stallTimeout = std::chrono::milliseconds(1000);
  CurlTransport t(o);
  auto r = t.Get(base + "/detail/3333333");
  EXPECT_FALSE(r.ok);
  EXPECT_FALSE(r.error.empty());
  EXPECT_TRUE(t.Get(base + "/detail/3333333").ok);
}

TEST_F(HttpSim, OversizedAnswerIsCutAtTheCap) {
  sim::Fault huge{sim::FaultKind::Huge, "/detail/", 1};
  huge.hugeBytes = 8u << 20;
  server.AddFault(huge);
  Options o;
  o.maxBytes = 300000;
  CurlTransport t(o);
  auto r = t.Get(base + "/detail/3333333");
  EXPECT_FALSE(r.ok);
  EXPECT_TRUE(r.truncated);
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body.size(), 300000u);
  EXPECT_EQ(r.body.substr(0, 4), "ABCD");
  EXPECT_FALSE(r.error.empty());
  auto next = t.Get(base + "/detail/3333333");
  EXPECT_TRUE(next.ok);
  EXPECT_FALSE(next.truncated);
}

TEST_F(HttpSim, AnswerOfExactlyTheCapIsWhole) {
  CurlTransport probe;
  std::size_t size = probe.Get(base + "/detail/3333333").body.size();
  Options o;
  o.maxBytes = size;
  CurlTransport t(o);
  auto r = t.Get(base + "/detail/3333333");
  EXPECT_TRUE(r.ok);
  EXPECT_FALSE(r.truncated);
  EXPECT_EQ(r.body.size(), size);
}

TEST_F(HttpSim, LoginCookiesGoOnlyWhereTheyBelong) {
  std::int64_t now = std::time(nullptr);
  std::vector<Cookie> jar;
  jar.push_back(Make("127.0.0.1", "pin", "alice"));
  Cookie http = Make("127.0.0.1", "thor", "T0K3N");
  http.httpOnly = true;
  http.expires = now + 3600;
  jar.push_back(http);
  jar.push_back(Make(".jd.com", "other", "x"));  // another site
  Cookie expired = Make("127.0.0.1", "old", "y");
  expired.expires = now - 10;
  jar.push_back(expired);
  Cookie json = Make("127.0.0.1", "jsononly", "j");
  json.path = "/json";
  jar.push_back(json);

  CurlTransport t;
  t.SetCookies(jar);
  t.Get(base + "/detail/3333333");
  std::string detail = LastCookie();
  EXPECT_NE(detail.find("pin=alice"), std::string::npos) << detail;
  EXPECT_NE(detail.find("thor=T0K3N"), std::string::npos) << detail;
  for (const char* absent : {"other=", "old=", "jsononly="})
    EXPECT_EQ(detail.find(absent), std::string::npos) << absent << " in " << detail;

  t.Get(base + "/json/paimai/bid_records?dealId=1");
  EXPECT_NE(LastCookie().find("jsononly=j"), std::string::npos) << LastCookie();
}

TEST_F(HttpSim, SetCookiesReplacesTheLogin) {
  CurlTransport t;
  t.SetCookies({Make("127.0.0.1", "pin", "alice"), Make("127.0.0.1", "thor", "one")});
  t.Get(base + "/detail/3333333");
  t.SetCookies({Make("127.0.0.1", "pin", "bob")});
  t.Get(base + "/detail/3333333");
  EXPECT_EQ(LastCookie(), "pin=bob");
  t.SetCookies({});
  t.Get(base + "/detail/3333333");
  EXPECT_EQ(LastCookie(), "");
}

TEST_F(HttpSim, CookieWithALineBreakIsRefusedNotInjected) {
  CurlTransport t;
  t.SetCookies({Make("127.0.0.1", "pin", "a\r\nX-Evil: 1"), Make("127.0.0.1", "ok", "1")});
  t.Get(base + "/detail/3333333");
  EXPECT_EQ(LastCookie(), "ok=1");
}

TEST_F(HttpSim, DomainCookiesReachSubdomainsHostCookiesDoNot) {
  std::string port = std::to_string(server.port());
  Options o;
  for (const char* host : {"site.test", "www.site.test", "evil-site.test"})
    o.resolve.push_back(std::string(host) + ":" + port + ":127.0.0.1");
  CurlTransport t(o);
  // Plain http to a name that is not loopback: a secure cookie stays home
  // (libcurl, like browsers, trusts http://127.0.0.1 and localhost).
  Cookie secure = Make("site.test", "sec", "3");
  secure.secure = true;
  t.SetCookies({Make(".site.test", "wide", "1"), Make("site.test", "narrow", "2"), secure});

  t.Get("http://site.test:" + port + "/detail/3333333");
  std::string apex = LastCookie();
  EXPECT_NE(apex.find("wide=1"), std::string::npos) << apex;
  EXPECT_NE(apex.find("narrow=2"), std::string::npos) << apex;
  EXPECT_EQ(apex.find("sec=3"), std::string::npos) << apex;

  t.Get("http://www.site.test:" + port + "/detail/3333333");
  EXPECT_EQ(LastCookie(), "wide=1");

  t.Get("http://evil-site.test:" + port + "/detail/3333333");
  EXPECT_EQ(LastCookie(), "");
}

TEST_F(HttpSim, HookCanRefreshTheLoginBeforeTheRequest) {
  CurlTransport t;
  int calls = 0;
  t.SetBeforeRequest([&](CurlTransport& self) {
    ++calls;
    self.SetCookies({Make("127.0.0.1", "pin", "v" + std::to_string(calls))});
  });
  t.Get(base + "/detail/3333333");
  EXPECT_EQ(LastCookie(), "pin=v1");
  t.Get(base + "/detail/3333333");
  EXPECT_EQ(LastCookie(), "pin=v2");
}

}  // namespace
