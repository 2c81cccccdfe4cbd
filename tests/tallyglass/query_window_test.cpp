// The window's start, its fields and the query, pressing the real buttons.
#include <QKeyEvent>

#include "platform/dialog/dialog.h"
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
  EXPECT_EQ(Headings(), (QStringList{"ProductID", "Title", "trxPrice", "trxBuyerName", "Price", "bidTime"}));
  EXPECT_EQ(GridIds(), (std::vector<int>{2000001, 2000002}));
  EXPECT_EQ(Grid()->model()->index(0, 1).data().toString(), "华为 手机");
  EXPECT_EQ(dlg->m_nToday, kToday);
  EXPECT_EQ(dlg->m_nLastId, 2000002);
  EXPECT_EQ(HomeReads(), 1);
  EXPECT_EQ(server.Log().size(), 1u) << "only the home page is read at start";
  EXPECT_TRUE(Button(IDC_UPDATE)->isEnabled());
  EXPECT_EQ(dlg->focusWidget(), dlg->GetDlgItem(IDC_INCLUDE1));
}

TEST_F(Query, TodayIsZeroWithoutTheSite) {
  server.Stop();
  OpenWindow();
  EXPECT_EQ(dlg->m_nToday, 0);
  EXPECT_TRUE(Boxes().empty()) << "a failed page read is silent";
  EXPECT_TRUE(dlg->isVisible());
}

TEST_F(Query, ControlsSitAtTheTemplateRectsAndCarryTheirLabels) {
  OpenWindow();
  const QFont font = platform::dialog::DialogFont();
  auto du = [&](int x, int y, int w, int h) { return platform::dialog::MapDialogRect(font, {x, y, w, h}); };
  EXPECT_EQ(dlg->size(), du(0, 0, 358, 237).size());
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
  Press(IDC_QUERY);
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
  Press(IDC_QUERY);
  const tallyglass::db::Statement& s = dlg->Recordset()->statement();
  EXPECT_EQ(s.sql,
            kSelect + " WHERE trxBuyerName" + kLike + " AND bidTime > " + QString::number(kToday - 30));
  EXPECT_EQ(s.params, (QVariantList{"abc"}));

  Type(IDC_BUYERNAME, "");
  Type(IDC_INCLUDE1, "a");
  Type(IDC_INCLUDE2, "b");
  Type(IDC_INCLUDE3, "c");
  Type(IDC_INCLUDE4, "d");
  Press(IDC_QUERY);
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
  Press(IDC_QUERY);
  EXPECT_EQ(Boxes(), std::vector<QString>{"请输入检索条件"});
  EXPECT_TRUE(Button(IDC_UPDATE)->isEnabled());
  EXPECT_EQ(Headings().size(), 6) << "the grid keeps the whole table";
  EXPECT_EQ(GridIds(), std::vector<int>{2000001});
}

TEST_F(Query, PriceStatisticsInTheFields) {
  Seed({{1, "单件 A", 120, "x", 999, kToday},
        {2, "两件 B", 100, "x", 999, kToday},
        {3, "两件 B", 101, "x", 999, kToday},
        {4, "贵重 C", 40000, "x", 99999, kToday},
        {5, "贵重 C", 39999, "x", 99999, kToday - 1}});
  OpenWindow();
  Type(IDC_INCLUDE1, "单件");
  Press(IDC_QUERY);
  EXPECT_EQ(Field(IDC_MAXPRICE), "120");
  EXPECT_EQ(Field(IDC_MINPRICE), "120");
  EXPECT_EQ(Field(IDC_AVGPRICE), "120");

  Type(IDC_INCLUDE1, "两件");
  Press(IDC_QUERY);
  EXPECT_EQ(Field(IDC_MAXPRICE), "101");
  EXPECT_EQ(Field(IDC_MINPRICE), "100");
  EXPECT_EQ(Field(IDC_AVGPRICE), "100");

  Type(IDC_INCLUDE1, "贵重");
  Press(IDC_QUERY);
  EXPECT_EQ(Field(IDC_MAXPRICE), "40000");
  EXPECT_EQ(Field(IDC_MINPRICE), "39999");
  EXPECT_EQ(Field(IDC_AVGPRICE), "39999");
  EXPECT_EQ(GridIds().size(), 2u) << "the grid shows only the latest result";

  Type(IDC_INCLUDE1, "没有这种东西");
  Type(IDC_MAXPRICE, "77");
  Press(IDC_QUERY);
  EXPECT_TRUE(GridIds().empty());
  EXPECT_EQ(Headings().size(), 5) << "an empty result still shows its headings";
  EXPECT_EQ(Field(IDC_MAXPRICE), "0");
  EXPECT_EQ(Field(IDC_MINPRICE), "0");
  EXPECT_EQ(Field(IDC_AVGPRICE), "0");
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(Query, KeywordWithAQuoteFindsItsRow) {
  Seed({{7, "O'Neill 背包", 200, "x", 999, kToday}, {8, "Oneill 背包", 300, "x", 999, kToday}});
  OpenWindow();
  Type(IDC_INCLUDE1, "o'neill");
  Press(IDC_QUERY);
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(GridIds(), std::vector<int>{7});
  EXPECT_EQ(Field(IDC_AVGPRICE), "200");
}

TEST_F(Query, ViewCurrentItemOpensTheSelectedRowsPage) {
  Seed({{2000011, "甲 手机", 10, "x", 99, kToday}, {2000012, "乙 手机", 20, "x", 99, kToday}});
  OpenWindow();
  Type(IDC_INCLUDE1, "手机");
  Press(IDC_QUERY);
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
  Press(IDC_QUERY);
  EXPECT_EQ(Boxes(), std::vector<QString>{"请输入一个整数。"});
  EXPECT_TRUE(Button(IDC_UPDATE)->isEnabled()) << "a failed read runs no query";
  EXPECT_EQ(dlg->focusWidget(), dlg->GetDlgItem(IDC_DAYS));

  Type(IDC_DAYS, "15");
  Type(IDC_AVGPRICE, "-1");
  Press(IDC_QUERY);
  EXPECT_EQ(Boxes(), std::vector<QString>{"请输入一个正整数。"});
}

TEST_F(Query, EnterInAFieldEndsTheWindowEscapeToo) {
  OpenWindow();
  Type(IDC_DAYS, "5000");
  QTest::keyClick(dlg->GetDlgItem(IDC_INCLUDE1), Qt::Key_Return);
  EXPECT_TRUE(Boxes().empty());
  EXPECT_FALSE(dlg->isVisible());
  EXPECT_EQ(dlg->result(), QDialog::Accepted);
  EXPECT_EQ(dlg->m_nDays, 5000);
  EXPECT_FALSE(dlg->m_bClosing);

  dlg->show();
  QTest::keyClick(dlg->GetDlgItem(IDC_INCLUDE1), Qt::Key_Escape);
  EXPECT_FALSE(dlg->isVisible());
  EXPECT_EQ(dlg->result(), QDialog::Rejected);
  EXPECT_FALSE(dlg->m_bClosing);

  dlg->show();
  dlg->close();
  EXPECT_TRUE(dlg->m_bClosing) << "the title bar's close is a close request";
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
