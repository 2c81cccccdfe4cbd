// One snipe left to run by itself against the simulated site's running clock.
#include <QTimer>

#include "window_fixture.h"

namespace snipetest {
namespace {

using EndToEnd = WindowTest;

TEST_F(EndToEnd, OneBidOfTheRightAmountArrivesBeforeClosing) {
  SetIEMode(true);
  server.SetClock(kT0, /*running=*/true);
  // Closes 6 s from now; with 1000 ms preparation the bid timer is due
  // about 3 s from now.
  Auction(2001, 10, 6000);
  AddSnipe(2001, 40, 2, 1000);
  ASSERT_EQ(0, dlg->m_nSnipeLast);
  ASSERT_TRUE(Running(0));
  // Someone else bids while the snipe waits: the amount follows the site.
  QTimer::singleShot(1000, [this] {
    const std::int64_t at = server.Now();
    server.UpdateAuction(2001, [at](sim::Auction& a) { a.bids.push_back({"bob", 25, at}); });
  });
  ASSERT_TRUE(WaitUntil([&] { return Finished(0); }, 20000));

  auto bids = server.LogFor("/json/paimai/bid?");
  ASSERT_EQ(1u, bids.size());
  EXPECT_EQ(BidTarget(2001, 27), bids[0].target);
  EXPECT_LT(bids[0].siteMs, kT0 + 6000);
  EXPECT_EQ(U("出价成功"), State(0));
  sim::Auction after = *server.GetAuction(2001);
  EXPECT_EQ("guest", after.bids.back().buyer);
  EXPECT_EQ(27, after.bids.back().price);
  // The bid path: one records read, then the bid.
  auto records = server.LogFor("/json/paimai/bid_records?dealId=2001");
  ASSERT_EQ(1u, records.size());
  EXPECT_LE(records[0].siteMs, bids[0].siteMs);
}

}  // namespace
}  // namespace snipetest
