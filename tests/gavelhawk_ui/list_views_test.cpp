// The two list views: what they show, and what a click, a right click or the
// keyboard loads into the fields.
#include <QHeaderView>
#include <QSignalSpy>

#include "fixture.h"

namespace uitest {
namespace {

using D = CMainDlg;

class ListTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    ASSERT_TRUE(Open());
    Press(D::IDC_COLLAPSE);  // expanded: the results list is on screen
    Boxes();
    // The hits' remaining times stand still unless a test moves this clock.
    dlg->Search().SetClock([this] { return searchNow; });
  }
  void PutSnipe(int i, std::int32_t id, const char* title, const char* state, int ceiling, int inc, int prep,
                std::int64_t remain) {
    SnipeItem& s = Slots()[static_cast<std::size_t>(i)];
    s.nDealId = id;
    s.strTitle = Gbk(title);
    s.strState = Gbk(state);
    s.nMaxPrice = ceiling;
    s.nIncrement = inc;
    s.nPrepTime = prep;
    s.nRemain = remain;
    dlg->Snipes().last = std::max(List().last, i);
  }
  gavelhawk::snipe::SnipeList::Rows& Slots() { return dlg->Snipes().rows; }
  // Stores a hit in slot i as a crawl does; the results list follows.
  void PutHit(int i, std::int32_t id, const char* title, float discount, int cur, int list,
              const char* remain = " 3分 5秒") {
    SearchHit h;
    h.nDealId = id;
    h.strTitle = Gbk(title);
    h.strStatus = Gbk("九成新");
    h.strRemain = Gbk(remain);
    h.fDiscount = discount;
    h.nCurPrice = cur;
    h.nListPrice = list;
    dlg->Search().Store(i, h);
  }
  QTreeView* Results() const { return qobject_cast<QTreeView*>(dlg->GetDlgItem(D::IDC_RESULTLIST)); }
  static QStringList Row(QTreeView* list, int row) {
    QStringList t;
    const QAbstractItemModel* m = list->model();
    for (int c = 0; row < m->rowCount() && c < m->columnCount(); ++c) t << m->index(row, c).data().toString();
    return t;
  }
  static QStringList Headers(QTreeView* list) {
    QStringList t;
    for (int c = 0; c < list->model()->columnCount(); ++c)
      t << list->model()->headerData(c, Qt::Horizontal).toString();
    return t;
  }
  static std::vector<int> Widths(QTreeView* list) {
    std::vector<int> w;
    for (int c = 0; c < list->model()->columnCount(); ++c) w.push_back(list->header()->sectionSize(c));
    return w;
  }
  static Qt::Alignment Horizontal(QTreeView* list, int row, int column) {
    return Qt::Alignment(list->model()->index(row, column).data(Qt::TextAlignmentRole).toInt()) &
           Qt::AlignHorizontal_Mask;
  }
  static int Rows(QTreeView* list) { return list->model()->rowCount(); }
  static QStringList Column(QTreeView* list, int column) {
    QStringList t;
    for (int r = 0; r < Rows(list); ++r) t << list->model()->index(r, column).data().toString();
    return t;
  }
  static int Selected(QTreeView* list) {
    return static_cast<int>(list->selectionModel()->selectedRows().size());
  }
  std::int64_t searchNow = 0;
};

TEST_F(ListTest, SnipeListShowsEachSlotInOrder) {
  PutSnipe(0, 1001, "全新 手机", "准备竞拍", 500, 2, 1000, 125400);
  PutSnipe(1, 1002, "二手 相机", "出价成功", 80, 1, 800, -1);
  PutSnipe(2, 1003, "耳机", "准备竞拍", 9, 1, 0, 3600000);
  // The current price read last (the final price after closing); empty while unknown.
  Slots()[0].nCurPrice = 320;
  Slots()[1].nCurPrice = 95;
  Slots()[1].nGroup = 4;  // 组: empty for none
  dlg->RefreshSnipeList();
  QTreeView* list = SnipeView();
  EXPECT_EQ(QStringList({U("夺宝编号"), U("商品名称"), U("拍卖状态"), U("最高出价"), U("加价幅度"),
                         U("准备时间"), U("剩余时间"), U("当前价"), U("组")}),
            Headers(list));
  EXPECT_EQ((std::vector<int>{60, 215, 120, 60, 60, 60, 100, 60, 30}), Widths(list));
  ASSERT_EQ(3, Rows(list));
  EXPECT_EQ(QStringList({"1001", U("全新 手机"), U("准备竞拍"), "500", "2", "1000", U("2分5秒"), "320", ""}),
            Row(list, 0));
  EXPECT_EQ(QStringList({"1002", U("二手 相机"), U("出价成功"), "80", "1", "800", U("已结束"), "95", "4"}),
            Row(list, 1));
  EXPECT_EQ(U("60分0秒"), Row(list, 2).at(6));
  EXPECT_EQ("", Row(list, 2).at(7));
  EXPECT_EQ(Qt::AlignLeft, Horizontal(list, 0, 0));
  for (int c = 1; c < 9; ++c) EXPECT_EQ(Qt::AlignHCenter, Horizontal(list, 0, c)) << c;
  EXPECT_FALSE(list->header()->sectionsClickable());

  // Fewer rows after a rebuild: nothing of the old rows stays.
  dlg->Snipes().last = 0;
  dlg->RefreshSnipeList();
  EXPECT_EQ(1, Rows(list));
  EXPECT_EQ(9, list->model()->columnCount());
  dlg->Snipes().last = -1;
  dlg->RefreshSnipeList();
  EXPECT_EQ(0, Rows(list));
  EXPECT_EQ(9, list->model()->columnCount());
}

