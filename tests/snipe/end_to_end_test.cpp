// Snipes left to run by themselves against the simulated site's running
// clock, while the rest of the program keeps the site busy; and what the
// window does while it reads.
#include <QDateTime>
#include <QLabel>
#include <QTemporaryDir>
#include <QTimer>
#include <atomic>
#include <thread>

#include "gavelhawk/search/crawl.h"
#include "tallyglass/db/history_db.h"
#include "window_fixture.h"

namespace snipetest {
namespace {

using EndToEnd = WindowTest;

TEST_F(EndToEnd, OneBidOfTheRightAmountArrivesBeforeClosing) {
  SetIEMode(true);
  server.SetClock(kT0, /*running=*/true);
  // Closes 6 s from now; with 1000 ms preparation the bid is due about 3 s
  // from now.
  Auction(2001, 10, 6000);
  AddSnipe(2001, 40, 2, 1000);
  ASSERT_EQ(0, List().last);
  ASSERT_TRUE(Armed(0));
  // Someone else bids while the snipe waits: the amount follows the site.
  QTimer::singleShot(1000, [this] {
    const std::int64_t at = server.Now();
    server.UpdateAuction(2001, [at](sim::Auction& a) { a.bids.push_back({"bob", 25, at}); });
  });
  ASSERT_TRUE(WaitUntil([&] { return Finished(0); }));

  auto bids = server.LogFor("/json/paimai/bid?");
  ASSERT_EQ(1u, bids.size());
  EXPECT_EQ(BidTarget(2001, 27), bids[0].target);
  EXPECT_LT(bids[0].siteMs, kT0 + 6000);
  EXPECT_EQ(U("出价成功"), State(0));
  sim::Auction after = *server.GetAuction(2001);
  EXPECT_EQ("guest", after.bids.back().buyer);
  EXPECT_EQ(27, after.bids.back().price);
  // The bid path: one records read, then the bid.
  auto records = server.LogFor(RecordsTarget(2001));
  ASSERT_GE(records.size(), 1u);
  EXPECT_LE(records[0].siteMs, bids[0].siteMs);
}

TEST_F(EndToEnd, StaysOnTimeWhileAnotherPageTricklesAndACrawlRuns) {
  SetIEMode(true);
  server.SetClock(kT0, /*running=*/true);
  Auction(2010, 10, 7000);
  // Listing pages of 300 ms each for a crawl on another thread, and the
  // detail page of another auction that trickles in at 2 bytes a second.
  for (int k = 0; k < 40; ++k) Auction(2100 + k, 50, 600000);
  server.AddFault([] {
    sim::Fault f{sim::FaultKind::Slow, "/paimai/", -1};
    f.delayMs = 300;
    return f;
  }());
  server.AddFault({sim::FaultKind::Trickle, "/detail/2011", -1});
  Auction(2011, 10, 600000);
  AddSnipe(2010, 40, 2, 1000);
  ASSERT_TRUE(Armed(0));

  std::atomic<bool> stop{false};
  platform::http::CurlTransport t(::site::SiteHttpOptions());
  std::thread crawl([&] {
    gavelhawk::search::CrawlHooks hooks;
    hooks.fetch = [&](const std::string& path) { return ::site::FetchPage(t, Url(path)); };
    hooks.maxDiscount = [] { return 1.0; };
    hooks.stopRequested = [&] { return stop.load(); };
    while (!stop) gavelhawk::search::Crawl({}, hooks);
  });
  // The second row's reads trickle; the window stays with the user.
  Type(CMainDlg::IDC_DEALID, "2011");
  Press(CMainDlg::IDC_AUTOBID);
  EXPECT_TRUE(dlg->SnipeReadRunning());
  EXPECT_FALSE(dlg->Button(CMainDlg::IDC_AUTOBID)->isEnabled());

  ASSERT_TRUE(WaitUntil([&] { return Finished(0); }));
  stop = true;
  t.Cancel(true);
  crawl.join();
  const auto bids = server.LogFor("/json/paimai/bid?");
  ASSERT_EQ(1u, bids.size());
  EXPECT_EQ(BidTarget(2010, 12), bids[0].target);
  EXPECT_LT(bids[0].siteMs, kT0 + 7000);
  EXPECT_EQ(U("出价成功"), State(0));
  EXPECT_TRUE(dlg->SnipeReadRunning());  // the trickle is still being read
  EXPECT_GT(Count("/paimai/"), 0u);
}

TEST_F(EndToEnd, ReadsRunOffTheWindowAndASecondPressWaits) {
  SetIEMode(true);
  Auction(2020, 10, 600000);
  server.AddFault([] {
    sim::Fault f{sim::FaultKind::Slow, "/detail/2020", 1};
    f.delayMs = 1500;
    return f;
  }());
  Type(CMainDlg::IDC_DEALID, "2020");
  Type(CMainDlg::IDC_MAXPRICE, "50");  // above the current 10: no question
  Press(CMainDlg::IDC_AUTOBID);
  // Back at once: the row comes when the page has been read.
  EXPECT_EQ(-1, List().last);
  EXPECT_TRUE(dlg->SnipeReadRunning());
  // Another press of either button is refused while the read runs.
  dlg->OnAutoBid();
  dlg->OnModifySnipe();
  Settle();
  EXPECT_EQ(0, List().last);
  EXPECT_TRUE(dlg->Button(CMainDlg::IDC_AUTOBID)->isEnabled());
  // One add: the detail page twice, nothing more.
  EXPECT_EQ(2u, Count("/detail/2020"));
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(EndToEnd, BadFieldsStopTheCommandAfterOneMessage) {
  SetIEMode(true);
  Auction(2030, 10, 600000);
  struct Case {
    int button;
    int field;
    const char* typed;
    const char* message;
  };
  const std::vector<Case> cases = {
      {CMainDlg::IDC_AUTOBID, CMainDlg::IDC_MAXPRICE, "abc", "请输入一个整数。"},
      {CMainDlg::IDC_AUTOBID, CMainDlg::IDC_MAXPRICE, "0", "最高出价和加价幅度必须大于0"},
      {CMainDlg::IDC_AUTOBID, CMainDlg::IDC_INCREMENT, "-3", "最高出价和加价幅度必须大于0"},
      {CMainDlg::IDC_MODIFY, CMainDlg::IDC_PREPTIME, "1.5", "请输入一个整数。"},
      {CMainDlg::IDC_MODIFY, CMainDlg::IDC_INCREMENT, "0", "最高出价和加价幅度必须大于0"},
      {CMainDlg::IDC_OPENSNIPE, CMainDlg::IDC_OPENLAG, "x", "请输入一个整数。"},
      {CMainDlg::IDC_AUTOBID, CMainDlg::IDC_GROUP, "x", "请输入一个整数。"},
      {CMainDlg::IDC_MODIFY, CMainDlg::IDC_GROUP, "-1", "抢拍组必须是不小于0的整数（0表示不分组）"},
  };
  AddSnipe(2030, 50, 1, 1000);
  ClickRow(0);
  for (const Case& c : cases) {
    Type(CMainDlg::IDC_DEALID, "2030");
    Type(CMainDlg::IDC_MAXPRICE, "50");
    Type(CMainDlg::IDC_INCREMENT, "1");
    Type(CMainDlg::IDC_PREPTIME, "1000");
    Type(CMainDlg::IDC_OPENLAG, "100");
    Type(CMainDlg::IDC_GROUP, "0");
    Type(c.field, QString::fromUtf8(c.typed));
    server.ClearLog();
    Boxes();
    Press(c.button);
    QTest::qWait(100);
    EXPECT_EQ(QStringList{U(c.message)}, Texts(Boxes())) << c.typed;
    if (c.field == CMainDlg::IDC_GROUP) {
      EXPECT_EQ(dlg->GetDlgItem(c.field), dlg->focusWidget()) << c.typed;
    }
    EXPECT_TRUE(server.Log().empty()) << c.typed;
    EXPECT_EQ(U("开卖抢拍"), dlg->Button(CMainDlg::IDC_OPENSNIPE)->text()) << c.typed;
  }
  EXPECT_EQ(50, List().Row(0).nMaxPrice);
  EXPECT_EQ(1, List().Row(0).nIncrement);
}

TEST_F(EndToEnd, FailedReadIsANetworkErrorNotAMissingAuction) {
  SetIEMode(true);
  Auction(2040, 10, 600000);
  struct Case {
    sim::FaultKind kind;
    const char* starts;
  };
  for (const Case& c :
       {Case{sim::FaultKind::Status500, "网络错误：HTTP 500"}, Case{sim::FaultKind::Refuse, "网络错误："}}) {
    server.AddFault({c.kind, "/detail/2040", 1});
    AddSnipe(2040, 50, 1, 1000);
    const QStringList texts = Texts(Boxes());
    ASSERT_EQ(1, texts.size()) << c.starts;
    EXPECT_TRUE(texts[0].startsWith(U(c.starts))) << texts[0].toStdString();
    EXPECT_EQ(-1, List().last);
  }
  // A page that is not there is still "no such auction".
  AddSnipe(2041, 50, 1, 1000);
  EXPECT_EQ(QStringList{U("商品不存在或拍卖已结束")}, Texts(Boxes()));
}

TEST_F(EndToEnd, TheCeilingShowsWhatTheSameItemSoldForInTheLast30Days) {
  QTemporaryDir dir;
  qunsetenv("TALLYGLASS_DATABASE");
  qputenv("TALLYGLASS_DATA_DIR", dir.path().toUtf8());
  tallyglass::db::HistoryDb db;
  ASSERT_TRUE(db.Open(dir.path(), QString())) << db.LastError().toStdString();
  const auto today = static_cast<std::int32_t>(QDateTime::currentMSecsSinceEpoch() / 86'400'000);
  std::vector<tallyglass::db::HistoryRecord> rows;
  // Auction 861's title sold twice lately (median of an even count) and once
  // long ago; 862's title never.
  for (const auto& [price, ago] : std::vector<std::pair<int, int>>{{100, 0}, {300, 29}, {900, 31}})
    rows.push_back({static_cast<std::int32_t>(rows.size()) + 1, QString::fromUtf8("测试商品 861"), price,
                    QStringLiteral("buyer"), 0, today - ago});
  std::size_t saved = 0;
  QString error;
  ASSERT_TRUE(tallyglass::db::AppendBatch(&db, rows, &saved, &error)) << error.toStdString();
  db.Close();
  auto* label = qobject_cast<QLabel*>(dlg->GetDlgItem(CMainDlg::IDC_HISTORY));
  ASSERT_NE(label, nullptr);
  const std::vector<std::pair<std::int64_t, const char*>> cases = {{861, "历史成交：中位¥200，2次（近30天）"},
                                                                   {862, "历史成交：无"}};
  for (const auto& [id, shown] : cases) {
    Auction(id, 50, 600000);
    AddSnipe(id, 500, 1, 1000);
    ASSERT_TRUE(WaitUntil([&] { return !label->text().isEmpty(); })) << id;
    EXPECT_EQ(QString::fromUtf8(shown), label->text()) << id;
  }
  qunsetenv("TALLYGLASS_DATA_DIR");
}

}  // namespace
}  // namespace snipetest
