// The window's start, its fields and the query, pressing the real buttons.
#include <QChartView>
#include <QDateTime>
#include <QKeyEvent>
#include <QScatterSeries>
#include <algorithm>

#include "platform/dialog/dialog.h"
#include "platform/dialog/file_dialog.h"
#include "tests/tallyglass/window_fixture.h"

namespace tgtest {
namespace {

using Query = HistoryWindowTest;

const QString kSelect = "SELECT ProductID,Title,trxPrice,trxBuyerName,Price FROM History";
const QString kLike = " like '%' || ? || '%'";
const QString kNotLike = " not like '%' || ? || '%'";

TEST_F(Query, FreshWindowShowsDefaultsTheWholeTableAndToday) {
  Seed({{2000001, "华为 手机", 1200, "alice", 2999, kToday - 1},
        {2000002, "手机壳", 5, "bob", 29, kToday - 2}});
  OpenWindow(2000002);
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(dlg->windowTitle(), "Tallyglass v3.0 http://shop.invalid/");
  EXPECT_EQ(Field(IDC_DAYS), "15");
  EXPECT_EQ(Field(IDC_MAXPRICE), "0");
  EXPECT_EQ(Field(IDC_MINPRICE), "0");
  EXPECT_EQ(Field(IDC_AVGPRICE), "0");
  EXPECT_EQ(Field(IDC_MEDIANPRICE), "0");
  EXPECT_EQ(Field(IDC_SALES), "0");
  EXPECT_EQ(Headings(), (QStringList{"ProductID", "Title", "trxPrice", "trxBuyerName", "Price", "bidTime"}));
  EXPECT_EQ(GridIds(), (std::vector<int>{2000001, 2000002}));
  EXPECT_EQ(Grid()->model()->index(0, 1).data().toString(), "华为 手机");
  // The closing day shows as a date; the stored day number is unchanged.
  EXPECT_EQ(Grid()->model()->index(0, 5).data().toString(), "2013-12-01");
  EXPECT_EQ(Grid()->model()->index(1, 5).data().toString(), "2013-11-30");
  EXPECT_EQ(Stored()[0].bidTime, kToday - 1);
  EXPECT_EQ(ResumeFile(), QByteArray("2000002\r\n"));
  EXPECT_EQ(HomeReads(), 1);
  EXPECT_EQ(server.Log().size(), 1u) << "only the home page is read at start";
  EXPECT_TRUE(Button(IDC_UPDATE)->isEnabled());
  EXPECT_EQ(dlg->focusWidget(), dlg->GetDlgItem(IDC_INCLUDE1));
  // A query counts its range from the site's day.
  Type(IDC_INCLUDE1, "手机");
  PressQuery();
  EXPECT_EQ(QueriedToday(15), kToday);
}

// Without the site's date the range counts from the local day, never from
// 0, and the window says so once; a site that never answers holds nothing up.
TEST_F(Query, TodayWithoutTheSiteIsTheLocalDay) {
  for (const bool hanging : {true, false}) {
    SCOPED_TRACE(hanging ? "a site that never answers" : "no site");
    if (hanging) {
      sim::Fault f;
      f.kind = sim::FaultKind::Stall;
      f.stallMs = 600000;
      server.AddFault(f);
    } else {
      server.ClearFaults();
      server.Stop();
    }
    const auto localDay = [] {
      return static_cast<std::int32_t>(QDateTime::currentSecsSinceEpoch() / 86400);
    };
    const std::int32_t before = localDay();
    OpenWindow(2000000, /*settle=*/!hanging);
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_EQ(dlg->todaySource(),
              hanging ? CHistoryDlg::TodaySource::Reading : CHistoryDlg::TodaySource::Local);
    EXPECT_TRUE(Boxes().empty()) << "a failed page read is no message box";
    Type(IDC_INCLUDE1, "手机");
    PressQuery();
    EXPECT_TRUE(dlg->Recordset()->statement().sql.contains("bidTime > "))
        << dlg->Recordset()->statement().sql.toStdString();
    EXPECT_GE(QueriedToday(15), before);
    EXPECT_LE(QueriedToday(15), localDay());
    EXPECT_EQ(dlg->StatusText(), "未能读取站点日期，按本机日期计算");
    dlg.reset();
    db.reset();
    QDir(folder).removeRecursively();
  }
}

TEST_F(Query, ControlsSitAtTheTemplateRectsAndCarryTheirLabels) {
  OpenWindow();
  const QFont font = platform::dialog::DialogFont();
  auto du = [&](int x, int y, int w, int h) { return platform::dialog::MapDialogRect(font, {x, y, w, h}); };
  EXPECT_EQ(dlg->size(), du(0, 0, 358, 249).size());
  EXPECT_EQ(dlg->GetDlgItem(IDC_GRID)->geometry(), du(7, 64, 344, 124));
  EXPECT_EQ(dlg->GetDlgItem(IDC_INCLUDE4)->geometry(), du(264, 10, 68, 14));
  EXPECT_EQ(dlg->GetDlgItem(IDC_SERVICE)->geometry(), du(290, 209, 61, 15));
  EXPECT_EQ(static_cast<CDataGrid*>(dlg->GetDlgItem(IDC_GRID))->Caption(), "查询记录");
  EXPECT_EQ(dlg->GetDlgItem(IDC_INCLUDE2)->accessibleName(), "包含关键词 2");
  EXPECT_EQ(dlg->GetDlgItem(IDC_EXCLUDE4)->accessibleName(), "屏蔽关键词 4");
  EXPECT_EQ(dlg->GetDlgItem(IDC_AVGPRICE)->accessibleName(), "平均价");

  // Tab walks the template's order; the price fields are no stops.
  const int order[] = {IDC_INCLUDE1, IDC_INCLUDE2,  IDC_INCLUDE3, IDC_EXCLUDE1, IDC_EXCLUDE2,
                       IDC_EXCLUDE3, IDC_BUYERNAME, IDC_DAYS,     IDC_QUERY,    IDC_INCLUDE4,
                       IDC_EXCLUDE4, IDC_VIEWITEM,  IDC_GRID,     IDC_SERVICE,  IDC_UPDATE};
  dlg->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(dlg.get()));
  dlg->GetDlgItem(IDC_INCLUDE1)->setFocus();
  for (std::size_t i = 1; i < std::size(order); ++i) {
    QTest::keyClick(dlg->focusWidget(), Qt::Key_Tab);
    QWidget* f = dlg->focusWidget();
    QWidget* want = dlg->GetDlgItem(order[i]);
    EXPECT_TRUE(f == want || want->isAncestorOf(f)) << "stop " << i << " should be " << order[i];
  }
}

TEST_F(Query, StatementOfKeywordsExcludeAndDays) {
  OpenWindow();
  Type(IDC_INCLUDE1, "手机");
  Type(IDC_EXCLUDE1, "壳");
  PressQuery();
  EXPECT_TRUE(Boxes().empty());
  const tallyglass::db::Statement& s = dlg->Recordset()->statement();
  EXPECT_EQ(s.sql, kSelect + " WHERE Title" + kLike + " AND Title" + kNotLike + " AND bidTime > " +
                       QString::number(kToday - 15));
  EXPECT_EQ(s.params, (QVariantList{"手机", "壳"}));
  EXPECT_EQ(Headings(), (QStringList{"ProductID", "Title", "trxPrice", "trxBuyerName", "Price"}));
  EXPECT_FALSE(Button(IDC_UPDATE)->isEnabled()) << "after a query the crawl cannot start";
}

TEST_F(Query, StatementOfBuyerAloneAndOfIgnoredFields) {
  OpenWindow();
  Type(IDC_BUYERNAME, "abc");
  Type(IDC_DAYS, "30");
  Type(IDC_EXCLUDE2, "不算");  // 1006 is empty: 1007 does not count
  Type(IDC_INCLUDE3, "也不算");
  PressQuery();
  const tallyglass::db::Statement& s = dlg->Recordset()->statement();
  EXPECT_EQ(s.sql,
            kSelect + " WHERE trxBuyerName" + kLike + " AND bidTime > " + QString::number(kToday - 30));
  EXPECT_EQ(s.params, (QVariantList{"abc"}));

  Type(IDC_BUYERNAME, "");
  Type(IDC_INCLUDE1, "a");
  Type(IDC_INCLUDE2, "b");
  Type(IDC_INCLUDE3, "c");
  Type(IDC_INCLUDE4, "d");
  PressQuery();
  EXPECT_EQ(dlg->Recordset()->statement().sql, kSelect + " WHERE Title" + kLike + " AND Title" + kLike +
                                                   " AND Title" + kLike + " AND Title" + kLike +
                                                   " AND bidTime > " + QString::number(kToday - 30));
  EXPECT_EQ(dlg->Recordset()->statement().params, (QVariantList{"a", "b", "c", "d"}));
}

TEST_F(Query, NothingToSearchWith) {
  Seed({{2000001, "手机", 10, "a", 20, kToday}});
  OpenWindow();
  Type(IDC_INCLUDE2, "手机");
  Type(IDC_EXCLUDE3, "壳");
  PressQuery();
  EXPECT_EQ(Boxes(), std::vector<QString>{"请输入检索条件"});
  EXPECT_TRUE(Button(IDC_UPDATE)->isEnabled());
  EXPECT_EQ(Headings().size(), 6) << "the grid keeps the whole table";
  EXPECT_EQ(GridIds(), std::vector<int>{2000001});
}

TEST_F(Query, PriceStatisticsInTheFields) {
  // The figures themselves are the query controller's (db_test); here what
  // the fields show of them, over what was typed there.
  Seed({{6, "三件 D", 30, "x", 99, kToday},
        {7, "三件 D", 10, "x", 99, kToday},
        {8, "三件 D", 25, "x", 99, kToday}});
  OpenWindow();
  struct Case {
    const char* keyword;
    QString max, min, avg, median, sales;
  };
  const Case cases[] = {
      {"三件", "30", "10", "21", "25", "3"},
      {"没有这种东西", "0", "0", "0", "0", "0"},
  };
  for (const Case& c : cases) {
    Type(IDC_INCLUDE1, c.keyword);
    Type(IDC_MAXPRICE, "77");
    PressQuery();
    EXPECT_EQ((QStringList{Field(IDC_MAXPRICE), Field(IDC_MINPRICE), Field(IDC_AVGPRICE),
                           Field(IDC_MEDIANPRICE), Field(IDC_SALES)}),
              (QStringList{c.max, c.min, c.avg, c.median, c.sales}))
        << c.keyword;
    EXPECT_EQ(QString::number(GridIds().size()), c.sales) << "the grid shows only the latest result";
  }
  EXPECT_EQ(Headings().size(), 5) << "an empty result still shows its headings";
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(Query, ANewQueryReplacesTheOneRunning) {
  Seed({{1, "华为 手机", 1200, "x", 2999, kToday},
        {2, "小米 手机", 800, "x", 1999, kToday},
        {3, "索尼 耳机", 300, "x", 999, kToday}});
  OpenWindow();
  Type(IDC_INCLUDE1, "手机");
  Press(IDC_QUERY);
  EXPECT_EQ(static_cast<CDataGrid*>(dlg->GetDlgItem(IDC_GRID))->Caption(), "查询中…");
  Type(IDC_INCLUDE1, "耳机");
  PressQuery();
  EXPECT_EQ(static_cast<CDataGrid*>(dlg->GetDlgItem(IDC_GRID))->Caption(), "查询记录");
  // One worker answers in order, so the first query's answer was posted
  // before the second's; anything of it still posted would show now.
  QCoreApplication::processEvents();
  EXPECT_EQ(GridIds(), std::vector<int>{3});
  EXPECT_EQ(Field(IDC_MAXPRICE), "300");
  EXPECT_EQ(Field(IDC_SALES), "1");
  EXPECT_EQ(Field(IDC_INCLUDE1), "耳机");
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(Query, ExportWritesTheMatchingRowsAsCsv) {
  Seed({{1, "Apple, \"Pro\" 手机", 5000, "bob,by", 8999, kToday - 1},
        {2, "华为 手机", 1200, "alice", 2999, kToday - 2},
        {3, "手机壳", 5, "x", 29, kToday - 3}});
  OpenWindow();
  Type(IDC_INCLUDE1, "手机");
  Type(IDC_EXCLUDE1, "壳");
  PressQuery();
  const QString path = tmp.path() + "/导出.csv";
  platform::dialog::QueueSaveFileName("");  // the user cancels: nothing is written
  Press(IDC_EXPORT);
  platform::dialog::QueueSaveFileName(path);
  Press(IDC_EXPORT);
  (void)WaitFor([&] { return Button(IDC_EXPORT)->isEnabled(); });
  EXPECT_EQ(Boxes(), std::vector<QString>{"已导出2条记录到 " + path});
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const QByteArray bytes = f.readAll();
  EXPECT_TRUE(bytes.startsWith("\xEF\xBB\xBF")) << "UTF-8 with a byte order mark";
  EXPECT_EQ(QString::fromUtf8(bytes.mid(3)),
            "ProductID,Title,trxPrice,trxBuyerName,Price,bidTime\r\n"
            "1,\"Apple, \"\"Pro\"\" 手机\",5000,\"bob,by\",8999,2013-12-01\r\n"
            "2,华为 手机,1200,alice,2999,2013-11-30\r\n");

  platform::dialog::QueueSaveFileName(tmp.path() + "/no-such-folder/x.csv");
  Press(IDC_EXPORT);
  (void)WaitFor([&] { return Button(IDC_EXPORT)->isEnabled(); });
  std::vector<QString> boxes = Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_TRUE(boxes[0].startsWith("导出失败!\r\n错误信息:")) << boxes[0].toStdString();
}

TEST_F(Query, PriceChartShowsTheSalesAndTheWeeklyMedian) {
  // Day 16041 is a Monday: two weeks of sales.
  Seed({{1, "手表", 10, "x", 99, kToday - 6},
        {2, "手表", 30, "x", 99, kToday - 5},
        {3, "手表", 20, "x", 99, kToday - 1},
        {4, "手表", 100, "x", 999, kToday},
        {5, "手表", 101, "x", 999, kToday},
        {6, "手机", 7, "x", 99, kToday}});
  OpenWindow();
  Type(IDC_INCLUDE1, "手表");
  PressQuery();
  Press(IDC_CHART);
  (void)WaitFor([&] { return dlg->ChartWindow() != nullptr; });
  ASSERT_NE(dlg->ChartWindow(), nullptr);
  auto* view = dlg->ChartWindow()->findChild<QChartView*>();
  ASSERT_NE(view, nullptr);
  std::vector<std::pair<int, int>> sales, weekly;
  for (QAbstractSeries* s : view->chart()->series()) {
    auto* xy = static_cast<QXYSeries*>(s);
    auto& into = s->type() == QAbstractSeries::SeriesTypeScatter ? sales : weekly;
    for (const QPointF& p : xy->points())
      into.emplace_back(static_cast<int>(p.x() / 86400000), static_cast<int>(p.y()));
  }
  std::sort(sales.begin(), sales.end());
  EXPECT_EQ(sales, (std::vector<std::pair<int, int>>{
                       {kToday - 6, 10}, {kToday - 5, 30}, {kToday - 1, 20}, {kToday, 100}, {kToday, 101}}));
  // Each week's median at the week's end, or at the latest sale when that is
  // earlier: the line never runs past the last sale.
  EXPECT_EQ(weekly, (std::vector<std::pair<int, int>>{{kToday - 1, 20}, {kToday, 100}}));
  // The chart names what it shows.
  EXPECT_EQ(view->chart()->title(), "手表，最近15天（2013-11-18 至 2013-12-02）");
}

TEST_F(Query, KeywordWithAQuoteFindsItsRow) {
  Seed({{7, "O'Neill 背包", 200, "x", 999, kToday}, {8, "Oneill 背包", 300, "x", 999, kToday}});
  OpenWindow();
  Type(IDC_INCLUDE1, "o'neill");
  PressQuery();
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(GridIds(), std::vector<int>{7});
  EXPECT_EQ(Field(IDC_AVGPRICE), "200");
}

TEST_F(Query, ViewCurrentItemOpensTheSelectedRowsPage) {
  Seed({{2000011, "甲 手机", 10, "x", 99, kToday}, {2000012, "乙 手机", 20, "x", 99, kToday}});
  OpenWindow();
  Type(IDC_INCLUDE1, "手机");
  PressQuery();
  // Right after the statistics no row is current.
  EXPECT_FALSE(Grid()->currentIndex().isValid());
  Press(IDC_VIEWITEM);
  EXPECT_EQ(Boxes(), std::vector<QString>{"请先在表格中选中一条记录。"});
  EXPECT_TRUE(opener.urls.empty());

  ClickGridRow(1);
  Press(IDC_VIEWITEM);
  int id = GridIds()[1];
  ASSERT_EQ(opener.urls.size(), 1u);
  EXPECT_EQ(opener.urls[0], server.BaseUrl() + "/detail/" + std::to_string(id));
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(Query, ServicePageButton) {
  OpenWindow();
  Press(IDC_SERVICE);
  EXPECT_EQ(opener.urls, std::vector<std::string>{"http://service.invalid/page.html"});
}

TEST_F(Query, DaysOutOfRangeStopsEnterAndTheQuery) {
  OpenWindow();
  for (const char* bad : {"0", "5001"}) {
    Type(IDC_DAYS, bad);
    dlg->GetDlgItem(IDC_DAYS)->setFocus();
    QTest::keyClick(dlg->GetDlgItem(IDC_DAYS), Qt::Key_Return);
    EXPECT_EQ(Boxes(), std::vector<QString>{"请输入一个在 1 和 5000 之间的整数。"}) << bad;
    EXPECT_TRUE(dlg->isVisible()) << bad;
  }
  Type(IDC_DAYS, "1x");
  Type(IDC_INCLUDE1, "手机");
  PressQuery();
  EXPECT_EQ(Boxes(), std::vector<QString>{"请输入一个整数。"});
  EXPECT_TRUE(Button(IDC_UPDATE)->isEnabled()) << "a failed read runs no query";
  EXPECT_EQ(dlg->focusWidget(), dlg->GetDlgItem(IDC_DAYS));

  Type(IDC_DAYS, "15");
  Type(IDC_AVGPRICE, "-1");
  PressQuery();
  EXPECT_EQ(Boxes(), std::vector<QString>{"请输入一个正整数。"});
}

TEST_F(Query, EnterInAFieldEndsTheWindowEscapeToo) {
  OpenWindow();
  CloseRequests closes;
  dlg->installEventFilter(&closes);
  Type(IDC_DAYS, "5000");
  QTest::keyClick(dlg->GetDlgItem(IDC_INCLUDE1), Qt::Key_Return);
  EXPECT_TRUE(Boxes().empty());
  EXPECT_FALSE(dlg->isVisible());
  EXPECT_EQ(dlg->result(), QDialog::Accepted);
  EXPECT_EQ(closes.count, 0);
  // Enter read the fields: a write shows what it took.
  Type(IDC_DAYS, "1");
  dlg->UpdateData(false);
  EXPECT_EQ(Field(IDC_DAYS), "5000");

  dlg->show();
  QTest::keyClick(dlg->GetDlgItem(IDC_INCLUDE1), Qt::Key_Escape);
  EXPECT_FALSE(dlg->isVisible());
  EXPECT_EQ(dlg->result(), QDialog::Rejected);
  EXPECT_EQ(closes.count, 0);

  dlg->show();
  dlg->close();
  EXPECT_EQ(closes.count, 1) << "the title bar's close is a close request";
  dlg->removeEventFilter(&closes);
}

TEST_F(Query, EnterOnAButtonPressesIt) {
  OpenWindow();
  Button(IDC_SERVICE)->setFocus();
  QTest::keyClick(Button(IDC_SERVICE), Qt::Key_Return);
  EXPECT_EQ(opener.urls.size(), 1u);
  EXPECT_TRUE(dlg->isVisible());
}

}  // namespace
}  // namespace tgtest