TEST_F(ListTest, ClickingASnipeRowLoadsItOverWhatWasTyped) {
  PutSnipe(0, 1001, "全新 手机", "准备竞拍", 500, 2, 1000, 125400);
  PutSnipe(1, 1002, "二手 相机", "准备竞拍", 80, 3, 800, 60000);
  Slots()[1].nGroup = 7;
  dlg->RefreshSnipeList();
  Type(D::IDC_PREPTIME, "9999");
  Type(D::IDC_OPENLAG, "55");  // not a snipe field: also rewritten from its member
  ClickList(SnipeView(), 1);
  EXPECT_EQ("1002", Field(D::IDC_DEALID));
  EXPECT_EQ(U("二手 相机"), Field(D::IDC_TITLE));
  EXPECT_EQ("80", Field(D::IDC_MAXPRICE));
  EXPECT_EQ("3", Field(D::IDC_INCREMENT));
  EXPECT_EQ("800", Field(D::IDC_PREPTIME));
  EXPECT_EQ("7", Field(D::IDC_GROUP));
  EXPECT_EQ("100", Field(D::IDC_OPENLAG));
  EXPECT_TRUE(opener.calls.empty());
  EXPECT_TRUE(Boxes().empty());

  // A rebuild clears the selection but remembers the row: 删除商品 takes it.
  dlg->RefreshSnipeList();
  EXPECT_TRUE(Selected(SnipeView()) == 0);
  Press(D::IDC_DELETE);
  EXPECT_EQ(QStringList{"1001"}, Column(SnipeView(), 0));
}

TEST_F(ListTest, SeveralSelectedSnipesLoadTheLowestAndEmptySpaceChangesNothing) {
  for (int i = 0; i < 3; ++i) PutSnipe(i, 2000 + i, "x", "准备竞拍", 10 + i, 1, 1000, 60000);
  dlg->RefreshSnipeList();
  ClickList(SnipeView(), 2);
  ClickList(SnipeView(), 1, Qt::LeftButton, Qt::ControlModifier);
  EXPECT_EQ(2, Selected(SnipeView()));
  EXPECT_EQ("2001", Field(D::IDC_DEALID));

  Type(D::IDC_DEALID, "555");
  ClickList(SnipeView(), -1);
  EXPECT_TRUE(Selected(SnipeView()) == 0);
  EXPECT_EQ("555", Field(D::IDC_DEALID));
  // The row picked before is still the one 删除商品 takes.
  Press(D::IDC_DELETE);
  EXPECT_EQ(QStringList({"2000", "2002"}), Column(SnipeView(), 0));
}

TEST_F(ListTest, RightClickOnASnipeOpensItsPageByTheIEMode) {
  PutSnipe(0, 1001, "a", "准备竞拍", 5, 1, 1000, 60000);
  PutSnipe(1, 1002, "b", "准备竞拍", 5, 1, 1000, 60000);
  dlg->RefreshSnipeList();
  ClickList(SnipeView(), 1, Qt::RightButton);
  EXPECT_EQ("1002", Field(D::IDC_DEALID));
  ClickIEBox();
  ClickList(SnipeView(), 0, Qt::RightButton);
  EXPECT_EQ((std::vector<std::string>{"default " + server.BaseUrl() + "/detail/1002",
                                      "login " + server.BaseUrl() + "/detail/1001"}),
            opener.calls);
}

