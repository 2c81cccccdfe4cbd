// The login against auction-sim: a bid carries the cookies of the source the
// user named, and nothing that is not the site's.
#include <gtest/gtest.h>

#include <ctime>
#include <mutex>
#include <thread>

#include "fixtures.h"
#include "platform/http/http.h"
#include "sim/auction_sim.h"
#include "sim/http_server.h"

using namespace cookietest;
using platform::cookies::CookieSource;
using platform::http::CurlTransport;

namespace {

const std::string kLoginName = "thor";
const std::string kLoginValue = "T0K3N/abc+def==";

std::int64_t RealNow() { return static_cast<std::int64_t>(std::time(nullptr)); }

// The user's login for the simulator's host, plus what must never reach it.
std::vector<Row> LoginRows(const std::string& pin) {
  std::int64_t now = RealNow();
  return {
      {"127.0.0.1", kLoginName, kLoginValue, now + 3600, false, true},
      {"127.0.0.1", "pin", pin, now + 3600},
      {"127.0.0.1", "stale", "expired-login", now - 30},
      {"127.0.0.2", "neighbour", "for-another-host", now + 3600},
      {".example.com", "tracker", "for-another-domain", now + 3600},
  };
}

// A cookies.txt holding LoginRows(pin); returns its path.
std::string WriteLoginCookiesTxt(TempHome& h, const std::string& pin) {
  std::string path = h.Path("cookies.txt");
  std::string file;
  for (const Row& r : LoginRows(pin)) file += CookiesTxtLine(r);
  WriteFile(path, file);
  return path;
}

class SiteLogin : public ::testing::Test {
 protected:
  void SetUp() override {
    server_.Start();
    server_.SetClock(1700000000000, false);
    server_.RequireLoginCookie(kLoginName, kLoginValue);
  }

  // Places one bid on a fresh auction the way the program does: the source
  // is asked before the request, the transport carries what it gives.
  platform::http::Response Bid(CookieSource& source, CurlTransport& transport, bool wire = true) {
    sim::Auction a;
    a.id = nextId_++;
    a.title = "测试拍品";
    a.listPrice = 1999;
    a.startMs = server_.Now() - 60000;
    a.endMs = server_.Now() + 600000;
    server_.AddAuction(a);
    if (wire) platform::cookies::KeepLoginCurrent(source, transport);
    return transport.Get(server_.BaseUrl() + "/json/paimai/bid?dealId=" + std::to_string(a.id) + "&price=10");
  }

  // The Cookie header of the last bid, as the site received it.
  std::string LastBidCookie() {
    auto log = server_.LogFor("/json/paimai/bid");
    return log.empty() ? std::string() : log.back().cookie;
  }

  static bool Contains(const std::string& header, const std::string& pair) {
    // Cookie pairs are separated by "; ".
    std::string padded = "; " + header + ";";
    return padded.find("; " + pair + ";") != std::string::npos;
  }

  void ExpectOnlyTheLogin(const std::string& pin) {
    std::string header = LastBidCookie();
    EXPECT_TRUE(Contains(header, kLoginName + "=" + kLoginValue)) << "the login cookie reached the site";
    EXPECT_TRUE(Contains(header, "pin=" + pin));
    for (const char* never : {"stale", "neighbour", "tracker"}) {
      EXPECT_EQ(header.find(never), std::string::npos) << never << " was sent";
    }
  }

