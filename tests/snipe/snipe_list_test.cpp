// The snipe list: duplicates, the ten-row limit, delete and clear, and what
// each leaves armed.
#include "window_fixture.h"

namespace snipetest {
namespace {

using SnipeList = WindowTest;
using platform::dialog::Answer;
using platform::dialog::Buttons;

TEST_F(SnipeList, TenRowsAtMostButAListedAuctionCanStillBeChanged) {
  SetIEMode(true);
  for (int i = 0; i < 11; ++i) Auction(900 + i, 10, 600000 + i * 1000);
  for (int i = 0; i < 10; ++i) AddSnipe(900 + i, 50, 1, 1000);
  ASSERT_EQ(9, List().last);
  EXPECT_TRUE(Boxes().empty());

  server.ClearLog();
  AddSnipe(910, 50, 1, 1000);
  auto boxes = Boxes();
  ASSERT_EQ(1u, boxes.size());
  EXPECT_EQ(U("商品列表过多，超出上限"), boxes[0].text);
  EXPECT_EQ(Buttons::Ok, boxes[0].buttons);
  EXPECT_EQ(9, List().last);
  EXPECT_TRUE(server.Log().empty());  // refused before any read

  // The duplicate question comes first, so a full list can still be changed.
  platform::dialog::QueueAnswer(Answer::Cancel);
  AddSnipe(905, 99, 1, 1000);
  boxes = Boxes();
  ASSERT_EQ(1u, boxes.size());
  EXPECT_EQ(U("该商品已存在,是否修改参数?"), boxes[0].text);
  EXPECT_EQ(U("注意"), boxes[0].caption);
  EXPECT_EQ(Buttons::OkCancel, boxes[0].buttons);
  EXPECT_EQ(50, List().Row(5).nMaxPrice);
  EXPECT_TRUE(server.Log().empty());

  platform::dialog::QueueAnswer(Answer::Ok);
  AddSnipe(905, 99, 1, 1000);
  EXPECT_EQ(QStringList{U("该商品已存在,是否修改参数?")}, Texts(Boxes()));
  EXPECT_EQ(99, List().Row(5).nMaxPrice);
  EXPECT_EQ(QString("99"), Shown(5, 3));
  EXPECT_EQ(9, List().last);
  EXPECT_EQ(605000 - 3000, Due(5));
  // The changed row is the one 删除商品 takes next.
  Press(CMainDlg::IDC_DELETE);
  EXPECT_EQ(QString("906"), Shown(5, 0));
  EXPECT_EQ(8, List().last);
}

TEST_F(SnipeList, RefusedAuctionsAddNothing) {
  SetIEMode(true);
  sim::Auction over = Auction(920, 10, 600000);
  over.endMs = kT0 - 1;
  server.AddAuction(over);
  AddSnipe(920, 50, 1, 1000);
  AddSnipe(921, 50, 1, 1000);  // no such auction
  EXPECT_EQ(QStringList({U("商品不存在或拍卖已结束"), U("商品不存在或拍卖已结束")}), Texts(Boxes()));
  EXPECT_EQ(-1, List().last);
  EXPECT_EQ(0, View()->model()->rowCount());
  EXPECT_EQ(0u, Count("/detail/3333333"));  // nothing was armed
}

TEST_F(SnipeList, AddedRowKeepsWhatTheUserTypedAndTheSiteBounds) {
  SetIEMode(true);
  sim::Auction a = Auction(922, 10, 600000);
  a.lowerOffset = 5;
  a.higherOffset = 50;
  server.AddAuction(a);
  AddSnipe(922, 300, 80, 1500);
  ASSERT_EQ(0, List().last);
  const SnipeItem& row = List().Row(0);
  EXPECT_EQ(922, row.nDealId);
  EXPECT_EQ(300, row.nMaxPrice);
  EXPECT_EQ(50, row.nIncrement);
  EXPECT_EQ(1500, row.nPrepTime);
  EXPECT_EQ(kT0 + 600000, row.nEndTime);
  EXPECT_EQ(U("测试商品 922"), Shown(0, 1));
  EXPECT_EQ(QString("50"), Field(CMainDlg::IDC_INCREMENT));
  EXPECT_EQ(600000 - 1500 - 2000, Due(0));
}

TEST_F(SnipeList, DeleteFirstOfThreeMovesBothWaitingRowsAndTheirTimers) {
  SetIEMode(true);
  Auction(930, 10, 60000);
  Auction(931, 10, 120000);
  Auction(932, 10, 180000);
  AddSnipe(930, 50, 1, 1000);
  AddSnipe(931, 60, 2, 1000);
  AddSnipe(932, 70, 3, 1000);
  ClickRow(0);
  Press(CMainDlg::IDC_DELETE);
  Settle();

  ASSERT_EQ(1, List().last);
  EXPECT_EQ(931, List().Row(0).nDealId);
  EXPECT_EQ(60, List().Row(0).nMaxPrice);
  EXPECT_EQ(932, List().Row(1).nDealId);
  EXPECT_EQ(70, List().Row(1).nMaxPrice);
  EXPECT_EQ(U("准备竞拍"), State(0));
  EXPECT_EQ(U("准备竞拍"), State(1));
  EXPECT_EQ(117000, Due(0));
  EXPECT_EQ(177000, Due(1));
  EXPECT_EQ(2, View()->model()->rowCount());
  EXPECT_EQ(QString("931"), Shown(0, 0));
  // The fields show the row that moved last; the selection is past the end.
  EXPECT_EQ(QString("932"), Field(CMainDlg::IDC_DEALID));
  Press(CMainDlg::IDC_DELETE);
  Press(CMainDlg::IDC_MODIFY);
  EXPECT_EQ(1, List().last);
  EXPECT_TRUE(Bids().empty());
}

TEST_F(SnipeList, DeleteNeverRepeatsABidThatWentOut) {
  SetIEMode(true);
  Auction(940, 10, 60000);
  Auction(941, 10, 2500);  // bids at once
  Auction(942, 10, 180000);
  AddSnipe(940, 50, 1, 1000);
  AddSnipe(941, 50, 1, 1000);
  ASSERT_TRUE(WaitUntil([&] { return Finished(1); }));
  AddSnipe(942, 50, 1, 1000);
  ASSERT_EQ(U("出价成功"), State(1));

  ClickRow(0);
  Press(CMainDlg::IDC_DELETE);
  Settle();
  ASSERT_EQ(1, List().last);
  // The finished row moved up with its outcome and is not armed again.
  EXPECT_EQ(941, List().Row(0).nDealId);
  EXPECT_EQ(U("出价成功"), State(0));
  EXPECT_EQ(U("出价成功"), Shown(0, 2));
  EXPECT_TRUE(Finished(0));
  // The waiting row moved up armed.
  EXPECT_EQ(942, List().Row(1).nDealId);
  EXPECT_EQ(U("准备竞拍"), State(1));
  EXPECT_EQ(177000, Due(1));
  QTest::qWait(50);  // give any wrongly armed bid its chance
  EXPECT_EQ(std::vector<std::string>{BidTarget(941, 11)}, Bids());
}

TEST_F(SnipeList, DeleteLastRowStopsOnlyItsTimers) {
  SetIEMode(true);
  Auction(950, 10, 60000);
  Auction(951, 10, 120000);
  AddSnipe(950, 50, 1, 1000);
  AddSnipe(951, 50, 1, 1000);
  ClickRow(1);
  server.ClearLog();
  Press(CMainDlg::IDC_DELETE);
  EXPECT_EQ(0, List().last);
  EXPECT_EQ(57000, Due(0));
  EXPECT_TRUE(server.Log().empty());  // nothing moved, nothing read
  EXPECT_EQ(1, View()->model()->rowCount());
}

TEST_F(SnipeList, ClearStopsEveryRowButNotTheOpeningSnipe) {
  SetIEMode(true);
  Auction(960, 10, 60000);
  Auction(961, 10, 120000);
  sim::Auction opening = Auction(962, 0, 600000);
  opening.startMs = kT0 - 50;  // opened just now; lag 100 fires in 50 ms
  server.AddAuction(opening);
  AddSnipe(960, 50, 1, 1000);
  AddSnipe(961, 50, 1, 1000);
  ClickRow(0);
  Type(CMainDlg::IDC_OPENDEALID, "962");
  Type(CMainDlg::IDC_OPENPRICE, "88");
  Type(CMainDlg::IDC_OPENLAG, "100");
  Press(CMainDlg::IDC_OPENSNIPE);
  Press(CMainDlg::IDC_CLEAR);

  EXPECT_EQ(-1, List().last);
  EXPECT_EQ(0, View()->model()->rowCount());
  ASSERT_TRUE(WaitUntil([&] { return !Bids().empty(); }));
  EXPECT_EQ(std::vector<std::string>{BidTarget(962, 88)}, Bids());
  ASSERT_TRUE(WaitUntil([&] { return dlg->Button(CMainDlg::IDC_OPENSNIPE)->text() == U("抢拍成功"); }));

  // With no rows, change and delete do nothing (the first row was picked
  // before the list was cleared).
  Press(CMainDlg::IDC_MODIFY);
  Press(CMainDlg::IDC_DELETE);
  EXPECT_EQ(-1, List().last);
  // Only the current price read before each was armed.
  EXPECT_EQ(2u, Count(RecordsTarget(960)) + Count(RecordsTarget(961)));
}

TEST_F(SnipeList, NothingSelectedChangesNothing) {
  SetIEMode(true);
  Auction(970, 10, 60000);
  AddSnipe(970, 50, 1, 1000);  // adding picks no row
  server.ClearLog();
  Type(CMainDlg::IDC_MAXPRICE, "5");
  Press(CMainDlg::IDC_MODIFY);
  Press(CMainDlg::IDC_DELETE);
  EXPECT_EQ(0, List().last);
  EXPECT_EQ(50, List().Row(0).nMaxPrice);
  EXPECT_TRUE(server.Log().empty());
}

}  // namespace
}  // namespace snipetest
