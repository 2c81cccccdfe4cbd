// The site's bid rules, each code as the bidding program reads it, and what
// the bid records show afterwards.
#include <gtest/gtest.h>

#include "support.h"

using namespace simtest;

namespace {

constexpr std::int64_t kId = 1234567;

class Bids : public ::testing::Test {
 protected:
  void SetUp() override {
    server.SetClock(kT0, false);
    server.Start();
    sim::Auction a = Lot(kId, "Apple iPhone 13 128G 午夜色 国行", 60000);
    a.listPrice = 1000;
    a.startPrice = 10;
    a.lowerOffset = 5;
    a.higherOffset = 100;
    a.bids = {{"bob", 50, kT0 - 20000}};
    server.AddAuction(a);
  }
  std::string Raw(const std::string& query, const std::string& cookie = "pin=alice") {
    Answer a = client.Get(server.BaseUrl() + "/json/paimai/bid?" + query, cookie);
    EXPECT_EQ(a.result, CURLE_OK);
    EXPECT_EQ(a.status, 200);
    return a.body;
  }
  int Bid(std::int64_t id, const std::string& price, const std::string& cookie = "pin=alice") {
    return BidCode(Raw("dealId=" + std::to_string(id) + "&price=" + price, cookie));
  }
  std::int64_t Current(std::int64_t id = kId) {
    return Number(
        PageText(client.Get(server.BaseUrl() + "/json/paimai/bid_records?dealId=" + std::to_string(id)).body),
        "price", 7, ".");
  }

