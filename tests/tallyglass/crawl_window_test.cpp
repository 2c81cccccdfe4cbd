// 更新: the walk over the site's auction ids against auction-sim, pressing
// the real button, with the rows it leaves in the SQLite file.
#include <QTimer>

#include "tests/tallyglass/window_fixture.h"

namespace tgtest {
namespace {

using Crawl = HistoryWindowTest;
using Kind = tallyglass::crawl::AuctionOutcome::Kind;

TEST_F(Crawl, ResumeIdsFrom1000000To10000000) {
  inFlight = 1;  // the requests of the one-at-a-time walk, in order
  // A history exists: no question about an empty one.
  Seed({{999, "旧记录", 100, "u", 1999, kToday - 9}});
  for (std::int32_t id : {999999, 1000000, 10000000, 10000001}) {
    const bool accepted = id == 1000000 || id == 10000000;
    RunningToday(id + 1);
    OpenWindow(id);
    server.ClearLog();
    Press(IDC_UPDATE);
    if (accepted) {
      EXPECT_EQ(Boxes(), std::vector<QString>{QString("更新完成,当前记录ID为%1").arg(id)});
      EXPECT_EQ(Requests("/detail/"), std::vector<std::string>{Detail(id + 1)});
    } else {
      EXPECT_EQ(Boxes(), std::vector<QString>{"数据库不提供自动更新，请联系店主"}) << id;
      EXPECT_TRUE(server.Log().empty()) << id;
    }
    EXPECT_EQ(Button(IDC_UPDATE)->text(), "更新");
    EXPECT_TRUE(Button(IDC_QUERY)->isEnabled());
    dlg.reset();
  }
}

TEST_F(Crawl, WalkThatAppendsNothing) {
  inFlight = 1;
  Unsold(2000001);
  // 2000002 does not exist: a short 404 page.
  Unsold(2000003);
  RunningToday(2000004);
  Sold(2000005, "不会走到这里", 100, "alice");
  OpenWindow(2000000);
  server.ClearLog();
  Press(IDC_UPDATE);
  EXPECT_EQ(Boxes(), std::vector<QString>{"更新完成,当前记录ID为2000000"});
  EXPECT_EQ(ResumeFile(), QByteArray("2000000\r\n"));
  EXPECT_TRUE(Stored().empty());
  EXPECT_EQ(Requests("/detail/"),
            (std::vector<std::string>{Detail(2000001), Detail(2000002), Detail(2000003), Detail(2000004)}));
  EXPECT_EQ(Requests("/json/paimai/bid_records"),
            (std::vector<std::string>{Records(2000001), Records(2000003)}))
      << "no bid records for a missing auction or for the one that ends the walk";
  EXPECT_EQ(HomeReads(), 1) << "today is read again at the start of the walk";
}

TEST_F(Crawl, SoldAuctionsAreStoredAsTheSiteShowsThem) {
  Sold(2000001, "Apple iPhone 5s 16G 银色", 3150, "jd_小明", 5288, 2);
  Unsold(2000002);
  Sold(2000003, "佳能 EOS 5D Mark III 单反", 40000, "li,lei", 21999, 1);
  Unsold(2000004);
  RunningToday(2000005);
  OpenWindow(2000000);

  std::vector<std::pair<QString, bool>> during;
  dlg->Walk().onAuctionHandled = [&](std::int32_t, Kind) {
    during.emplace_back(Button(IDC_UPDATE)->text(), Button(IDC_QUERY)->isEnabled());
  };
  Press(IDC_UPDATE);
  ASSERT_FALSE(during.empty());
  for (const auto& [caption, queryEnabled] : during) {
    EXPECT_EQ(caption, "暂停");
    EXPECT_FALSE(queryEnabled);
  }
  EXPECT_EQ(Boxes(), std::vector<QString>{"更新完成,当前记录ID为2000003"})
      << "the last id stored, not the last walked";
  EXPECT_EQ(ResumeFile(), QByteArray("2000003\r\n"));
  std::vector<StoredRow> rows = Stored();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].id, 2000001);
  EXPECT_EQ(rows[0].title, "Apple iPhone 5s 16G 银色");
  EXPECT_EQ(rows[0].trxPrice, 3150);
  EXPECT_EQ(rows[0].buyer, "jd_小明");
  EXPECT_EQ(rows[0].price, 5288);
  EXPECT_EQ(rows[0].bidTime, kToday - 2);
  EXPECT_EQ(rows[1].trxPrice, 40000) << "above 32767 the price stays whole";
  EXPECT_EQ(rows[1].bidTime, kToday - 1);
  EXPECT_EQ(rows[1].buyer, "li") << "the site's quotes go, a comma ends the name";