TEST_F(ListTest, TheKeyboardCanLoadASnipeWithoutRunningTheSearch) {
  PutSnipe(0, 1001, "a", "准备竞拍", 5, 1, 1000, 60000);
  PutSnipe(1, 1002, "b", "准备竞拍", 6, 1, 1000, 60000);
  dlg->RefreshSnipeList();
  QSignalSpy search(dlg->Button(D::IDC_REFRESH), &QPushButton::clicked);
  QTreeView* list = SnipeView();
  list->setFocus();
  list->setCurrentIndex(list->model()->index(1, 0));
  QTest::keyClick(list, Qt::Key_Return);
  EXPECT_EQ(0, search.count());
  EXPECT_EQ("1002", Field(D::IDC_DEALID));
}

TEST_F(ListTest, ResultsShowEachHitWithItsFormats) {
  QTreeView* list = Results();
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(QStringList({U("夺宝编号"), U("商品名称"), U("商品状态"), U("剩余时间"), U("折扣"), U("现价"),
                         U("原价"), U("历史中位")}),
            Headers(list));
  EXPECT_EQ((std::vector<int>{60, 315, 60, 60, 60, 60, 60, 60}), Widths(list));
  PutHit(0, 3001, "Apple iPhone", 0.256f, 512, 1999);
  PutHit(1, 3002, "无原价", -1.0f, 20, 0);
  ASSERT_EQ(2, Rows(list));
  EXPECT_EQ(QStringList({"3001", "Apple iPhone", U("九成新"), U(" 3分 5秒"), "0.26", "512", "1999", ""}),
            Row(list, 0));
  EXPECT_EQ("-1.00", Row(list, 1).at(4));
  EXPECT_EQ("0", Row(list, 1).at(6));
  EXPECT_EQ(Qt::AlignLeft, Horizontal(list, 0, 0));
  EXPECT_EQ(Qt::AlignLeft, Horizontal(list, 0, 1));
  EXPECT_EQ(Qt::AlignHCenter, Horizontal(list, 0, 2));
  EXPECT_EQ(Qt::AlignRight, Horizontal(list, 0, 3));
  for (int c = 4; c < 8; ++c) EXPECT_EQ(Qt::AlignHCenter, Horizontal(list, 0, c)) << c;
  EXPECT_EQ(QAbstractItemView::ExtendedSelection, list->selectionMode());
  EXPECT_FALSE(list->header()->sectionsClickable());
}

TEST_F(ListTest, ResultsGrowHitByHitAndRepaintOnlyTheTimesThatMoved) {
  QTreeView* list = Results();
  const QAbstractItemModel* m = list->model();
  QSignalSpy inserted(m, &QAbstractItemModel::rowsInserted);
  QSignalSpy removed(m, &QAbstractItemModel::rowsRemoved);
  QSignalSpy reset(m, &QAbstractItemModel::modelReset);
  QSignalSpy changed(m, &QAbstractItemModel::dataChanged);
  PutHit(0, 3001, "a", 0.5f, 10, 400, " 3分 5秒");
  PutHit(1, 3002, "b", 0.5f, 10, 400, "50秒");
  PutHit(2, 3003, "c", 0.5f, 10, 400, "20分 0秒");
  PutHit(3, 3004, "d", 0.5f, 10, 400, "--");  // no time to count
  EXPECT_EQ(4, inserted.count());
  EXPECT_EQ(0, removed.count() + reset.count() + changed.count());

  // Each tick repaints the times that moved, and nothing else.
  const struct {
    std::int64_t at;  // ms on the search's clock since the hits came
    QStringList times;
    QList<int> repainted;
  } ticks[] = {
      {999, {U(" 3分 5秒"), U("50秒"), U("20分 0秒"), "--"}, {}},
      {1000, {U(" 3分 4秒"), U("49秒"), U("19分59秒"), "--"}, {0, 1, 2}},
      {65000, {U(" 2分 0秒"), U("已结束"), U("18分55秒"), "--"}, {0, 1, 2}},
      {65500, {U(" 2分 0秒"), U("已结束"), U("18分55秒"), "--"}, {}},
  };
  for (const auto& t : ticks) {
    searchNow = t.at;
    changed.clear();
    dlg->OnCountdownTick();
    QStringList times;
    for (int r = 0; r < Rows(list); ++r) times << Row(list, r).at(3);
    EXPECT_EQ(t.times, times) << t.at;
    QList<int> repainted;
    for (const QList<QVariant>& c : changed) {
      const auto from = c[0].value<QModelIndex>(), to = c[1].value<QModelIndex>();
      EXPECT_EQ(from.row(), to.row());
      EXPECT_EQ(std::pair(3, 3), std::pair(from.column(), to.column())) << t.at;
      repainted << from.row();
    }
    EXPECT_EQ(t.repainted, repainted) << t.at;
  }

  // The next crawl's first hit takes the place of the lines shown.
  PutHit(0, 4001, "new", 0.5f, 10, 400);
  EXPECT_EQ(1, removed.count());
  EXPECT_EQ(1, Rows(list));
  EXPECT_EQ("4001", Row(list, 0).at(0));
  EXPECT_EQ(U(" 3分 5秒"), Row(list, 0).at(3));
  EXPECT_EQ(0, reset.count());
}

