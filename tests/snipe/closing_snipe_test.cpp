// 自动出价 and the closing snipe against auction-sim (its clock frozen unless
// a test says otherwise): when the engine says each bid is due, the bid that
// reaches the site, the state text the row then shows, and the outcome.
#include "window_fixture.h"

namespace snipetest {
namespace {

using ClosingSnipe = WindowTest;
constexpr int kStateColumn = 2;
constexpr int kRemainColumn = 6;

TEST_F(ClosingSnipe, BidIsDueAtClosingMinusPreparationAndTwoSeconds) {
  SetIEMode(true);
  Auction(801, 10, 60000);
  Auction(802, 10, 30000);
  Auction(803, 10, 2500);
  AddSnipe(801, 50, 1, 1000);
  AddSnipe(802, 50, 1, 1500);
  EXPECT_EQ(57000, Due(0));
  EXPECT_EQ(26500, Due(1));
  // The remaining time is a reading of the estimated site clock.
  EXPECT_GT(List().Row(0).nRemain, 59000);
  EXPECT_LE(List().Row(0).nRemain, 60000);
  EXPECT_EQ(U("准备竞拍"), Shown(0, kStateColumn));
  EXPECT_TRUE(Bids().empty());

  // 2500 ms before closing with 1000 ms preparation: at once.
  AddSnipe(803, 50, 1, 1000);
  ASSERT_TRUE(WaitUntil([&] { return Finished(2); }));
  EXPECT_EQ(std::vector<std::string>{BidTarget(803, 11)}, Bids());
  EXPECT_EQ(U("出价成功"), State(2));
  EXPECT_EQ(U("出价成功"), Shown(2, kStateColumn));
  EXPECT_EQ(U("已结束"), Shown(2, kRemainColumn));
  // The other rows still wait, and nothing of theirs was read.
  EXPECT_TRUE(Armed(0));
  EXPECT_TRUE(Armed(1));
  EXPECT_EQ(U("准备竞拍"), State(0));
  EXPECT_EQ(1u, Count(RecordsTarget(801)));  // only the current price read before arming
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
  EXPECT_TRUE(Boxes().empty());  // the engine reports only in the row
}

TEST_F(ClosingSnipe, MisreadSiteTimeLeavesTheRowUnarmedAndSaysSo) {
  SetIEMode(true);
  Auction(812, 10, 60000);
  const std::string clock = "/detail/3333333";
  struct Case {
    const char* what;
    std::vector<sim::Fault> faults;
    bool armed;
  };
  sim::Fault hourOff{sim::FaultKind::ClockSkew, clock, 1};
  hourOff.skewMs = 3600000;
  sim::Fault fourteenDigits{sim::FaultKind::ClockSkew, clock, 1};
  fourteenDigits.skewMs = 9 * kT0;
  sim::Fault allFourteen = fourteenDigits;
  allFourteen.remaining = -1;
  const std::vector<Case> cases = {
      {"two reads fail", {{sim::FaultKind::Empty, clock, 2}}, false},
      {"one read an hour off", {hourOff}, false},
      {"one read of 14 digits", {fourteenDigits}, false},
      {"every read of 14 digits: closing before now", {allFourteen}, false},
      {"one read fails, two agree", {{sim::FaultKind::Empty, clock, 1}}, true},
  };
  for (const Case& c : cases) {
    Press(CMainDlg::IDC_CLEAR);
    server.ClearFaults();
    for (const sim::Fault& f : c.faults) server.AddFault(f);
    server.ClearLog();
    AddSnipe(812, 50, 1, 1000);
    if (c.armed) {
      EXPECT_TRUE(Armed(0)) << c.what;
      EXPECT_EQ(57000, Due(0)) << c.what;
      EXPECT_EQ(U("准备竞拍"), Shown(0, kStateColumn)) << c.what;
    } else {
      EXPECT_FALSE(Armed(0)) << c.what;
      EXPECT_EQ(U("未能读取站点时间"), Shown(0, kStateColumn)) << c.what;
      EXPECT_EQ(U("已结束"), Shown(0, kRemainColumn)) << c.what;
    }
    EXPECT_EQ(3u, Count(clock)) << c.what;
    EXPECT_EQ(1u, Count(RecordsTarget(812))) << c.what;  // the current price before arming
  }
  EXPECT_TRUE(Bids().empty());
}

TEST_F(ClosingSnipe, FailedRequestsSayNetworkErrorNotASiteCode) {
  SetIEMode(true);
  Auction(811, 10, 2500);
  struct Case {
    sim::Fault fault;
    const char* state;
    std::size_t bidsSent;
  };
  sim::Fault redirect{sim::FaultKind::Redirect, "/json/paimai/bid?", 1};
  redirect.location = BidTarget(811, 1999);
  // Each ends in one state naming the fault, and the bid reaches the site
  // once at most: never again on a redirect or on a new connection.
  const std::vector<Case> cases = {
      {{sim::FaultKind::Empty, "/json/paimai/bid?", 1}, "网络错误：回答不是站点的 JSON", 1},
      {{sim::FaultKind::Garbage, "/json/paimai/bid?", 1}, "网络错误：回答不是站点的 JSON", 1},
      {redirect, "网络错误：HTTP 302 转向（未跟随）", 1},
      {{sim::FaultKind::Refuse, "/json/paimai/bid?", 1}, "网络错误：连接在请求发出后断开（未重发）", 1},
      {{sim::FaultKind::DropAfterTaken, "/json/paimai/bid?", 1},
       "网络错误：连接在请求发出后断开（未重发）",
       1},
      {{sim::FaultKind::Status500, "/json/paimai/bid?", 1}, "网络错误：HTTP 500", 1},
      // Without the current price there is nothing sound to bid (the first
      // failed read is the one before arming).
      {{sim::FaultKind::Status500, "/json/paimai/bid_records", 2}, "网络错误：HTTP 500", 0},
      {{sim::FaultKind::Garbage, "/json/paimai/bid_records", 2}, "网络错误：回答不是站点的 JSON", 0},
      {{sim::FaultKind::Empty, "/json/paimai/bid_records", 2}, "网络错误：回答不是站点的 JSON", 0},
      {{sim::FaultKind::Huge, "/json/paimai/bid_records", 2, 30000, std::size_t{100} << 20},
       "网络错误：回答过大（超过 33554432 字节）",
       0},
  };
  for (const Case& c : cases) {
    Press(CMainDlg::IDC_CLEAR);
    server.ClearLog();
    server.AddFault(c.fault);
    AddSnipe(811, 50, 1, 1000);
    ASSERT_TRUE(WaitUntil([&] { return Finished(0); })) << c.state;
    EXPECT_EQ(U(c.state), State(0)) << c.fault.pathPrefix;
    EXPECT_EQ(c.bidsSent, Bids().size()) << c.fault.pathPrefix;
  }
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(ClosingSnipe, TricklingRecordsEndAtTheDeadline) {
  SetIEMode(true);
  Auction(815, 10, 2500);
  // Both the read before arming and the one before the bid trickle.
  sim::Fault trickle{sim::FaultKind::Trickle, "/json/paimai/bid_records", 2};
  server.AddFault(trickle);
  AddSnipe(815, 50, 1, 1000);
  // The answer would take minutes at 2 bytes a second; the request deadline
  // (3 s) ends it and the row says why.
  ASSERT_TRUE(WaitUntil([&] { return Finished(0); }));
  EXPECT_TRUE(State(0).startsWith(U("网络错误：time-out"))) << State(0).toStdString();
  EXPECT_TRUE(Bids().empty());
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
  platform::dialog::QueueAnswer(platform::dialog::Answer::Ok);  // "当前价 20 已不低于最高出价 20"
  AddSnipe(813, 20, 3, 1000);
  ASSERT_TRUE(WaitUntil([&] { return Finished(1); }));
  EXPECT_EQ(U("出价失败(已超最高价)"), State(1));
  EXPECT_EQ((std::vector<std::string>{BidTarget(812, 20), BidTarget(813, 20)}), Bids());
}

TEST_F(ClosingSnipe, OutcomeAfterClosingSaysWonOrLost) {
  SetIEMode(true);
  // Won: our 11 is the highest record after closing.
  Auction(830, 10, 2500);
  AddSnipe(830, 50, 1, 1000);
  ASSERT_TRUE(WaitUntil([&] { return Finished(0); }));
  EXPECT_EQ(U("出价成功"), State(0));
  // The outcome waits for the records to show the auction over.
  server.AdvanceClock(3000);
  ASSERT_TRUE(WaitUntil([&] { return State(0) != U("出价成功"); }));
  EXPECT_EQ(U("已得标"), Shown(0, kStateColumn));

  // Lost: the site took our 11 but someone else's 40 stands after closing.
  Auction(831, 10, 5500);
  server.ForceBidCode(200);
  AddSnipe(831, 50, 1, 1000);
  ASSERT_TRUE(WaitUntil([&] { return Finished(1); }));
  server.UpdateAuction(831, [](sim::Auction& a) { a.bids.push_back({"bob", 40, kT0}); });
  server.AdvanceClock(3000);
  ASSERT_TRUE(WaitUntil([&] { return State(1) != U("出价成功"); }));
  EXPECT_EQ(U("未得标(成交价40)"), Shown(1, kStateColumn));
  // Each row: one records read before arming, one for the bid, one for the outcome.
  EXPECT_EQ(3u, Count(RecordsTarget(830)));
  EXPECT_EQ(3u, Count(RecordsTarget(831)));
}

TEST_F(ClosingSnipe, ChangingARowToAnEndedAuctionLeavesItUnarmed) {
  SetIEMode(true);
  Auction(814, 10, 600000);
  sim::Auction over = Auction(815, 10, 600000);
  over.endMs = kT0 - 60000;
  server.AddAuction(over);
  AddSnipe(814, 50, 1, 1000);
  ClickRow(0);
  Type(CMainDlg::IDC_DEALID, "815");
  Press(CMainDlg::IDC_MODIFY);
  Settle();
  // A closing time before the site's now is no moment to bid at.
  EXPECT_EQ(U("未能读取站点时间"), State(0));
  EXPECT_TRUE(Bids().empty());
  EXPECT_EQ(1u, Count(RecordsTarget(815)));  // the current price before arming
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
  Settle();
  EXPECT_EQ(U("准备竞拍"), State(0));
  EXPECT_EQ(70, List().Row(0).nMaxPrice);
  EXPECT_EQ(87000, Due(0));
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
  EXPECT_EQ(2u, Count(RecordsTarget(817)));  // before arming, and for the bid
}

TEST_F(ClosingSnipe, IEModeIsReadWhenTheBidIsDue) {
  SetIEMode(true);
  Auction(818, 12, 4500);  // due 1500 ms from now
  AddSnipe(818, 20, 3, 1000);
  ASSERT_EQ(1500, Due(0));
  SetIEMode(false);
  ASSERT_TRUE(WaitUntil([&] { return Finished(0); }));
  EXPECT_EQ(U("出价结束"), State(0));
  EXPECT_EQ(1u, opener.urls.size());
  EXPECT_TRUE(Bids().empty());
}

TEST_F(ClosingSnipe, WarmUpReadsTheRecordsAndNeverBids) {
  SetIEMode(true);
  // At 1 yuan a warm-up bid of 2 would be taken: it must not be a bid.
  Auction(819, 0, 43500);  // bid due in 40 500 ms: the warm-up in 500 ms
  AddSnipe(819, 50, 1, 1000);
  ASSERT_TRUE(server.WaitForRequests(RecordsTarget(819), 2));  // after the one before arming
  // The warm-up also measures the site clock afresh: three reads more.
  ASSERT_TRUE(server.WaitForRequests("/detail/3333333", 6));
  EXPECT_TRUE(Bids().empty());
  EXPECT_TRUE(server.GetAuction(819)->bids.empty());
  EXPECT_EQ(U("准备竞拍"), State(0));
  EXPECT_EQ(40500, Due(0));
}

TEST_F(ClosingSnipe, ClosingWeeksAwayIsArmedWithoutBidding) {
  SetIEMode(true);
  const std::int64_t thirtyDays = 30LL * 24 * 3600 * 1000;
  Auction(820, 10, thirtyDays);
  AddSnipe(820, 50, 1, 1000);
  EXPECT_EQ(thirtyDays - 3000, Due(0));
  EXPECT_EQ(U("准备竞拍"), State(0));
  EXPECT_TRUE(Bids().empty());
  EXPECT_EQ(1u, Count(RecordsTarget(820)));  // only the current price before arming
}

}  // namespace
}  // namespace snipetest