  EXPECT_EQ(Button(IDC_UPDATE)->text(), "更新");
  EXPECT_TRUE(Button(IDC_QUERY)->isEnabled());
  EXPECT_EQ(dlg->Walk().state(), tallyglass::crawl::WalkController::State::Idle);
  EXPECT_EQ(GridIds(), (std::vector<int>{2000001, 2000003})) << "the grid shows the new rows";
}

TEST_F(Crawl, TodayRunningEndsTheWalkOtherTodaysAndOtherStatusesDoNot) {
  inFlight = 1;
  // Closed earlier today: stored.
  sim::Auction closedToday = Sold(2000001, "今天早些时候结束", 300, "a", 999, 0);
  ASSERT_EQ(closedToday.endMs / 1000 / 86400, kToday);
  // Status 0 on another day: handled as usual (no buyer while running: skipped).
  Sold(2000002, "状态0 昨天", 300, "b");
  server.UpdateAuction(2000002, [](sim::Auction& a) { a.statusOverride = 0; });
  Sold(2000003, "昨天", 310, "c");
  RunningToday(2000004);
  Sold(2000005, "之后", 320, "d");
  OpenWindow(2000000);
  server.ClearLog();
  Press(IDC_UPDATE);
  std::vector<StoredRow> rows = Stored();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].id, 2000001);
  EXPECT_EQ(rows[0].bidTime, kToday);
  EXPECT_EQ(rows[1].id, 2000003);
  EXPECT_EQ(Requests("/detail/").back(), Detail(2000004)) << "nothing after the running auction";
  EXPECT_EQ(Boxes(), std::vector<QString>{"更新完成,当前记录ID为2000003"});
}

TEST_F(Crawl, SecondReadOfTheBidRecordsBelowATenthOfTheListPrice) {
  Sold(2000001, "九十九", 99, "a", 1000);
  Sold(2000002, "一百", 100, "b", 1000);
  Sold(2000003, "无京东价", 1, "c", 0);
  RunningToday(2000004);
  OpenWindow(2000000);
  server.ClearLog();
  Press(IDC_UPDATE);
  EXPECT_EQ(Requests(Records(2000001)).size(), 2u);
  EXPECT_EQ(Requests(Records(2000002)).size(), 1u);
  EXPECT_EQ(Requests(Records(2000003)).size(), 1u);
  std::vector<StoredRow> rows = Stored();
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].trxPrice, 99);
  EXPECT_EQ(rows[1].trxPrice, 100);
}