TEST_F(ListTest, ClickingAHitFillsTheSnipeInputsWithHalfTheListPrice) {
  PutHit(0, 3001, "Apple iPhone", 0.25f, 500, 1999);
  PutHit(1, 3002, "无原价", -1.0f, 20, 0);
  Type(D::IDC_PREPTIME, "1500");
  Type(D::IDC_INCREMENT, "9");
  ClickList(Results(), 0);
  EXPECT_EQ("3001", Field(D::IDC_DEALID));
  EXPECT_EQ("Apple iPhone", Field(D::IDC_TITLE));
  EXPECT_EQ("999", Field(D::IDC_MAXPRICE));
  EXPECT_EQ("1", Field(D::IDC_INCREMENT));
  EXPECT_EQ("1500", Field(D::IDC_PREPTIME));  // read, then kept
  EXPECT_EQ(1500, dlg->m_nPrepTime);
  EXPECT_EQ(-1, List().last);  // taking a hit adds no snipe
  ClickList(Results(), 1);
  EXPECT_EQ("0", Field(D::IDC_MAXPRICE));
  EXPECT_TRUE(opener.calls.empty());
}

TEST_F(ListTest, EmptySpaceKeyboardAndSeveralRowsInTheResults) {
  for (int i = 0; i < 3; ++i) PutHit(i, 3000 + i, "hit", 0.5f, 10, 100 * (i + 1));
  QTreeView* list = Results();
  ClickList(list, 2);
  ClickList(list, 1, Qt::LeftButton, Qt::ControlModifier);
  EXPECT_EQ("3001", Field(D::IDC_DEALID));  // the topmost selected row

  Type(D::IDC_DEALID, "77");
  ClickList(list, -1);
  EXPECT_EQ("77", Field(D::IDC_DEALID));

  // Moving the selection with the keyboard takes the new hit at once.
  list->setFocus();
  list->setCurrentIndex(list->model()->index(0, 0));
  EXPECT_EQ("3000", Field(D::IDC_DEALID));
  QTest::keyClick(list, Qt::Key_Down);
  EXPECT_EQ("3001", Field(D::IDC_DEALID));
  EXPECT_EQ("100", Field(D::IDC_MAXPRICE));
  list->clearSelection();  // a change that leaves nothing selected
  EXPECT_EQ("3001", Field(D::IDC_DEALID));
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(ListTest, AfterAnEmptyCrawlTheShownRowsStillTakeTheirHits) {
  PutHit(0, 3001, "old", 0.5f, 10, 400);
  // A crawl of a site with nothing on sale leaves the view as it was.
  Press(D::IDC_REFRESH);
  ASSERT_TRUE(QTest::qWaitFor([this] { return !dlg->Search().Running(); }, 60000));
  EXPECT_EQ(QStringList{U("没有搜索结果")}, Texts(Boxes()));
  ClickList(Results(), 0);
  EXPECT_EQ("3001", Field(D::IDC_DEALID));
  EXPECT_EQ("200", Field(D::IDC_MAXPRICE));
}

TEST_F(ListTest, RightClickOnAHitOpensThatHitNotTheOldId) {
  PutHit(0, 3001, "a", 0.5f, 10, 400);
  PutHit(1, 3002, "b", 0.5f, 10, 400);
  Type(D::IDC_DEALID, "1234567");
  ClickList(Results(), 1, Qt::RightButton);
  ASSERT_EQ(1u, opener.calls.size());
  EXPECT_EQ("default " + server.BaseUrl() + "/detail/3002", opener.calls[0]);
  EXPECT_EQ("3002", Field(D::IDC_DEALID));
}

TEST_F(ListTest, ABadNumberFieldIsReportedWhenAHitIsTaken) {
  PutHit(0, 3001, "a", 0.5f, 10, 400);
  Type(D::IDC_PREPTIME, "fast");
  ClickList(Results(), 0);
  EXPECT_FALSE(Texts(Boxes()).isEmpty());
  // The hit is still taken; the preparation time keeps its member's value.
  EXPECT_EQ("3001", Field(D::IDC_DEALID));
  EXPECT_EQ("1000", Field(D::IDC_PREPTIME));
}

}  // namespace
}  // namespace uitest
