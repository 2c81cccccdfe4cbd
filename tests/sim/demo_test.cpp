// The demo scenario gives both programs something to find: running lots in
// every category, bargains, long conditions, an opening soon, and a closed
// history with and without winners.
#include "sim/demo.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "sim/pages.h"
#include "support.h"

using namespace simtest;

namespace {

constexpr std::int64_t kMinute = 60000, kDay = 86400000;

class Demo : public ::testing::Test {
 protected:
  void SetUp() override {
    server.SetClock(kT0, false);
    server.LoadDemoScenario();
    for (const auto& a : server.Auctions()) {
      int s = sim::pages::StatusAt(a, kT0);
      (s == 0 ? running : s == 1 ? upcoming : closed).push_back(a);
    }
  }
  sim::Server server;
  std::vector<sim::Auction> running, upcoming, closed;
};

bool HasChinese(const std::string& s) {
  return std::any_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}
bool HasAsciiLetter(const std::string& s) {
  return std::any_of(s.begin(), s.end(),
                     [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); });
}

TEST_F(Demo, RunningLotsCloseWithinHalfAnHourInEveryCategory) {
  EXPECT_GE(running.size(), 20u);
  EXPECT_LE(running.size(), 30u);
  std::set<int> categories;
  int bargains = 0, longConditions = 0, mixedTitles = 0, withBids = 0;
  for (const auto& a : running) {
    EXPECT_GE(a.endMs - kT0, 2 * kMinute) << a.id;
    EXPECT_LE(a.endMs - kT0, 30 * kMinute) << a.id;
    EXPECT_GE(a.id, 1000000);
    EXPECT_LE(a.id, 9999999);
    EXPECT_GT(a.listPrice, 0);
    EXPECT_LE(sim::pages::CurrentPrice(a), a.listPrice);
    categories.insert(a.category);
    if (sim::pages::CurrentPrice(a) * 2 < a.listPrice) ++bargains;
    if (Gbk(a.condition).size() > 8) ++longConditions;
    if (HasChinese(a.title) && HasAsciiLetter(a.title)) ++mixedTitles;
    if (!a.bids.empty()) ++withBids;
    for (const auto& b : a.bids) EXPECT_LE(b.atMs, kT0);
  }
  for (int cat : {4000, 1000, 2000, 3000, 6000, 7000}) EXPECT_TRUE(categories.count(cat)) << cat;
  EXPECT_GE(bargains, 3);
  EXPECT_GE(longConditions, 2);
  EXPECT_LT(longConditions, static_cast<int>(running.size()) / 2);
  EXPECT_GE(mixedTitles, 10);
  EXPECT_GE(withBids, 10);
}

TEST_F(Demo, OneLotOpensInAboutTwoMinutes) {
  ASSERT_EQ(upcoming.size(), 1u);
  EXPECT_GE(upcoming[0].startMs - kT0, kMinute);
  EXPECT_LE(upcoming[0].startMs - kT0, 3 * kMinute);
}

TEST_F(Demo, ClosedHistoryForTheHistoryWalk) {
  ASSERT_EQ(closed.size(), 200u);
  std::int64_t lowest = closed.front().id, highest = 0;
  int winners = 0, unsold = 0;
  for (const auto& a : closed) {
    lowest = std::min(lowest, a.id);
    highest = std::max(highest, a.id);
    EXPECT_LT(a.endMs, kT0);
    EXPECT_GE(a.endMs, kT0 - 20 * kDay);
    (a.bids.empty() ? unsold : winners)++;
  }
  EXPECT_EQ(lowest, sim::demo::kFirstClosedId);
  EXPECT_GT(highest - lowest + 1, 200);  // a few ids have no page
  EXPECT_GE(winners, 150);
  EXPECT_GE(unsold, 10);
  // The walk meets running lots right after the closed ones.
  for (const auto& a : running) EXPECT_GT(a.id, highest);
  // Closed lots spread over the days.
  std::set<std::int64_t> days;
  for (const auto& a : closed) days.insert(a.endMs / kDay);
  EXPECT_GE(days.size(), 15u);
}

TEST_F(Demo, PagesOfTheScenarioReadBack) {
  server.Start();
  Client client;
  const sim::Auction& sold =
      *std::find_if(closed.begin(), closed.end(), [](const sim::Auction& a) { return !a.bids.empty(); });
  std::string records = PageText(
      client.Get(server.BaseUrl() + "/json/paimai/bid_records?dealId=" + std::to_string(sold.id)).body);
  EXPECT_EQ(After(records, "trxBuyerName", 14, ","), Gbk("\"" + sim::pages::Highest(sold)->buyer + "\""));
  const sim::Auction& unsold =
      *std::find_if(closed.begin(), closed.end(), [](const sim::Auction& a) { return a.bids.empty(); });
  records = PageText(
      client.Get(server.BaseUrl() + "/json/paimai/bid_records?dealId=" + std::to_string(unsold.id)).body);
  EXPECT_EQ(After(records, "trxBuyerName", 14, ","), "null");

  std::string listing = PageText(client.Get(server.BaseUrl() + "/paimai/0-0-0-0-0-0-1-0-0-0-1.html").body);
  EXPECT_EQ(Count(listing, "resultDeals"), server.ListingPageSize());
}

TEST_F(Demo, OtherBiddersFollowTheSiteRules) {
  std::mt19937 rng(7);
  int made = 0;
  for (const auto& a : running) {
    for (int i = 0; i < 20; ++i) {
      auto bid = sim::demo::OtherBid(a, kT0, rng);
      if (!bid) continue;
      ++made;
      const sim::Bid* top = sim::pages::Highest(a);
      const std::int64_t current = sim::pages::CurrentPrice(a);
      if (top) {
        EXPECT_NE(bid->buyer, top->buyer);
        EXPECT_GE(bid->price, current + a.lowerOffset);
      } else {
        EXPECT_GE(bid->price, a.startPrice);
      }
      EXPECT_LE(bid->price - current, a.higherOffset);
      EXPECT_LE(bid->price, a.listPrice);
      EXPECT_EQ(bid->atMs, kT0);
    }
  }
  EXPECT_GT(made, 0);
  for (const auto& a : closed) EXPECT_FALSE(sim::demo::OtherBid(a, kT0, rng)) << a.id;
  EXPECT_FALSE(sim::demo::OtherBid(upcoming[0], kT0, rng));
}

}  // namespace