  sim::Server server_;
  std::int64_t nextId_ = 2000001;
};

TEST_F(SiteLogin, BidWithCookiesTxt) {
  TempHome h;
  CookieSource source(WriteLoginCookiesTxt(h, "txt-user"), "127.0.0.1");
  CurlTransport transport;
  auto answer = Bid(source, transport);
  ASSERT_TRUE(answer.ok) << answer.error;
  EXPECT_NE(answer.body.find("success"), std::string::npos);
  ExpectOnlyTheLogin("txt-user");
}

TEST_F(SiteLogin, BidWithTheFirefoxLogin) {
  TempHome h;
  MakeFirefoxProfile(h.Path(".mozilla/firefox/a.default-release"), 16, LoginRows("ff-user"));
  CookieSource source("auto", "127.0.0.1");
  CurlTransport transport;
  auto answer = Bid(source, transport);
  EXPECT_NE(answer.body.find("success"), std::string::npos);
  ExpectOnlyTheLogin("ff-user");
}

TEST_F(SiteLogin, BidWithTheChromeAndChromiumLogins) {
  for (std::string browser : {"chrome", "chromium"}) {
    SCOPED_TRACE(browser);
    TempHome h;
    std::string folder = browser == "chrome" ? "google-chrome" : "chromium";
    CreateChromiumDb(h.Path(".config/" + folder + "/Default/Cookies"), LoginRows(browser + "-user"));
    CookieSource source(browser, "127.0.0.1");
    CurlTransport transport;
    auto answer = Bid(source, transport);
    EXPECT_NE(answer.body.find("success"), std::string::npos);
    ExpectOnlyTheLogin(browser + "-user");
  }
}

TEST_F(SiteLogin, WithoutTheLoginTheSiteAnswers403) {
  TempHome h;
  MakeFirefoxProfile(h.Path(".mozilla/firefox/a.default-release"), 16, LoginRows("ff-user"));
  CookieSource none("none", "127.0.0.1");
  CurlTransport transport;
  auto answer = Bid(none, transport);
  EXPECT_NE(answer.body.find("\"code\":\"403\""), std::string::npos);
  EXPECT_EQ(LastBidCookie(), "");

  // A login for another site is no login at all.
  CookieSource elsewhere("auto", "127.0.0.9");
  CurlTransport other;
  auto refused = Bid(elsewhere, other);
  EXPECT_NE(refused.body.find("\"code\":\"403\""), std::string::npos);
  EXPECT_EQ(LastBidCookie(), "");
}

// The user logs in after the program started: the next bid carries it,
// without a restart.
TEST_F(SiteLogin, ALoginMadeWhileRunningIsUsedByTheNextBid) {
  TempHome h;
  std::string dir = MakeFirefoxProfile(h.Path(".mozilla/firefox/a.default-release"), 16, {});
  CookieSource source("auto", "127.0.0.1");
  CurlTransport transport;
  EXPECT_NE(Bid(source, transport).body.find("\"code\":\"403\""), std::string::npos);

  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((dir + "/cookies.sqlite").c_str(), &db), SQLITE_OK);
  InsertFirefoxRows(db, 16, LoginRows("late-user"));
  sqlite3_close(db);
  auto answer = Bid(source, transport);
  EXPECT_NE(answer.body.find("success"), std::string::npos);
  ExpectOnlyTheLogin("late-user");
}

TEST_F(SiteLogin, CookiesTheSiteSetSurviveTheLoginCheckBeforeEachRequest) {
  TempHome h;
  CookieSource source(WriteLoginCookiesTxt(h, "txt-user"), "127.0.0.1");
  CurlTransport transport;
  platform::cookies::KeepLoginCurrent(source, transport);
  ASSERT_TRUE(transport.Get(server_.BaseUrl() + "/").ok);  // the site sets its visit cookie
  auto answer = Bid(source, transport, false);
  EXPECT_NE(answer.body.find("success"), std::string::npos);
  ExpectOnlyTheLogin("txt-user");
  EXPECT_NE(LastBidCookie().find("__jdv=visit"), std::string::npos) << LastBidCookie();
}