  sim::Server server;
  Client client;
};

TEST_F(Bids, AcceptedBidIsRecordedAndAnsweredSuccess) {
  std::string answer = Raw("dealId=1234567&price=55");
  EXPECT_GT(answer.find("success"), 0u);
  EXPECT_NE(answer.find("success"), std::string::npos);
  EXPECT_EQ(Current(), 55);
  auto a = server.GetAuction(kId);
  ASSERT_TRUE(a);
  ASSERT_EQ(a->bids.size(), 2u);
  EXPECT_EQ(a->bids.back().buyer, "alice");
  EXPECT_EQ(a->bids.back().price, 55);
  EXPECT_EQ(a->bids.back().atMs, kT0);
}

TEST_F(Bids, RefusalsNeverSaySuccess) {
  for (const char* q : {"dealId=1234567&price=50", "dealId=7654321&price=60", "dealId=1234567&price=x"}) {
    std::string answer = Raw(q);
    EXPECT_EQ(answer.find("success"), std::string::npos) << answer;
    EXPECT_NE(answer.find("\"message\""), std::string::npos);
  }
}

TEST_F(Bids, PriceMissingOrNotPositiveIs400) {
  EXPECT_EQ(BidCode(Raw("dealId=1234567")), 400);
  EXPECT_EQ(BidCode(Raw("dealId=1234567&price=")), 400);
  EXPECT_EQ(Bid(kId, "0"), 400);
  EXPECT_EQ(Bid(kId, "-5"), 400);
  EXPECT_EQ(Bid(kId, "-0.5"), 400);
  EXPECT_EQ(Current(), 50);
}

TEST_F(Bids, PriceNotAWholeNumberIs463) {
  EXPECT_EQ(Bid(kId, "55.5"), 463);
  EXPECT_EQ(Bid(kId, "abc"), 463);
  EXPECT_EQ(Bid(kId, "1e3"), 463);
  EXPECT_EQ(Bid(kId, "55%20"), 463);
  EXPECT_EQ(Current(), 50);
  EXPECT_EQ(Bid(kId, "055"), 200);  // leading zeros are still a whole number
}

TEST_F(Bids, ForcedCodesComeAfterThePriceChecksAndAreNotRecorded) {
  server.ForceBidCode(4201);
  server.ForceBidCode(200);
  EXPECT_EQ(Bid(kId, "abc"), 463);  // price checks first: the queue is untouched
  EXPECT_EQ(Bid(kId, "55"), 4201);
  EXPECT_EQ(Current(), 50);
  EXPECT_EQ(Bid(kId, "2"), 200);  // forced success, whatever the rules say
  EXPECT_EQ(Current(), 50);
  EXPECT_EQ(Bid(kId, "2"), 460);  // queue empty: the rules again

  server.ForceBidCode(4203, 2);
  server.RequireLoginCookie("thor", "secret");
  EXPECT_EQ(Bid(kId, "55", ""), 4203);  // before the login check
  EXPECT_EQ(Bid(kId, "55", ""), 4203);
  EXPECT_EQ(Bid(kId, "55", ""), 403);
}

TEST_F(Bids, LoginCookieRequired403) {
  server.RequireLoginCookie("thor", "secret");
  EXPECT_EQ(Bid(kId, "55", ""), 403);
  EXPECT_EQ(Bid(kId, "55", "pin=alice"), 403);
  EXPECT_EQ(Bid(kId, "55", "pin=alice; thor=wrong"), 403);
  EXPECT_EQ(Bid(kId, "55", "pin=alice; xthor=secret"), 403);
  EXPECT_EQ(Bid(kId, "55", "pin=alice; thor=secret2"), 403);
  EXPECT_EQ(Current(), 50);
  EXPECT_EQ(Bid(kId, "55", "pin=alice; thor=secret"), 200);
  EXPECT_EQ(server.GetAuction(kId)->bids.back().buyer, "alice");

  server.ClearLoginRequirement();
  EXPECT_EQ(Bid(kId, "60", ""), 200);
  EXPECT_EQ(server.GetAuction(kId)->bids.back().buyer, "guest");
}

TEST_F(Bids, BidderNameComesFromThePinCookiePercentDecoded) {
  EXPECT_EQ(Bid(kId, "55", "a=1; pin=%E5%BC%A0%E4%B8%89; b=2"), 200);
  EXPECT_EQ(server.GetAuction(kId)->bids.back().buyer, "张三");
  EXPECT_EQ(Bid(kId, "60", "pin=%E5%BC%A0%E4%B8%89"), 453);
}

TEST_F(Bids, OverOrUnknownIs450) {
  EXPECT_EQ(Bid(7654321, "55"), 450);
  EXPECT_EQ(BidCode(Raw("price=55")), 450);
  EXPECT_EQ(BidCode(Raw("dealId=abc&price=55")), 450);
  server.SetClock(kT0 + 60000, false);  // exactly the closing time
  EXPECT_EQ(Bid(kId, "55"), 450);
  server.SetClock(kT0 + 59999, false);
  EXPECT_EQ(Bid(kId, "55"), 200);

  server.UpdateAuction(kId, [](sim::Auction& a) { a.statusOverride = 2; });
  EXPECT_EQ(Bid(kId, "65", "pin=carol"), 450);
  // An override cannot reopen an auction past its closing time.
  server.UpdateAuction(kId, [](sim::Auction& a) { a.statusOverride = 0; });
  server.SetClock(kT0 + 70000, false);
  EXPECT_EQ(Bid(kId, "65", "pin=carol"), 450);
}

TEST_F(Bids, NotStartedIs452) {
  server.SetClock(kT0 - 3600001, false);
  EXPECT_EQ(Bid(kId, "55"), 452);
  server.SetClock(kT0 - 3600000, false);  // the opening instant
  EXPECT_EQ(Bid(kId, "55"), 200);
  server.UpdateAuction(kId, [](sim::Auction& a) { a.statusOverride = 1; });
  EXPECT_EQ(Bid(kId, "70", "pin=carol"), 452);
}

TEST_F(Bids, HighestBidderIs453) {
  EXPECT_EQ(Bid(kId, "60", "pin=bob"), 453);
  EXPECT_EQ(Bid(kId, "5000", "pin=bob"), 453);  // before the list-price check
  EXPECT_EQ(Current(), 50);
}

TEST_F(Bids, AboveListPriceIs462) {
  server.UpdateAuction(kId, [](sim::Auction& a) { a.bids = {{"bob", 950, kT0 - 1000}}; });
  EXPECT_EQ(Bid(kId, "1001"), 462);
  EXPECT_EQ(Bid(kId, "1000"), 200);
  // Without a list price there is no such limit, only the largest increment.
  server.UpdateAuction(kId, [](sim::Auction& a) {
    a.listPrice = 0;
    a.bids = {{"bob", 950, kT0 - 1000}};
  });
  EXPECT_EQ(Bid(kId, "1050", "pin=carol"), 200);
}

TEST_F(Bids, NotAboveCurrentOrBelowTheSmallestIncrementIs460) {
  EXPECT_EQ(Bid(kId, "50"), 460);
  EXPECT_EQ(Bid(kId, "49"), 460);
  EXPECT_EQ(Bid(kId, "54"), 460);  // current 50 + increment 5
  EXPECT_EQ(Current(), 50);
  EXPECT_EQ(Bid(kId, "55"), 200);
}

TEST_F(Bids, WithoutBidsAnyPriceFromTheStartPricePasses) {
  server.UpdateAuction(kId, [](sim::Auction& a) { a.bids.clear(); });
  EXPECT_EQ(Bid(kId, "9"), 460);
  EXPECT_EQ(Bid(kId, "10"), 200);
  EXPECT_EQ(Current(), 10);
  server.UpdateAuction(kId, [](sim::Auction& a) { a.bids.clear(); });
  EXPECT_EQ(Bid(kId, "111", "pin=carol"), 461);  // start 10 + largest increment 100
  EXPECT_EQ(Bid(kId, "110", "pin=carol"), 200);
}

TEST_F(Bids, IncrementAboveTheLargestIs461) {
  EXPECT_EQ(Bid(kId, "151"), 461);
  EXPECT_EQ(Bid(kId, "150"), 200);
}

TEST_F(Bids, TwoAcceptedBidsOfOneBidderWithinFourSiteSecondsIs468) {
  sim::Auction other = Lot(1234568, "第二件", 600000);
  server.AddAuction(other);
  EXPECT_EQ(Bid(kId, "55"), 200);
  server.AdvanceClock(3999);
  EXPECT_EQ(Bid(1234568, "20"), 468);               // any auction counts
  EXPECT_EQ(Bid(1234568, "20", "pin=carol"), 200);  // another bidder does not
  server.AdvanceClock(1);
  EXPECT_EQ(Bid(1234568, "25"), 200);
  // A refused bid does not start the interval.
  server.AdvanceClock(4000);
  EXPECT_EQ(Bid(kId, "56", "pin=dave"), 460);
  EXPECT_EQ(Bid(kId, "60", "pin=dave"), 200);
}

TEST_F(Bids, RuleOrderWhenSeveralApply) {
  // Unknown price beats over; login beats over; over beats not started.
  server.SetClock(kT0 + 70000, false);
  EXPECT_EQ(Bid(kId, "abc"), 463);
  server.RequireLoginCookie("thor", "secret");
  EXPECT_EQ(Bid(kId, "55", "pin=alice"), 403);
  EXPECT_EQ(Bid(kId, "55", "pin=alice; thor=secret"), 450);
  // Above the list price beats a too large increment.
  server.SetClock(kT0, false);
  EXPECT_EQ(Bid(kId, "1001", "pin=alice; thor=secret"), 462);
}

}  // namespace

