// 开卖抢拍 / 取消开卖抢: the delay after the opening, the bid at the typed
// price, and the caption and enable states of the two buttons.
#include "window_fixture.h"

namespace snipetest {
namespace {

class OpenSnipe : public WindowTest {
 protected:
  void Arm(std::int64_t id, int price, int lag) {
    Type(CMainDlg::IDC_OPENDEALID, QString::number(id));
    Type(CMainDlg::IDC_OPENPRICE, QString::number(price));
    Type(CMainDlg::IDC_OPENLAG, QString::number(lag));
    Press(CMainDlg::IDC_OPENSNIPE);
  }
  // An auction that opens `opensInMs` after the site's now (negative: past).
  void Opening(std::int64_t id, std::int64_t opensInMs) {
    sim::Auction a = Auction(id, 0, 3600000);
    a.startMs = kT0 + opensInMs;
    server.AddAuction(a);
  }
  QString Caption() { return dlg->Button(CMainDlg::IDC_OPENSNIPE)->text(); }
  bool ArmEnabled() { return dlg->Button(CMainDlg::IDC_OPENSNIPE)->isEnabled(); }
  bool CancelEnabled() { return dlg->Button(CMainDlg::IDC_CANCELOPEN)->isEnabled(); }
  bool Done() { return Caption() != U("等待抢拍"); }
};

TEST_F(OpenSnipe, IdleAtStart) {
  EXPECT_EQ(U("开卖抢拍"), Caption());
  EXPECT_TRUE(ArmEnabled());
  EXPECT_FALSE(CancelEnabled());
  EXPECT_EQ(QString("3333333"), Field(CMainDlg::IDC_OPENDEALID));
  EXPECT_EQ(QString("0"), Field(CMainDlg::IDC_OPENPRICE));
  EXPECT_EQ(QString("100"), Field(CMainDlg::IDC_OPENLAG));
}

TEST_F(OpenSnipe, WaitsLagAfterTheOpeningThenCancelKeepsTheCaption) {
  Opening(1001, 5000);
  Arm(1001, 66, 100);
  ASSERT_TRUE(server.WaitForRequests("/detail/1001", 1));
  EXPECT_EQ(U("等待抢拍"), Caption());
  EXPECT_FALSE(ArmEnabled());
  EXPECT_TRUE(CancelEnabled());

  Press(CMainDlg::IDC_CANCELOPEN);
  EXPECT_EQ(U("等待抢拍"), Caption());
  EXPECT_TRUE(ArmEnabled());
  EXPECT_FALSE(CancelEnabled());
  QTest::qWait(200);  // the page read and the engine have had their say
  EXPECT_TRUE(Bids().empty());
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(OpenSnipe, PassedOpeningIsRefused) {
  SetIEMode(true);
  Opening(1002, -200);
  Arm(1002, 66, 100);
  ASSERT_TRUE(WaitUntil([&] { return Caption() == U("开卖抢拍"); }));
  auto boxes = Boxes();
  ASSERT_EQ(1u, boxes.size());
  EXPECT_EQ(U("该商品不可抢拍"), boxes[0].text);
  EXPECT_EQ(U("开卖抢拍"), Caption());
  // Stays locked until 取消开卖抢.
  EXPECT_FALSE(ArmEnabled());
  EXPECT_TRUE(CancelEnabled());
  QTest::qWait(20);
  EXPECT_TRUE(Bids().empty());
  Press(CMainDlg::IDC_CANCELOPEN);
  EXPECT_TRUE(ArmEnabled());
  EXPECT_FALSE(CancelEnabled());
}

TEST_F(OpenSnipe, UnreadablePageLeavesOnlyTheLag) {
  SetIEMode(true);
  server.AddFault({sim::FaultKind::Empty, "/detail/1003", 1});
  Opening(1003, 5000);
  Arm(1003, 66, 100);
  ASSERT_TRUE(WaitUntil([&] { return Done(); }));
  EXPECT_TRUE(Boxes().empty());
  // The auction has not opened yet: the site refuses, the caption says so.
  EXPECT_EQ(U("抢拍失败"), Caption());
  EXPECT_EQ(std::vector<std::string>{BidTarget(1003, 66)}, Bids());
}

TEST_F(OpenSnipe, FiresWithTheTypedPriceAndShowsTheOutcome) {
  SetIEMode(true);
  Opening(1004, -50);  // opened 50 ms ago; lag 100 leaves 50 ms
  Arm(1004, 66, 100);
  ASSERT_TRUE(WaitUntil([&] { return Done(); }));
  EXPECT_EQ(U("抢拍成功"), Caption());
  EXPECT_EQ(std::vector<std::string>{BidTarget(1004, 66)}, Bids());
  EXPECT_EQ(66, server.GetAuction(1004)->bids.back().price);
  // Done keeps 1033 locked until 取消开卖抢.
  EXPECT_FALSE(ArmEnabled());
  EXPECT_TRUE(CancelEnabled());
  EXPECT_TRUE(Boxes().empty());

  Press(CMainDlg::IDC_CANCELOPEN);
  server.ForceBidCode(460);
  Arm(1004, 67, 100);
  ASSERT_TRUE(WaitUntil([&] { return Done(); }));
  EXPECT_EQ(U("抢拍失败"), Caption());
  EXPECT_EQ(2u, Bids().size());
}

TEST_F(OpenSnipe, WithoutIEModeTheBrowserGetsTheBid) {
  Opening(1005, -50);
  Arm(1005, 66, 100);
  ASSERT_TRUE(WaitUntil([&] { return Done(); }));
  EXPECT_EQ(U("抢拍结束"), Caption());
  EXPECT_EQ(std::vector<std::string>{Url(BidTarget(1005, 66))}, opener.urls);
  EXPECT_TRUE(Bids().empty());
}

}  // namespace
}  // namespace snipetest