TEST_F(Crawl, PauseSavesAndTheNextPressResumesAfterTheLastStored) {
  inFlight = 1;
  for (int id = 2000001; id <= 2000004; ++id) Sold(id, "拍品 " + std::to_string(id), 100 + id % 10, "u");
  Unsold(2000005);
  RunningToday(2000006);
  OpenWindow(2000000);
  server.ClearLog();
  dlg->Walk().onAuctionHandled = [&](std::int32_t id, Kind) {
    if (id != 2000002) return;
    // The user presses 暂停, and again before the walk has wound down: no
    // second walk starts under the first.
    Button(IDC_UPDATE)->click();
    Button(IDC_UPDATE)->click();
  };
  Press(IDC_UPDATE);
  EXPECT_EQ(Boxes(), std::vector<QString>{"更新完成,当前记录ID为2000002"});
  EXPECT_EQ(ResumeFile(), QByteArray("2000002\r\n"));
  EXPECT_EQ(Stored().size(), 2u);
  EXPECT_EQ(Requests("/detail/").back(), Detail(2000002));
  EXPECT_EQ(Button(IDC_UPDATE)->text(), "更新");

  dlg->Walk().onAuctionHandled = nullptr;
  server.ClearLog();
  Press(IDC_UPDATE);
  EXPECT_EQ(Requests("/detail/").front(), Detail(2000003));
  EXPECT_EQ(Boxes(), std::vector<QString>{"更新完成,当前记录ID为2000004"});
  EXPECT_EQ(Stored().size(), 4u);
}

TEST_F(Crawl, EditedResumeFileMovesTheStartButNotTheRangeTest) {
  inFlight = 1;
  RunningToday(2000001);
  OpenWindow(2000000);
  // Edited behind the window's back to an id the range test would refuse.
  ASSERT_EQ(tallyglass::crawl::WriteResumeId(folder, 999998), tallyglass::crawl::SaveResult::Saved);
  RunningToday(999999);
  server.ClearLog();
  Press(IDC_UPDATE);
  EXPECT_EQ(Requests("/detail/"), std::vector<std::string>{Detail(999999)});
  EXPECT_EQ(Boxes(), std::vector<QString>{"更新完成,当前记录ID为999998"});
}

TEST_F(Crawl, EndingTheWindowEndsTheWalkAndSaves) {
  // The title bar's close is a close request; Escape ends the window without
  // one, and no walk may go on behind an ended window either.
  for (const char* how : {"close", "reject"}) {
    server.ClearAuctions();
    for (int id = 2000001; id <= 2000003; ++id) Sold(id, "拍品", 100, "u");
    RunningToday(2000004);
    OpenWindow(2000000);
    CloseRequests closes;
    dlg->installEventFilter(&closes);
    dlg->Walk().onAuctionHandled = [&](std::int32_t id, Kind) {
      if (id == 2000001) QMetaObject::invokeMethod(dlg.get(), how, Qt::DirectConnection);
    };
    Press(IDC_UPDATE);
    EXPECT_FALSE(dlg->isVisible()) << how;
    EXPECT_EQ(closes.count, std::string(how) == "close" ? 1 : 0);
    dlg->removeEventFilter(&closes);
    EXPECT_EQ(Boxes(), std::vector<QString>{"更新完成,当前记录ID为2000001"}) << how;
    EXPECT_EQ(ResumeFile(), QByteArray("2000001\r\n")) << how;
    EXPECT_EQ(Stored().size(), 1u) << how;
    dlg.reset();
    QSqlQuery(db->Database()).exec("DELETE FROM History");
  }
}

TEST_F(Crawl, DatabaseErrorEndsTheWalkWithAnErrorAndTheLastSavedId) {
  for (int id = 2000001; id <= 2000004; ++id) Sold(id, "拍品", 100, "u");
  RunningToday(2000005);
  OpenWindow(2000000);
  QSqlQuery q(db->Database());
  ASSERT_TRUE(
      q.exec("CREATE TRIGGER full BEFORE INSERT ON History WHEN NEW.ProductID = 2000003 "
             "BEGIN SELECT RAISE(ABORT, 'database or disk is full'); END"));
  Press(IDC_UPDATE);
  std::vector<QString> boxes = Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_TRUE(boxes[0].startsWith("更新中止,当前记录ID为2000002 错误信息:")) << boxes[0].toStdString();
  EXPECT_TRUE(boxes[0].contains("database or disk is full")) << boxes[0].toStdString();
  EXPECT_EQ(ResumeFile(), QByteArray("2000002\r\n"));
  EXPECT_EQ(Stored().size(), 2u);
  EXPECT_EQ(Button(IDC_UPDATE)->text(), "更新");
  EXPECT_TRUE(Button(IDC_QUERY)->isEnabled());
  EXPECT_EQ(dlg->Walk().state(), tallyglass::crawl::WalkController::State::Idle);
}