TEST_F(Bids, FaultsOfTheBidAnswerSayWhetherTheSiteTookIt) {
  sim::Fault redirect{sim::FaultKind::Redirect, "/json/paimai/bid?", 1};
  redirect.location = "/json/paimai/bid?dealId=1234567&price=1999";
  sim::Fault silent{sim::FaultKind::Silent, "/json/paimai/bid?", 1};
  struct Case {
    sim::Fault fault;
    CURLcode result;
    long status;
    bool taken;  // the bid stands in the records
    const char* logged;
  };
  const std::vector<Case> cases = {
      {redirect, CURLE_OK, 302, false, ""},
      {{sim::FaultKind::DropAfterTaken, "/json/paimai/bid?", 1},
       CURLE_GOT_NOTHING,
       0,
       true,
       "(taken, connection dropped)"},
      {silent, CURLE_OPERATION_TIMEDOUT, 0, false, ""},
  };
  std::int64_t price = 55, current = 50;
  for (const Case& c : cases) {
    SCOPED_TRACE(price);
    server.ClearLog();
    server.AddFault(c.fault);
    Client fresh;  // a new connection: libcurl never resends on it
    const Answer a =
        fresh.Get(server.BaseUrl() + "/json/paimai/bid?dealId=1234567&price=" + std::to_string(price),
                  "pin=alice", "", {}, 300);
    EXPECT_EQ(c.result, a.result);
    EXPECT_EQ(c.status, a.status);
    if (c.status == 302) {
      EXPECT_NE(a.headers.find("Location: " + redirect.location), std::string::npos);
    }
    if (c.taken) current = price;
    EXPECT_EQ(current, Current());
    const auto log = server.LogFor("/json/paimai/bid?");
    ASSERT_EQ(1u, log.size());
    EXPECT_EQ(0u, log[0].body.rfind(c.logged, 0)) << log[0].body;
    price += 10;
  }
}