// The engine, the reads and the window each have a transport on a thread of
// their own; one login serves them all, and a new login reaches every one of
// them once it has been looked at, off their requests' path.
TEST_F(SiteLogin, OneSharedLoginServesTransportsOnSeveralThreads) {
  TempHome h;
  const std::string path = WriteLoginCookiesTxt(h, "txt-user");
  platform::cookies::SharedLogin login(path, "127.0.0.1");
  CurlTransport engine, reader;
  platform::cookies::KeepLoginCurrent(login, engine);
  platform::cookies::KeepLoginCurrent(login, reader);
  auto bidFrom = [&](CurlTransport& t) {
    sim::Auction a;
    a.id = nextId_++;
    a.title = "测试拍品";
    a.listPrice = 1999;
    a.startMs = server_.Now() - 60000;
    a.endMs = server_.Now() + 600000;
    server_.AddAuction(a);
    std::string body;
    std::thread([&] {
      body = t.Get(server_.BaseUrl() + "/json/paimai/bid?dealId=" + std::to_string(a.id) + "&price=10").body;
    }).join();
    return body;
  };
  for (const std::string& pin : {std::string("txt-user"), std::string("renewed-user")}) {
    if (pin != "txt-user") {
      WriteLoginCookiesTxt(h, pin);
      login.Refresh();
    }
    // The second bid of a round is refused by the site's 4 s rule; what
    // matters is the login it carried.
    for (CurlTransport* t : {&engine, &reader}) {
      EXPECT_EQ(bidFrom(*t).find("\"code\":\"403\""), std::string::npos) << pin;
      ExpectOnlyTheLogin(pin);
    }
  }
}

}  // namespace

// The site's host sends every request on to another host under the same
// public suffix; what the other host receives is all that matters.
TEST(PublicSuffix, ACookieForAPublicSuffixNeverFollowsARedirect) {
  std::mutex mu;
  std::vector<std::pair<std::string, std::string>> seen;  // Host, Cookie
  sim::detail::HttpServer redirector(
      [&](const sim::detail::HttpRequest& req) {
        const std::string host = req.Header("Host");
        {
          std::lock_guard<std::mutex> lock(mu);
          seen.emplace_back(host.substr(0, host.find(':')), req.Header("Cookie", "; "));
        }
        sim::detail::HttpReply reply;
        if (host.rfind("dbd.jd.com.cn", 0) == 0) {
          reply.status = 302;
          reply.location = "http://evil.com.cn:" + host.substr(host.find(':') + 1) + "/landing";
        }
        return reply;
      },
      [] { return std::chrono::milliseconds(0); });
  const std::string port = std::to_string(redirector.Start(0));
  TempHome h;
  const std::int64_t later = RealNow() + 3600;
  const std::vector<Row> rows = {{".com.cn", "wide", "leak", later}, {".jd.com.cn", "pin", "ok", later}};
  std::string file;
  for (const Row& r : rows) file += CookiesTxtLine(r);
  WriteFile(h.Path("cookies.txt"), file);
  std::vector<platform::http::Cookie> direct;
  for (const Row& r : rows) direct.push_back({r.host, true, "/", false, false, later, r.name, r.value});

  // The login from a cookies.txt, and the same cookies handed to the
  // transport directly: neither way does the suffix's cookie go anywhere.
  for (const bool fromSource : {true, false}) {
    SCOPED_TRACE(fromSource ? "cookies.txt" : "SetCookies");
    platform::http::Options o;
    for (const char* name : {"dbd.jd.com.cn", "evil.com.cn"})
      o.resolve.push_back(std::string(name) + ":" + port + ":127.0.0.1");
    CurlTransport transport(o);
    CookieSource source(h.Path("cookies.txt"), "dbd.jd.com.cn");
    if (fromSource) {
      platform::cookies::KeepLoginCurrent(source, transport);
    } else {
      transport.SetCookies(direct);
    }
    {
      std::lock_guard<std::mutex> lock(mu);
      seen.clear();
    }
    const auto answer = transport.Get("http://dbd.jd.com.cn:" + port + "/detail/1");
    ASSERT_TRUE(answer.ok) << answer.error;
    std::lock_guard<std::mutex> lock(mu);
    EXPECT_EQ(
        (std::vector<std::pair<std::string, std::string>>{{"dbd.jd.com.cn", "pin=ok"}, {"evil.com.cn", ""}}),
        seen);
  }
  redirector.Stop();
}
