// 自动出价 and the closing-snipe timers against auction-sim (its clock frozen
// unless a test says otherwise): the delays asked for, the bid that reaches
// the site when a timer fires, and the state text the row then shows.
#include "gavelhawk/snipe/plan.h"
#include "window_fixture.h"

namespace snipetest {
namespace {

using ClosingSnipe = WindowTest;
constexpr int kStateColumn = 2;
constexpr int kRemainColumn = 6;

TEST_F(ClosingSnipe, DelaysCountFromTheSiteClock) {
  SetIEMode(true);
  Auction(801, 10, 60000);
  Auction(802, 10, 30000);
  Auction(803, 10, 2500);
  AddSnipe(801, 50, 1, 1000);
  AddSnipe(802, 50, 1, 1000);
  EXPECT_EQ(57000, Delay(0));
  EXPECT_EQ(17000, Delay(100));
  EXPECT_EQ(27000, Delay(1));
  EXPECT_FALSE(Running(101));  // the warm-up would have been 13 s late
  EXPECT_EQ(U("1分0秒"), Shown(0, kRemainColumn));
  EXPECT_EQ(U("0分30秒"), Shown(1, kRemainColumn));
  EXPECT_EQ(U("准备竞拍"), Shown(0, kStateColumn));
  EXPECT_TRUE(Bids().empty());

  // 2500 ms before closing with 1000 ms preparation: at once, no warm-up.
  AddSnipe(803, 50, 1, 1000);
  EXPECT_FALSE(Running(102));
  ASSERT_TRUE(WaitUntil([&] { return Finished(2); }));
  EXPECT_EQ(std::vector<std::string>{BidTarget(803, 11)}, Bids());
  EXPECT_EQ(U("出价成功"), State(2));
  EXPECT_EQ(U("出价成功"), Shown(2, kStateColumn));
  EXPECT_EQ(U("已结束"), Shown(2, kRemainColumn));
  EXPECT_FALSE(Running(2));
  // The other rows still wait.
  EXPECT_TRUE(Running(0));
  EXPECT_TRUE(Running(1));
  EXPECT_EQ(U("准备竞拍"), State(0));
}

TEST_F(ClosingSnipe, EveryAnswerGivesItsStateText) {
  SetIEMode(true);
  Auction(810, 10, 2500);
  const std::vector<std::pair<int, const char*>> codes = {
      {200, "出价成功"},
      {400, "出价失败(400)"},
      {403, "出价失败(未登录)"},
      {450, "出价失败(已结束)"},
      {452, "出价失败(未开始)"},
      {453, "出价失败(您是最高价)"},
      {457, "出价失败(无拍卖资格)"},
      {461, "出价失败(不得高于最高加价)"},
      {462, "出价失败(不能超过京东价)"},
      {463, "出价失败(463)"},
      {468, "出价失败(4秒内不可连续出价)"},
      {4201, "出价失败(同时在拍商品已超5个)"},
      {4203, "出价失败(在拍或未支付的商品总数不得超过5个)"},
      {599, "出价失败(599)"},
  };
  for (const auto& [code, text] : codes) {
    Press(CMainDlg::IDC_CLEAR);
    server.ForceBidCode(code);
    AddSnipe(810, 50, 1, 1000);
    ASSERT_TRUE(WaitUntil([&] { return Finished(0); })) << code;
    EXPECT_EQ(U(text), State(0)) << code;
    EXPECT_EQ(U(text), Shown(0, kStateColumn)) << code;
  }
  EXPECT_EQ(codes.size(), Bids().size());
  EXPECT_TRUE(Boxes().empty());  // a timer reports only in the row
}

TEST_F(ClosingSnipe, UnreadableSiteTimeLeavesTheRowUnarmedAndSaysSo) {
  SetIEMode(true);
  Auction(812, 10, 60000);
  // Both reads of the clock page fail: the row must not wait for a bid that
  // will never come, nor bid at once.
  server.AddFault({sim::FaultKind::Empty, "/detail/3333333", 2});
  AddSnipe(812, 50, 1, 1000);
  EXPECT_FALSE(Running(0));
  EXPECT_FALSE(Running(100));
  EXPECT_EQ(U("未能读取站点时间"), Shown(0, kStateColumn));
  EXPECT_TRUE(Bids().empty());

  // One failed read is retried, and the row is armed as usual.
  server.AddFault({sim::FaultKind::Empty, "/detail/3333333", 1});
  Press(CMainDlg::IDC_CLEAR);
  AddSnipe(812, 50, 1, 1000);
  EXPECT_EQ(57000, Delay(0));
  EXPECT_EQ(U("准备竞拍"), Shown(0, kStateColumn));
}

TEST_F(ClosingSnipe, EmptyBidAnswerReadsAsCodeZero) {
  SetIEMode(true);
  Auction(811, 10, 2500);
  server.AddFault({sim::FaultKind::Empty, "/json/paimai/bid?", 1});
  AddSnipe(811, 50, 1, 1000);
  ASSERT_TRUE(WaitUntil([&] { return Finished(0); }));
  EXPECT_EQ(U("出价失败(0)"), State(0));
}

TEST_F(ClosingSnipe, NotAboveCurrentIsSplitByCurrentVersusCeiling) {
  SetIEMode(true);
  // Someone bid at the same moment: the site refuses our 20.
  Auction(812, 18, 2500);
  server.ForceBidCode(460);
  AddSnipe(812, 20, 3, 1000);
  ASSERT_TRUE(WaitUntil([&] { return Finished(0); }));
  EXPECT_EQ(U("出价失败(同时有人出价更高,20元)"), State(0));

  // Current already at the ceiling: the snipe still bids the ceiling, and the
  // site's own rules refuse it.
  Auction(813, 20, 2500);
  AddSnipe(813, 20, 3, 1000);
  ASSERT_TRUE(WaitUntil([&] { return Finished(1); }));
  EXPECT_EQ(U("出价失败(已超最高价)"), State(1));
  EXPECT_EQ((std::vector<std::string>{BidTarget(812, 20), BidTarget(813, 20)}), Bids());
}

TEST_F(ClosingSnipe, ChangingARowToAnEndedAuctionBidsAtOnce) {
  SetIEMode(true);
  Auction(814, 10, 600000);
  sim::Auction over = Auction(815, 10, 600000);
  over.endMs = kT0 - 60000;
  server.AddAuction(over);
  AddSnipe(814, 50, 1, 1000);
  ClickRow(0);
  Type(CMainDlg::IDC_DEALID, "815");
  Press(CMainDlg::IDC_MODIFY);
  ASSERT_TRUE(WaitUntil([&] { return Finished(0); }));
  EXPECT_EQ(std::vector<std::string>{BidTarget(815, 11)}, Bids());
  EXPECT_EQ(U("出价失败(已结束)"), State(0));
  EXPECT_FALSE(Running(100));
}

TEST_F(ClosingSnipe, ChangingAFinishedRowArmsItAgain) {
  SetIEMode(true);
  Auction(816, 10, 2500);
  AddSnipe(816, 50, 1, 1000);
  ASSERT_TRUE(WaitUntil([&] { return Finished(0); }));
  server.UpdateAuction(816, [](sim::Auction& a) { a.endMs = kT0 + 90000; });
  ClickRow(0);
  Type(CMainDlg::IDC_MAXPRICE, "70");
  Press(CMainDlg::IDC_MODIFY);
  EXPECT_EQ(U("准备竞拍"), State(0));
  EXPECT_EQ(70, dlg->m_snipes[0].nMaxPrice);
  EXPECT_EQ(87000, Delay(0));
  EXPECT_EQ(47000, Delay(100));
  EXPECT_EQ(1u, Bids().size());
}

TEST_F(ClosingSnipe, WithoutIEModeTheBidGoesToTheBrowser) {
  Auction(817, 12, 2500);
  AddSnipe(817, 20, 3, 1000);
  ASSERT_TRUE(WaitUntil([&] { return Finished(0); }));
  EXPECT_EQ(std::vector<std::string>{Url(BidTarget(817, 15))}, opener.urls);
  EXPECT_TRUE(Bids().empty());
  EXPECT_EQ(U("出价结束"), State(0));
  EXPECT_EQ(U("已结束"), Shown(0, kRemainColumn));
  EXPECT_EQ(1u, server.LogFor("/json/paimai/bid_records?dealId=817").size());
}

TEST_F(ClosingSnipe, IEModeIsReadWhenTheTimerFires) {
  SetIEMode(true);
  Auction(818, 12, 4000);  // lead - 2000 = 1000 ms
  AddSnipe(818, 20, 3, 1000);
  ASSERT_EQ(1000, Delay(0));
  SetIEMode(false);
  ASSERT_TRUE(WaitUntil([&] { return Finished(0); }));
  EXPECT_EQ(U("出价结束"), State(0));
  EXPECT_EQ(1u, opener.urls.size());
  EXPECT_TRUE(Bids().empty());
}

TEST_F(ClosingSnipe, WarmUpOpensTheWayAndChangesNothing) {
  SetIEMode(true);
  // Bid timer 40 000 ms away: the warm-up is due at once.
  Auction(819, 10, 43000);
  AddSnipe(819, 50, 1, 1000);
  EXPECT_EQ(40000, Delay(0));
  ASSERT_TRUE(WaitUntil([&] { return !Bids().empty(); }));
  EXPECT_EQ(std::vector<std::string>{BidTarget(819, 2)}, Bids());
  EXPECT_FALSE(Running(100));
  EXPECT_TRUE(Running(0));
  EXPECT_EQ(U("准备竞拍"), State(0));
  EXPECT_EQ(43000, dlg->m_snipes[0].nRemain);
  EXPECT_TRUE(server.LogFor("/json/paimai/bid_records").empty());
}

TEST_F(ClosingSnipe, ClosingBeyondOneTimerWakesToArmAgainWithoutBidding) {
  SetIEMode(true);
  const std::int64_t thirtyDays = 30LL * 24 * 3600 * 1000;
  Auction(820, 10, thirtyDays);
  AddSnipe(820, 50, 1, 1000);
  EXPECT_EQ(gavelhawk::snipe::kMaxTimerDelayMs, Delay(0));
  EXPECT_FALSE(Running(100));
  EXPECT_EQ(U("43200分0秒"), Shown(0, kRemainColumn));

  // Twenty-four days later the timer wakes the row.
  server.AdvanceClock(gavelhawk::snipe::kMaxTimerDelayMs);
  server.ClearLog();
  dlg->OnTimer(0);
  EXPECT_TRUE(Bids().empty());
  EXPECT_TRUE(server.LogFor("/json/paimai/bid_records").empty());
  EXPECT_EQ(U("准备竞拍"), State(0));
  EXPECT_EQ(thirtyDays - gavelhawk::snipe::kMaxTimerDelayMs - 3000, Delay(0));
  EXPECT_TRUE(Running(100));
}

}  // namespace
}  // namespace snipetest
