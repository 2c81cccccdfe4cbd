// 手动出价 against auction-sim: the amount that reaches the site, the message
// for each answer, the measured preparation time, the login and browser paths.
// The controller alone where only the answer counts; the window where the
// fields, the browser or the box show it.
#include "gavelhawk/site/manual_bid.h"

#include "window_fixture.h"

namespace snipetest {
namespace {

class ManualBid : public WindowTest {
 protected:
  void Fill(std::int64_t id, int ceiling, int increment) {
    Type(CMainDlg::IDC_DEALID, QString::number(id));
    Type(CMainDlg::IDC_MAXPRICE, QString::number(ceiling));
    Type(CMainDlg::IDC_INCREMENT, QString::number(increment));
  }
  // Presses 手动出价 and serves the window until the bid has reported back.
  void Bid() {
    Press(CMainDlg::IDC_MANUALBID);
    ASSERT_TRUE(WaitUntil([this] { return !dlg->ManualBid().Busy(); }));
  }
  // One bid (IE mode) through the manual bid controller: its answer's message.
  std::string Run(std::int64_t id, int ceiling, int increment) {
    const gavelhawk::site::ManualBidRequest r{server.BaseUrl(),
                                              static_cast<std::int32_t>(id),
                                              ceiling,
                                              increment,
                                              true,
                                              [this] {
                                                const LocalTime t = dlg->Services().localTime();
                                                return gavelhawk::site::ClockReading{t.second, t.millisecond};
                                              },
                                              {}};
    std::optional<gavelhawk::site::ManualBidAnswer> answer;
    bid.Start(r, [&](const auto& out) { answer = gavelhawk::site::AnswerOf(out); });
    EXPECT_TRUE(WaitUntil([&] { return answer.has_value(); }));
    return (last = answer.value_or(gavelhawk::site::ManualBidAnswer{})).message;
  }
  gavelhawk::site::ManualBidController bid{[this] { return dlg->Services().newTransport(); }};
  gavelhawk::site::ManualBidAnswer last;
};

TEST_F(ManualBid, AmountIsCurrentPlusIncrementCappedAtTheCeiling) {
  SetIEMode(true);
  Auction(701, 12, 600000);
  Auction(702, 19, 600000);
  EXPECT_EQ("出价成功", Run(701, 20, 3));
  server.AdvanceClock(5000);  // the site takes one bid per user every 4 s
  EXPECT_EQ("出价成功", Run(702, 20, 3));
  EXPECT_EQ((std::vector<std::string>{BidTarget(701, 15), BidTarget(702, 20)}), Bids());
  EXPECT_EQ(15, server.GetAuction(701)->bids.back().price);
}

TEST_F(ManualBid, CurrentAtTheCeilingIsRefusedWithoutARequest) {
  SetIEMode(true);
  Auction(703, 20, 600000);
  Fill(703, 20, 3);
  Bid();
  EXPECT_TRUE(Bids().empty());
  auto boxes = Boxes();
  ASSERT_EQ(1u, boxes.size());
  EXPECT_EQ(U("出价失败,当前出价已过高"), boxes[0].text);
  EXPECT_EQ(U("Gavelhawk"), boxes[0].caption);
  EXPECT_EQ(platform::dialog::Buttons::Ok, boxes[0].buttons);
}

TEST_F(ManualBid, UnknownOrEndedAuctionIsRefusedBeforeAnyBidRead) {
  SetIEMode(true);
  sim::Auction over = Auction(704, 5, 600000);
  over.endMs = kT0 - 1000;
  server.AddAuction(over);
  for (std::int64_t id : {704, 999999}) {
    Fill(id, 50, 1);
    Bid();
    EXPECT_EQ(QStringList{U("商品不存在或拍卖已结束")}, Texts(Boxes())) << id;
  }
  EXPECT_TRUE(server.LogFor("/json/paimai/").empty());
  // The fields keep what the user typed.
  EXPECT_EQ(QString("999999"), Field(CMainDlg::IDC_DEALID));
  EXPECT_EQ(QString("50"), Field(CMainDlg::IDC_MAXPRICE));
}

TEST_F(ManualBid, IncrementIsBoundedBySiteAndShown) {
  SetIEMode(true);
  sim::Auction a = Auction(705, 10, 600000);
  a.lowerOffset = 5;
  a.higherOffset = 50;
  server.AddAuction(a);
  Fill(705, 100, 1);
  Bid();
  EXPECT_EQ(std::vector<std::string>{BidTarget(705, 15)}, Bids());
  EXPECT_EQ(QString("5"), Field(CMainDlg::IDC_INCREMENT));
  EXPECT_EQ(U("测试商品 705"), Field(CMainDlg::IDC_TITLE));
}

TEST_F(ManualBid, ElapsedTimeOfBothRequestsBecomesThePreparationTime) {
  SetIEMode(true);
  Auction(706, 10, 600000);
  Fill(706, 100, 1);
  localTimes = {{10, 900}, {11, 150}};
  Bid();
  EXPECT_EQ(QString("250"), Field(CMainDlg::IDC_PREPTIME));

  server.AdvanceClock(5000);
  server.UpdateAuction(706, [](sim::Auction& a) { a.bids.push_back({"bob", 20, kT0}); });
  localTimes = {{59, 800}, {0, 100}};
  Bid();
  EXPECT_EQ(QString("300"), Field(CMainDlg::IDC_PREPTIME));
  EXPECT_EQ(QStringList({U("出价成功"), U("出价成功")}), Texts(Boxes()));
}

TEST_F(ManualBid, FailedBidLeavesThePreparationTime) {
  SetIEMode(true);
  Auction(707, 10, 600000);
  localTimes = {{10, 0}, {20, 0}};
  server.ForceBidCode(468);
  EXPECT_EQ("出价太快,4秒内不可连续出价", Run(707, 100, 1));
  EXPECT_FALSE(last.prepTime.has_value());
}

TEST_F(ManualBid, EveryRefusalCodeShowsItsMessage) {
  SetIEMode(true);
  Auction(708, 10, 600000);
  const std::vector<std::pair<int, const char*>> codes = {
      {400, "请您输入参拍价格(正整数)"},
      {450, "拍卖已结束"},
      {452, "拍卖未开始"},
      {453, "您已是当前最高价"},
      {457, "您暂无拍卖资格"},
      {460, "出价未超目前最高价"},
      {461, "加价不得高于最高加价"},
      {462, "出价不能超过京东价"},
      {463, "参拍价格(正整数)错误"},
      {468, "出价太快,4秒内不可连续出价"},
      {4201, "同时在拍商品超过5个"},
      {4203, "在拍或未支付的商品总数不得超过5个"},
      {501,
       "拍卖失败,请直接在浏览器中操作，查看错误原因。\r\n并失败原因及反馈代码告诉作者，以完善软件。\r\n"
       "反馈代码：501"},
  };
  for (const auto& [code, text] : codes) {
    server.ForceBidCode(code);
    EXPECT_EQ(text, Run(708, 100, 1)) << code;
    EXPECT_FALSE(last.openLogin) << code;
  }
  EXPECT_EQ(codes.size(), Bids().size());
  EXPECT_TRUE(server.GetAuction(708)->bids.size() == 1);  // none of them was taken
}

TEST_F(ManualBid, EmptyAnswerIsAFailureWithCodeZero) {
  SetIEMode(true);
  Auction(709, 10, 600000);
  server.AddFault({sim::FaultKind::Empty, "/json/paimai/bid?", 1});
  EXPECT_EQ(
      "拍卖失败,"
      "请直接在浏览器中操作，查看错误原因。\r\n并失败原因及反馈代码告诉作者，以完善软件。\r\n反馈代码：0",
      Run(709, 100, 1));
}

TEST_F(ManualBid, EmptyRecordsCountAsPriceOne) {
  SetIEMode(true);
  Auction(710, 30, 600000);
  server.AddFault({sim::FaultKind::Empty, "/json/paimai/bid_records", 1});
  server.ForceBidCode(460);
  Run(710, 100, 3);
  EXPECT_EQ(std::vector<std::string>{BidTarget(710, 4)}, Bids());
}

TEST_F(ManualBid, NotLoggedInShowsTheMessageThenTheHomePageInTheLoginBrowser) {
  SetIEMode(true);
  server.RequireLoginCookie("pt_key", "secret");
  Auction(711, 10, 600000);
  Fill(711, 100, 1);
  Bid();
  EXPECT_EQ(QStringList{U("未登录京东")}, Texts(Boxes()));
  EXPECT_EQ(std::vector<std::string>{server.BaseUrl() + "/"}, opener.loginUrls);
  EXPECT_TRUE(opener.urls.empty());

  // Logged in, the same press bids.
  LogIn({{"127.0.0.1", false, "/", false, false, 0, "pt_key", "secret"}});
  Bid();
  EXPECT_EQ(QStringList{U("出价成功")}, Texts(Boxes()));
  EXPECT_EQ(11, server.GetAuction(711)->bids.back().price);
}

TEST_F(ManualBid, WithoutIEModeTheBidGoesToTheBrowserAndNothingIsShown) {
  Auction(712, 12, 600000);
  Fill(712, 20, 3);
  Bid();
  EXPECT_TRUE(Bids().empty());
  EXPECT_EQ(std::vector<std::string>{Url(BidTarget(712, 15))}, opener.urls);
  EXPECT_TRUE(Boxes().empty());
  // The records were still read from the site.
  EXPECT_EQ(1u, server.LogFor("/json/paimai/bid_records?dealId=712").size());
}

TEST_F(ManualBid, BadFieldsStopWithOneMessageBeforeAnyRequest) {
  SetIEMode(true);
  Auction(713, 10, 600000);
  const struct {
    const char* ceiling;
    const char* increment;
    const char* message;
  } cases[] = {
      {"abc", "1", "请输入一个整数。"},
      {"0", "1", "最高出价和加价幅度必须大于0"},
      {"100", "-2", "最高出价和加价幅度必须大于0"},
  };
  for (const auto& c : cases) {
    Type(CMainDlg::IDC_DEALID, "713");
    Type(CMainDlg::IDC_MAXPRICE, U(c.ceiling));
    Type(CMainDlg::IDC_INCREMENT, U(c.increment));
    Bid();
    EXPECT_EQ(QStringList{U(c.message)}, Texts(Boxes())) << c.ceiling << " " << c.increment;
  }
  EXPECT_TRUE(server.Log().empty());
}

TEST_F(ManualBid, FailedRequestIsANetworkErrorWithItsReason) {
  SetIEMode(true);
  Auction(714, 10, 600000);
  const struct {
    sim::FaultKind kind;
    const char* path;
    const char* reason;  // empty: whatever the transport says
    std::size_t bids;    // bid requests sent
  } cases[] = {
      {sim::FaultKind::Status500, "/detail/", "HTTP 500", 0},       // not "no such auction"
      {sim::FaultKind::Refuse, "/json/paimai/bid_records", "", 0},  // no bid without the current price
      {sim::FaultKind::Status500, "/json/paimai/bid?", "HTTP 500", 1},
  };
  for (const auto& c : cases) {
    server.ClearLog();
    // Until cleared: libcurl asks once more when a reused connection drops.
    server.AddFault({c.kind, c.path, -1});
    const QString shown = U(Run(714, 100, 1).c_str());
    server.ClearFaults();
    EXPECT_TRUE(shown.startsWith(U("网络错误："))) << shown.toStdString();
    EXPECT_GT(shown.size(), U("网络错误：").size());
    if (*c.reason) {
      EXPECT_EQ(U("网络错误：") + U(c.reason), shown);
    }
    EXPECT_EQ(c.bids, Bids().size()) << c.path;
  }
  EXPECT_EQ(1u, server.GetAuction(714)->bids.size());  // nothing was taken
}

TEST_F(ManualBid, SecondPressWhileOneIsUnderWayDoesNothing) {
  SetIEMode(true);
  Auction(715, 10, 600000);
  Fill(715, 100, 1);
  sim::Fault slow{sim::FaultKind::Slow, "/json/paimai/bid_records", 1};
  slow.delayMs = 500;
  server.AddFault(slow);
  Press(CMainDlg::IDC_MANUALBID);
  // The window is free again before the bid has gone out; it is over only
  // once the window has been told.
  EXPECT_TRUE(Bids().empty());
  EXPECT_TRUE(dlg->ManualBid().Busy());
  Press(CMainDlg::IDC_MANUALBID);
  ASSERT_TRUE(WaitUntil([this] { return !dlg->ManualBid().Busy(); }));
  EXPECT_EQ(std::vector<std::string>{BidTarget(715, 11)}, Bids());
  EXPECT_EQ(1u, server.LogFor("/detail/715").size());
  EXPECT_EQ(1u, server.LogFor("/json/paimai/bid_records").size());
  EXPECT_EQ(QStringList{U("出价成功")}, Texts(Boxes()));
}

}  // namespace
}  // namespace snipetest