TEST_F(Crawl, AnIdCrawledTwiceKeepsOneRow) {
  Sold(2000001, "一次", 100, "u");
  Sold(2000002, "两次", 200, "v");
  RunningToday(2000003);
  OpenWindow(2000000);
  Press(IDC_UPDATE);
  Boxes();
  // As after a crash before endID.dat was written.
  ASSERT_EQ(tallyglass::crawl::WriteResumeId(folder, 2000000), tallyglass::crawl::SaveResult::Saved);
  Press(IDC_UPDATE);
  EXPECT_EQ(Boxes(), std::vector<QString>{"更新完成,当前记录ID为2000002"});
  EXPECT_EQ(Stored().size(), 2u);
}

TEST_F(Crawl, ResumeFileThatCannotBeWrittenIsReported) {
  RunningToday(2000001);
  OpenWindow(2000000);
  // The folder gives way to a plain file: endID.dat cannot be made.
  QDir(folder).removeRecursively();
  QFile blocker(folder);
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  Press(IDC_UPDATE);
  EXPECT_EQ(Boxes(),
            (std::vector<QString>{"ID File write error!\r\n" + tallyglass::crawl::ResumeFilePath(folder),
                                  "更新完成,当前记录ID为2000000"}));
}

TEST_F(Crawl, UnreachableSiteStopsAtOnceWithTheReason) {
  OpenWindow(2000000);
  const std::string home = server.BaseUrl() + "/";
  server.Stop();
  Press(IDC_UPDATE);
  std::vector<QString> boxes = Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_TRUE(boxes[0].startsWith("更新中止,当前记录ID为2000000 错误信息:")) << boxes[0].toStdString();
  EXPECT_TRUE(boxes[0].contains(QString::fromStdString(home))) << boxes[0].toStdString();
  EXPECT_EQ(ResumeFile(), QByteArray("2000000\r\n"));
  EXPECT_EQ(Button(IDC_UPDATE)->text(), "更新");
  EXPECT_TRUE(Button(IDC_QUERY)->isEnabled());
}

TEST_F(Crawl, PauseTakesEffectDuringARequestThatHangs) {
  Sold(2000001, "拍品", 100, "u");
  Sold(2000002, "拍品", 100, "u");
  Sold(2000003, "永远读不完", 100, "u");
  RunningToday(2000004);
  sim::Fault hang{sim::FaultKind::Stall, Detail(2000003), -1};
  hang.stallMs = 60000;
  server.AddFault(hang);
  OpenWindow(2000000);
  // The user presses 暂停 once the ids before it were handled and the page
  // that hangs was asked for.
  std::int32_t handled = 0;
  dlg->Walk().onAuctionHandled = [&](std::int32_t id, Kind) { handled = id; };
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    if (handled == 2000002 && !server.LogFor(Detail(2000003)).empty()) {
      watch.stop();
      Button(IDC_UPDATE)->click();
    }
  });
  watch.start(20);
  Press(IDC_UPDATE);
  EXPECT_EQ(Boxes(), std::vector<QString>{"更新完成,当前记录ID为2000002"});
  EXPECT_EQ(ResumeFile(), QByteArray("2000002\r\n"));
  EXPECT_EQ(Stored().size(), 2u);
}

