// FetchPage over the simulated site: the page text a read gets, and a failed
// request with its reason when the site refuses, errs, stalls or floods.
#include <gtest/gtest.h>

#include <string>

#include "gavelhawk/site/detail.h"
#include "platform/text/gbk.h"
#include "sim/auction_sim.h"
#include "site/fetch.h"

namespace {

using namespace gavelhawk::site;
using namespace ::site;
using platform::http::CurlTransport;
using platform::text::Utf8ToGbk;

constexpr std::int64_t kNow = 1386012345678;

class FetchSim : public ::testing::Test {
 protected:
  void SetUp() override {
    server.Start();
    base = server.BaseUrl();
    server.SetClock(kNow, false);
  }

  sim::Auction Lot(std::int64_t id, std::string title) {
    sim::Auction a;
    a.id = id;
    a.title = std::move(title);
    a.listPrice = 1999;
    a.lowerOffset = 5;
    a.higherOffset = 50;
    a.startMs = kNow - 600000;
    a.endMs = kNow + 125000;
    return a;
  }

  sim::Server server;
  std::string base;
};

TEST_F(FetchSim, DetailPageArrivesAsGbkWithoutCrLf) {
  server.AddAuction(Lot(1001, "联想 ThinkPad X1 笔记本"));
  CurlTransport t(SiteHttpOptions());
  std::string raw = t.Get(base + DetailPath(1001)).body;
  ASSERT_NE(raw.find("\r\n"), std::string::npos);

  std::string page = FetchPage(t, base + DetailPath(1001));
  EXPECT_TRUE(IsDetailPage(page));
  EXPECT_EQ(page.find("\r\n"), std::string::npos);
  EXPECT_NE(page.find(Utf8ToGbk("<dt>京东价</dt><dd>1999.00</dd>")), std::string::npos);
  AuctionDetail d = ReadDetail(page);
  EXPECT_EQ(d.title, Utf8ToGbk("联想 ThinkPad X1 笔记本"));
  EXPECT_EQ(d.lower, 5);
  EXPECT_EQ(d.higher, 50);
  EXPECT_EQ(ReadEndTime(page) - ReadNowMil(page), 125000);
}

TEST_F(FetchSim, TitleAcrossThePieceBoundaryComesThroughWhole) {
  // A title of 700 Chinese characters spans byte 2048 of the answer; the
  // ASCII prefix moves the boundary through each byte of one character.
  std::string chinese;
  for (int i = 0; i < 700; ++i) chinese += "拍";
  bool splitSeen = false;
  CurlTransport t(SiteHttpOptions());
  for (int shift = 0; shift < 3; ++shift) {
    std::string title = std::string(shift, 'A') + chinese;
    server.AddAuction(Lot(2000 + shift, title));
    std::string raw = t.Get(base + DetailPath(2000 + shift)).body;
    ASSERT_GT(raw.size(), 2048u);
    if ((static_cast<unsigned char>(raw[2048]) & 0xC0) == 0x80) splitSeen = true;

    std::string page = FetchPage(t, base + DetailPath(2000 + shift));
    EXPECT_EQ(ReadDetail(page).title, Utf8ToGbk(title)) << "shift " << shift;
    EXPECT_EQ(page.find('?'), std::string::npos) << "shift " << shift;
  }
  EXPECT_TRUE(splitSeen);
}

TEST_F(FetchSim, CharacterGbkLacksBecomesQuestionMark) {
  server.AddAuction(Lot(1002, "한국 Galaxy S24"));
  CurlTransport t(SiteHttpOptions());
  EXPECT_EQ(ReadDetail(FetchPage(t, base + DetailPath(1002))).title, "?? Galaxy S24");
}

TEST_F(FetchSim, SiteSeesTheGbkAgentOnOneConnection) {
  CurlTransport t(SiteHttpOptions());
  for (int i = 0; i < 3; ++i) FetchPage(t, base + DetailPath(kClockDealId));
  auto log = server.Log();
  ASSERT_EQ(log.size(), 3u);
  for (const auto& e : log) {
    EXPECT_EQ(e.userAgent, "\xBE\xA9\xB6\xAB");
    EXPECT_EQ(e.connection, log[0].connection);
    EXPECT_EQ(e.path, "/detail/3333333");
  }
}

TEST_F(FetchSim, UnknownAuctionIsNoPageAndAnErrorPageIsAFailedRequest) {
  CurlTransport t(SiteHttpOptions());
  const PageResult missing = FetchPageChecked(t, base + DetailPath(77), PageDeadline());
  EXPECT_TRUE(missing.missing);
  EXPECT_FALSE(missing.failed);
  EXPECT_EQ(missing.text, "");

  server.AddFault({sim::FaultKind::Status500, "/detail/", 1});
  const PageResult busy = FetchPageChecked(t, base + DetailPath(kClockDealId), PageDeadline());
  EXPECT_TRUE(busy.failed);
  EXPECT_EQ(busy.error, "HTTP 500");
  EXPECT_EQ(busy.text, "") << "the site's error page is never read as a page";
}

TEST_F(FetchSim, EmptyAnswerIsEmptyText) {
  server.AddFault({sim::FaultKind::Empty, "/detail/", 1});
  CurlTransport t(SiteHttpOptions());
  EXPECT_EQ(FetchPage(t, base + DetailPath(kClockDealId)), "");
}

TEST_F(FetchSim, RefusedConnectionIsEmptyText) {
  std::string gone = base;
  server.Stop();
  CurlTransport t(SiteHttpOptions());
  EXPECT_EQ(FetchPage(t, gone + DetailPath(kClockDealId)), "");
  EXPECT_EQ(ReadNowMil(FetchPage(t, gone + DetailPath(kClockDealId))), 0);
}

TEST_F(FetchSim, StalledServerIsEmptyTextEvenAfterPartOfThePage) {
  sim::Fault stall{sim::FaultKind::Stall, "/detail/", 1};
  stall.stallMs = 30000;
  server.AddFault(stall);
  auto o = SiteHttpOptions();
  o.stallTimeout = std::chrono::milliseconds(1000);
  CurlTransport t(o);
  EXPECT_EQ(FetchPage(t, base + DetailPath(kClockDealId)), "");
  // The site recovers; so does the transport.
  EXPECT_TRUE(IsDetailPage(FetchPage(t, base + DetailPath(kClockDealId))));
}

TEST_F(FetchSim, TricklingAnswerEndsAtTheDeadlineAsAFailedRequest) {
  // Ten bytes a second never trips the stall time-out; only the deadline ends it.
  sim::Fault trickle{sim::FaultKind::Trickle, "/json/paimai/bid_records", 2};
  trickle.trickleEveryMs = 100;
  server.AddFault(trickle);
  CurlTransport t(SiteHttpOptions());
  const std::string url = base + BidRecordsPath(1001);
  const platform::http::Response raw = t.GetWithin(url, std::chrono::milliseconds(400));
  EXPECT_FALSE(raw.ok);
  EXPECT_TRUE(raw.timedOut);
  const PageResult read = FetchPageChecked(t, url, std::chrono::milliseconds(400));
  EXPECT_TRUE(read.failed);
  EXPECT_EQ(read.error.rfind("time-out", 0), 0u) << read.error;
  // The next answer comes whole again.
  EXPECT_FALSE(FetchPageChecked(t, url, std::chrono::milliseconds(400)).failed);
}

TEST_F(FetchSim, OversizedAnswerIsCutOffAndAFailedRequest) {
  sim::Fault huge{sim::FaultKind::Huge, "/detail/", 1};
  huge.hugeBytes = 16u << 20;
  server.AddFault(huge);
  auto o = SiteHttpOptions();
  o.maxBytes = 1u << 20;
  CurlTransport t(o);
  const PageResult page = FetchPageChecked(t, base + DetailPath(kClockDealId), PageDeadline());
  EXPECT_TRUE(page.failed);
  EXPECT_EQ(page.error, "answer larger than 1048576 bytes");
  EXPECT_EQ(page.text, "");
}

TEST_F(FetchSim, GarbageAnswerReadsAsNothingUseful) {
  server.AddFault({sim::FaultKind::Garbage, "/detail/", 1});
  CurlTransport t(SiteHttpOptions());
  std::string page = FetchPage(t, base + DetailPath(kClockDealId));
  // 3000 random bytes: every malformed byte is one '?', nothing grows.
  EXPECT_FALSE(page.empty());
  EXPECT_LE(page.size(), 3000u);
  ReadDetail(page);
  ReadOpening(page);
}

}  // namespace
