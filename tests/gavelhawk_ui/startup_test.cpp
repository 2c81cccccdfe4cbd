// Start-up of the main window: the values the user first sees, the
// collapsed window, IE mode, the keys that run or end things, the layout and
// what the keyboard and a screen reader can reach.
#include <QAccessible>
#include <QApplication>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QSignalSpy>

#include "fixture.h"

namespace uitest {
namespace {

using D = CMainDlg;

TEST_F(WindowTest, StartUpShowsTheDefaultsAndEmptyLists) {
  ASSERT_TRUE(Open());
  EXPECT_EQ(U("Gavelhawk"), dlg->windowTitle());
  EXPECT_EQ("3333333", Field(D::IDC_DEALID));
  EXPECT_EQ("5", Field(D::IDC_MAXPRICE));
  EXPECT_EQ("1", Field(D::IDC_INCREMENT));
  EXPECT_EQ("1000", Field(D::IDC_PREPTIME));
  EXPECT_EQ(U("商品名称"), Field(D::IDC_TITLE));
  EXPECT_EQ("3333333", Field(D::IDC_OPENDEALID));
  EXPECT_EQ("0", Field(D::IDC_OPENPRICE));
  EXPECT_EQ("100", Field(D::IDC_OPENLAG));
  for (int id : {D::IDC_INCLUDE1, D::IDC_INCLUDE2, D::IDC_INCLUDE3, D::IDC_INCLUDE4, D::IDC_EXCLUDE1,
                 D::IDC_EXCLUDE2, D::IDC_EXCLUDE3, D::IDC_EXCLUDE4}) {
    EXPECT_EQ("", Field(id)) << id;
  }
  EXPECT_FALSE(IEBox()->isChecked());

  QStringList categories;
  QComboBox* category = Combo(D::IDC_CATEGORY);
  ASSERT_NE(category, nullptr);
  for (int i = 0; i < category->count(); ++i) categories << category->itemText(i);
  EXPECT_EQ(QStringList({U("全部商品"), U("家用电器"), U("手机数码"), U("电脑办公"), U("运动健康"),
                         U("箱包钟表"), U("其它商品")}),
            categories);
  EXPECT_EQ(0, category->currentIndex());
  auto* discount = Combo(D::IDC_DISCOUNT);
  ASSERT_NE(discount, nullptr);
  EXPECT_TRUE(discount->isEditable());
  QStringList limits;
  for (int i = 0; i < discount->count(); ++i) limits << discount->itemText(i);
  EXPECT_EQ(QStringList({"0.5", "0.6", "0.7", "0.8", "0.9", "1.0"}), limits);
  EXPECT_EQ("0.5", discount->currentText());

  EXPECT_EQ(9, SnipeView()->model()->columnCount());  // the seven of the template, 当前价 and 组
  EXPECT_EQ(0, SnipeView()->model()->rowCount());
  EXPECT_EQ(8, dlg->m_listResults->model()->columnCount());  // the seven of the template and 历史中位
  EXPECT_EQ(0, dlg->m_listResults->model()->rowCount());
  EXPECT_FALSE(dlg->Button(D::IDC_CANCELOPEN)->isEnabled());
  EXPECT_FALSE(dlg->windowIcon().isNull());

  // No message, one look at the update page (the pages tests open the
  // manual and tallyglass from the program folder given).
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(1u, server.LogFor("/update").size());
  EXPECT_EQ(-1, List().last);
  EXPECT_EQ(-1, dlg->m_nHitLast);
}

TEST_F(WindowTest, StartsCollapsedAndTogglesByThreeHundredFiftyScaledPixels) {
  ASSERT_TRUE(Open());
  QPushButton* toggle = dlg->Button(D::IDC_COLLAPSE);
  QPushButton* view = dlg->Button(D::IDC_VIEWITEM);
  const int collapsed = dlg->frameGeometry().height();
  EXPECT_EQ(U("扩展"), toggle->text());
  EXPECT_FALSE(view->isVisible());
  // Collapsed, the closing-snipe group with its list is whole and the
  // opening-snipe group is cut off.
  EXPECT_LE(SnipeView()->geometry().bottom(), dlg->height());
  EXPECT_GE(dlg->GetDlgItem(D::IDC_OPENDEALID)->geometry().top(), dlg->height());

  Press(D::IDC_COLLAPSE);
  EXPECT_EQ(collapsed + dlg->CollapseStep(), dlg->frameGeometry().height());
  EXPECT_EQ(U("收缩"), toggle->text());
  EXPECT_TRUE(view->isVisible());
  EXPECT_LE(dlg->m_listResults->geometry().bottom(), dlg->height());

  Press(D::IDC_COLLAPSE);
  EXPECT_EQ(collapsed, dlg->frameGeometry().height());
  EXPECT_EQ(U("扩展"), toggle->text());
  EXPECT_FALSE(view->isVisible());
  // With the template's 12-pixel line the step is exactly 350 pixels.
  EXPECT_EQ(350 * QFontMetrics(dlg->font()).height() / 12, dlg->CollapseStep());
}

TEST_F(WindowTest, CollapseDecidesByTheWindowsOwnStateNotTheCaption) {
  ASSERT_TRUE(Open());
  Press(D::IDC_COLLAPSE);  // expanded, caption 收缩
  const int expanded = dlg->height();
  dlg->Button(D::IDC_COLLAPSE)->setText(U("扩展"));  // a caption that disagrees
  dlg->OnCollapse();
  EXPECT_EQ(expanded - dlg->CollapseStep(), dlg->height());
  EXPECT_EQ(U("扩展"), dlg->Button(D::IDC_COLLAPSE)->text());
}

TEST_F(WindowTest, IEModeFollowsTheBox) {
  ASSERT_TRUE(Open());
  // Pages open in the login browser while it is ticked.
  ClickIEBox();
  EXPECT_TRUE(IEBox()->isChecked());
  EXPECT_EQ("login", PageRoute());
  ClickIEBox();
  EXPECT_FALSE(IEBox()->isChecked());
  EXPECT_EQ("default", PageRoute());
  // The keyboard toggles it the same way.
  IEBox()->setFocus();
  QTest::keyClick(IEBox(), Qt::Key_Space);
  EXPECT_EQ("login", PageRoute());
  EXPECT_TRUE(IEBox()->isChecked());
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(WindowTest, EnterInASnipeFieldAddsTheSnipeElsewhereRunsTheSearchAndNeverCloses) {
  ASSERT_TRUE(Open());
  dlg->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(dlg.get()));
  QSignalSpy search(dlg->Button(D::IDC_REFRESH), &QPushButton::clicked);
  QSignalSpy autoBid(dlg->Button(D::IDC_AUTOBID), &QPushButton::clicked);
  QSignalSpy finished(dlg.get(), &QDialog::finished);
  EXPECT_TRUE(dlg->Button(D::IDC_REFRESH)->isDefault());
  // A ceiling of 0 is refused before any read: the press itself is what counts.
  Type(D::IDC_MAXPRICE, "0");
  const struct {
    int id;
    bool snipe;
  } cases[] = {{D::IDC_DEALID, true},   {D::IDC_MAXPRICE, true},  {D::IDC_INCREMENT, true},
               {D::IDC_PREPTIME, true}, {D::IDC_INCLUDE1, false}, {D::IDC_EXCLUDE4, false},
               {D::IDC_OPENLAG, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    const int searches = search.count();
    const int adds = autoBid.count();
    Edit(c.id)->setFocus();
    QTest::keyClick(Edit(c.id), Qt::Key_Return);
    EXPECT_EQ(adds + (c.snipe ? 1 : 0), autoBid.count());
    EXPECT_EQ(searches + (c.snipe ? 0 : 1), search.count());
    Boxes();
  }
  auto* discount = qobject_cast<QComboBox*>(dlg->GetDlgItem(D::IDC_DISCOUNT));
  discount->lineEdit()->setText("0.65");
  const int searches = search.count();
  QTest::keyClick(discount->lineEdit(), Qt::Key_Enter);
  EXPECT_EQ(searches + 1, search.count());
  EXPECT_EQ(0, finished.count());
  EXPECT_TRUE(dlg->isVisible());
  // Enter in the editable combo takes the text without adding an item.
  EXPECT_EQ(6, discount->count());
  EXPECT_EQ("0.65", discount->currentText());
}

TEST_F(WindowTest, EscapeAndTheCloseBoxEndTheWindow) {
  ASSERT_TRUE(Open());
  QTest::keyClick(Edit(D::IDC_DEALID), Qt::Key_Escape);
  EXPECT_FALSE(dlg->isVisible());
  EXPECT_EQ(QDialog::Rejected, dlg->result());
  EXPECT_TRUE(Boxes().empty());  // no question asked

  ASSERT_TRUE(Open());
  EXPECT_TRUE(dlg->close());
  EXPECT_FALSE(dlg->isVisible());
}

// Layout: the template's rectangles, converted with the font in use, must
// leave every text readable and no control on top of another.
TEST_F(WindowTest, NoControlOverlapsAnotherAndNoTextIsClipped) {
  ASSERT_TRUE(Open());
  Press(D::IDC_COLLAPSE);
  std::vector<QWidget*> controls;
  for (QWidget* w : dlg->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
    if (!w->isVisible() || qobject_cast<QGroupBox*>(w)) continue;
    controls.push_back(w);
    EXPECT_TRUE(dlg->rect().contains(w->geometry())) << w->objectName().toStdString();
  }
  ASSERT_GT(controls.size(), 50u);
  for (std::size_t a = 0; a < controls.size(); ++a) {
    for (std::size_t b = a + 1; b < controls.size(); ++b) {
      EXPECT_FALSE(controls[a]->geometry().intersects(controls[b]->geometry()))
          << controls[a]->objectName().toStdString() << "/" << controls[a]->accessibleName().toStdString()
          << " overlaps " << controls[b]->objectName().toStdString() << "/"
          << controls[b]->accessibleName().toStdString();
    }
  }
  for (QLabel* l : dlg->findChildren<QLabel*>()) {
    const QFontMetrics fm(l->font());
    EXPECT_LE(fm.horizontalAdvance(l->text()), l->width()) << l->text().toStdString();
    EXPECT_LE(fm.height(), l->height()) << l->text().toStdString();
  }
  for (QPushButton* b : dlg->findChildren<QPushButton*>()) {
    const QFontMetrics fm(b->font());
    EXPECT_LT(fm.horizontalAdvance(b->text()), b->width()) << b->text().toStdString();
  }
  for (QGroupBox* g : dlg->findChildren<QGroupBox*>()) {
    EXPECT_LT(QFontMetrics(g->font()).horizontalAdvance(g->title()), g->width());
  }
  // The snipe controls sit inside their group, beside their labels.
  auto* deal = dlg->GetDlgItem(D::IDC_DEALID);
  EXPECT_EQ(platform::dialog::MapDialogRect(dlg->font(), QRect(65, 47, 62, 14)), deal->geometry());
  EXPECT_EQ(platform::dialog::MapDialogRect(dlg->font(), QRect(0, 0, 502, 406)).width(), dlg->width());
}

TEST_F(WindowTest, TheKeyboardReachesEveryControlInLayoutOrder) {
  ASSERT_TRUE(Open());
  Press(D::IDC_COLLAPSE);  // expanded: every control is on screen
  dlg->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(dlg.get()));
  dlg->Button(D::IDC_HOMEPAGE)->setFocus();
  std::vector<QWidget*> visited;
  for (int i = 0; i < 80; ++i) {
    QWidget* f = QApplication::focusWidget();
    ASSERT_NE(f, nullptr);
    if (f->parentWidget() && qobject_cast<QComboBox*>(f->parentWidget())) f = f->parentWidget();
    if (!visited.empty() && f == visited.front()) break;
    visited.push_back(f);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  }
  auto pos = [&](int id) {
    const auto it = std::find(visited.begin(), visited.end(), dlg->GetDlgItem(id));
    return it == visited.end() ? -1 : static_cast<int>(it - visited.begin());
  };
  const int order[] = {
      D::IDC_HOMEPAGE,   D::IDC_AUCTIONSITE, D::IDC_SERVICE,   D::IDC_MANUAL,       D::IDC_UPDATEHISTORY,
      D::IDC_PRICEQUERY, D::IDC_COLLAPSE,    D::IDC_IEMODE,    D::IDC_DEALID,       D::IDC_TITLE,
      D::IDC_MAXPRICE,   D::IDC_INCREMENT,   D::IDC_PREPTIME,  D::IDC_VIEWITEM,     D::IDC_MANUALBID,
      D::IDC_AUTOBID,    D::IDC_DELETE,      D::IDC_MODIFY,    D::IDC_CLEAR,        D::IDC_SNIPELIST,
      D::IDC_OPENDEALID, D::IDC_OPENPRICE,   D::IDC_OPENLAG,   D::IDC_OPENSNIPE,    D::IDC_INCLUDE1,
      D::IDC_INCLUDE2,   D::IDC_INCLUDE3,    D::IDC_INCLUDE4,  D::IDC_CLEARINCLUDE, D::IDC_EXCLUDE1,
      D::IDC_EXCLUDE2,   D::IDC_EXCLUDE3,    D::IDC_EXCLUDE4,  D::IDC_CLEAREXCLUDE, D::IDC_CATEGORY,
      D::IDC_DISCOUNT,   D::IDC_REFRESH,     D::IDC_RESULTLIST};
  int last = -1;
  for (int id : order) {
    const int p = pos(id);
    EXPECT_GT(p, last) << "control " << id << " not reached in order";
    last = std::max(last, p);
  }
}

TEST_F(WindowTest, ScreenReadersHearTheLabelOrTheCaption) {
  ASSERT_TRUE(Open());
  EXPECT_EQ("gavelhawk", QCoreApplication::applicationName());
  auto name = [](QWidget* w) {
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
    return a ? a->text(QAccessible::Name) : QString();
  };
  EXPECT_EQ(U("夺宝编号"), name(dlg->GetDlgItem(D::IDC_DEALID)));
  EXPECT_EQ(U("最高出价"), name(dlg->GetDlgItem(D::IDC_MAXPRICE)));
  EXPECT_EQ(U("加价幅度"), name(dlg->GetDlgItem(D::IDC_INCREMENT)));
  EXPECT_EQ(U("准备时间"), name(dlg->GetDlgItem(D::IDC_PREPTIME)));
  EXPECT_EQ(U("商品名称"), name(dlg->GetDlgItem(D::IDC_TITLE)));
  EXPECT_EQ(U("竞拍滞后"), name(dlg->GetDlgItem(D::IDC_OPENLAG)));
  // A combo box is named by its label through the labelled-by relation (its
  // own name is its current text on this platform).
  auto labelOf = [](QWidget* w) {
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
    const auto rel = a ? a->relations(QAccessible::Label) : decltype(a->relations()){};
    return rel.isEmpty() ? QString() : rel.first().first->text(QAccessible::Name);
  };
  EXPECT_EQ(U("搜索范围"), labelOf(dlg->GetDlgItem(D::IDC_CATEGORY)));
  EXPECT_EQ(U("最高折扣"), labelOf(dlg->GetDlgItem(D::IDC_DISCOUNT)));
  EXPECT_EQ(U("夺宝编号"), labelOf(dlg->GetDlgItem(D::IDC_DEALID)));
  EXPECT_TRUE(name(dlg->GetDlgItem(D::IDC_INCLUDE3)).startsWith(U("包含字段")));
  EXPECT_TRUE(name(dlg->GetDlgItem(D::IDC_EXCLUDE2)).startsWith(U("屏障字段")));
  EXPECT_EQ(U("刷新商品"), name(dlg->Button(D::IDC_REFRESH)));
  EXPECT_EQ(U("IE模式"), name(dlg->GetDlgItem(D::IDC_IEMODE)));
  EXPECT_EQ(U("元"), dlg->GetDlgItem(D::IDC_MAXPRICE)->accessibleDescription());
  // Every control has a name, and no two inputs share one.
  QStringList names;
  for (QWidget* w : dlg->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
    if (w->focusPolicy() == Qt::NoFocus) continue;
    const QString n = name(w);
    EXPECT_FALSE(n.isEmpty()) << w->objectName().toStdString();
    EXPECT_NE(U("×"), n) << w->objectName().toStdString();
    if (qobject_cast<QLineEdit*>(w)) {
      EXPECT_FALSE(names.contains(n)) << n.toStdString();
      names << n;
    }
  }
}

}  // namespace
}  // namespace uitest