TEST_F(Crawl, ImplausibleSalesAreCountedNotStoredAndTextsAreDecoded) {
  Sold(2000001, "Apple \"iPhone\" 5s & <套装>", 3150, "jd_&quot;小明&quot; &#x41;&#66;&amp;lt;", 5288);
  const struct {
    const char* why;
    std::int64_t trxPrice;
    std::int64_t listPrice;
  } wrong[] = {
      {"no price", 0, 1999},
      {"negative", -5, 1999},
      {"past 32 bits", 2147483648, 0},
      {"over 100 times the list price", 199901, 1999},
  };
  std::int64_t id = 2000002;
  for (const auto& w : wrong) {
    Sold(id, w.why, 100, "u", w.listPrice);
    server.UpdateAuction(id++, [&](sim::Auction& a) { a.trxPriceOverride = w.trxPrice; });
  }
  // Sold, its closing day after today.
  Sold(id, "明天才结束", 100, "u");
  server.UpdateAuction(id++, [](sim::Auction& a) {
    a.endMs = kT0 + 2 * kDay;
    a.statusOverride = 2;
  });
  Sold(id, "正好一百倍", 199900, "u", 1999);
  RunningToday(id + 1);
  OpenWindow(2000000);
  Press(IDC_UPDATE);
  EXPECT_EQ(Boxes(),
            std::vector<QString>{
                QString("更新完成,当前记录ID为%1\r\n5 条成交记录的价格或日期不可信, 未存入").arg(id)});
  std::vector<StoredRow> rows = Stored();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].title, "Apple \"iPhone\" 5s & <套装>");
  EXPECT_EQ(rows[0].buyer, "jd_\"小明\" AB&lt;") << "decoded once, not twice";
  EXPECT_EQ(rows[1].trxPrice, 199900);
}

using StartUp = HistoryWindowTest;

TEST_F(StartUp, EmptyDatabaseWithALaterResumeIdAsksWhereToWalkFrom) {
  const struct {
    platform::dialog::Answer answer;
    std::int32_t walksFrom;
  } cases[] = {
      {platform::dialog::Answer::Ok, tallyglass::crawl::kDemoResumeId},
      {platform::dialog::Answer::Cancel, 2500000},
  };
  for (const auto& c : cases) {
    platform::dialog::QueueAnswer(c.answer);
    OpenWindow(2500000);
    std::vector<QString> boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].contains(tallyglass::crawl::ResumeFilePath(folder))) << boxes[0].toStdString();
    EXPECT_TRUE(boxes[0].contains("2500000")) << boxes[0].toStdString();
    // 更新 walks on from what endID.dat holds.
    EXPECT_EQ(ResumeFile(), QByteArray::number(c.walksFrom) + "\r\n");
    dlg.reset();
  }
  // With rows stored, or endID.dat at the start, nothing is asked.
  OpenWindow(tallyglass::crawl::kDemoResumeId);
  EXPECT_TRUE(Boxes().empty());
  dlg.reset();
  Seed({{2400000, "拍品", 100, "u", 1999, kToday - 1}});
  OpenWindow(2500000);
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(StartUp, DamagedResumeFileIsReportedAndTheWalkResumesAfterTheLargestStoredId) {
  inFlight = 1;  // the first request is the first id
  Seed({{2000005, "拍品", 100, "u", 1999, kToday - 1}, {2000009, "拍品", 100, "u", 1999, kToday - 1}});
  RunningToday(2000010);
  for (const char* content : {"garbage", "12ab\r\n", ""}) {
    SCOPED_TRACE(content);
    ASSERT_TRUE(QDir().mkpath(folder));
    QFile f(tallyglass::crawl::ResumeFilePath(folder));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(content);
    f.close();
    OpenWindow(-1);
    std::vector<QString> boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].contains(tallyglass::crawl::ResumeFilePath(folder))) << boxes[0].toStdString();
    EXPECT_TRUE(boxes[0].contains("2000009")) << boxes[0].toStdString();
    EXPECT_EQ(ResumeFile(), QByteArray("2000009\r\n"));
    server.ClearLog();
    Press(IDC_UPDATE);
    EXPECT_EQ(Requests("/detail/").front(), Detail(2000010));
    EXPECT_EQ(Boxes(), std::vector<QString>{"更新完成,当前记录ID为2000009"});
    dlg.reset();
  }
}

}  // namespace
}  // namespace tgtest
