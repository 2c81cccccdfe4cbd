// `gavelhawk --probe` against the simulated site.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "gavelhawk/site/probe.h"
#include "sim/auction_sim.h"
#include "site/fetch.h"

namespace {

using gavelhawk::site::RunProbe;
using platform::http::CurlTransport;
using ::site::SiteHttpOptions;

TEST(ProbeSim, GbkTitleAndClosingAcrossAMultipleOfTenToTheNine) {
  sim::Server server;
  server.Start();
  // The clock stands just below 1386 * 10^9 ms, the closing just above it.
  server.SetClock(1385999995000, false);
  sim::Auction a;
  a.id = 1234567;
  a.title = "京东 夺宝岛 戴森 V12 吸尘器";
  a.lowerOffset = 5;
  a.higherOffset = 50;
  a.startMs = 1385999990000;
  a.endMs = 1386000120000;
  server.AddAuction(a);

  CurlTransport t(SiteHttpOptions());
  std::ostringstream out;
  EXPECT_EQ(RunProbe(t, server.BaseUrl(), 1234567, out), 0);
  EXPECT_EQ(out.str(),
            "title=京东 夺宝岛 戴森 V12 吸尘器\n"
            "status=0\n"
            "lower=5\n"
            "higher=50\n"
            "closing_minus_now_ms=125000\n"
            "opening_minus_now_ms=-5000\n"
            "remaining=2分5秒\n");

  auto log = server.Log();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0].target, "/detail/1234567");
  EXPECT_EQ(log[1].target, "/detail/1234567");
  EXPECT_EQ(log[2].target, "/detail/3333333");
  EXPECT_EQ(log[2].userAgent, "\xBE\xA9\xB6\xAB");
}

TEST(ProbeSim, UnknownAuctionIsReportedAsMissing) {
  sim::Server server;
  server.Start();
  CurlTransport t(SiteHttpOptions());
  std::ostringstream out;
  EXPECT_EQ(RunProbe(t, server.BaseUrl(), 5, out), 1);
  EXPECT_EQ(out.str(), "error=商品不存在或拍卖已结束\n");
}

TEST(ProbeSim, ARefusedConnectionIsANetworkErrorNotAMissingAuction) {
  sim::Server server;
  server.Start();
  const std::string url = server.BaseUrl();
  server.Stop();  // nothing listens there any more
  CurlTransport t(SiteHttpOptions());
  std::ostringstream out;
  EXPECT_EQ(RunProbe(t, url, 5, out), 1);
  EXPECT_EQ(out.str().rfind("error=网络错误：", 0), 0u) << out.str();
  EXPECT_EQ(out.str().find("商品不存在"), std::string::npos) << out.str();
}

TEST(ProbeSim, EndedAuctionShowsStatusTwoAndEnded) {
  sim::Server server;
  server.Start();
  server.SetClock(1386012345678, false);
  sim::Auction a;
  a.id = 88;
  a.title = "ended";
  a.startMs = 1386000000000;
  a.endMs = 1386012000000;
  server.AddAuction(a);
  CurlTransport t(SiteHttpOptions());
  std::ostringstream out;
  EXPECT_EQ(RunProbe(t, server.BaseUrl(), 88, out), 0);
  EXPECT_NE(out.str().find("\nstatus=2\n"), std::string::npos) << out.str();
  EXPECT_NE(out.str().find("\nclosing_minus_now_ms=-345678\n"), std::string::npos) << out.str();
  EXPECT_NE(out.str().find("\nremaining=已结束\n"), std::string::npos) << out.str();
}

}  // namespace
