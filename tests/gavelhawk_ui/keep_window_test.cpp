// The window a user can leave running: the list kept across restarts, the
// question before quitting, the live countdown, the log and the desktop
// notice of a result, and a window that grows.
#include <QApplication>
#include <QDateTime>
#include <QFile>
#include <QGroupBox>
#include <QListWidget>
#include <QScreen>
#include <QTemporaryDir>

#include "fixture.h"
#include "gavelhawk/app/exchange.h"
#include "gavelhawk/log/event_log.h"
#include "gavelhawk/snipe/saved_list.h"

namespace uitest {
namespace {

using D = CMainDlg;
using gavelhawk::ui::SavedSnipe;

class KeepTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    // The site's clock is the wall clock, frozen: a restart compares closing
    // times with the wall clock.
    t0 = QDateTime::currentMSecsSinceEpoch();
    server.SetClock(t0, /*running=*/false);
    savedList = (dir.path() + "/Gavelhawk/snipes.json").toStdString();
  }

  void AddAuction(std::int64_t id, std::int64_t closesInMs) {
    sim::Auction a;
    a.id = id;
    a.title = "测试商品 " + std::to_string(id);
    a.listPrice = 1000;
    a.startMs = t0 - 3600000;
    a.endMs = t0 + closesInMs;
    server.AddAuction(a);
  }
  void Snipe(std::int64_t id, int ceiling = 300) {
    Type(D::IDC_DEALID, QString::number(id));
    Type(D::IDC_MAXPRICE, QString::number(ceiling));
    Type(D::IDC_INCREMENT, "2");
    Type(D::IDC_PREPTIME, "500");
    // The detail read runs off the window's thread, then the engine arms the row.
    ASSERT_TRUE(WaitUntil([&] { return dlg->Button(D::IDC_AUTOBID)->isEnabled(); }));
    const int row = List().last + 1;
    Press(D::IDC_AUTOBID);
    ASSERT_TRUE(WaitUntil([&] {
      return List().last == row && List().Row(static_cast<std::size_t>(row)).nDueSite != 0;
    })) << "row "
        << row << " was not armed";
  }
  MainDlgServices Kept() {
    MainDlgServices s = Services();
    s.savedListPath = savedList;
    return s;
  }
  QString Shown(QTreeView* list, int row, int column) const {
    const QModelIndex item = list->model()->index(row, column);
    return item.isValid() ? item.data().toString() : QStringLiteral("<no row %1>").arg(row);
  }
  std::vector<std::string> Bids() const {
    std::vector<std::string> out;
    for (const auto& r : server.LogFor("/json/paimai/bid?")) out.push_back(r.target);
    return out;
  }
  // A remaining time the countdown may show for a row armed `armedS` seconds
  // before its closing: never more, and not yet closed.
  static bool CountsDownFrom(const QString& shown, int armedS) {
    for (int s = 1; s <= armedS; ++s)
      if (shown == QString::fromStdString(gavelhawk::ui::FormatRemain(s * 1000LL))) return true;
    return false;
  }
  // The limit is only for a hung program: a busy machine never reaches it.
  static bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 60000) {
    return QTest::qWaitFor(done, timeoutMs);
  }

  QTemporaryDir dir;
  std::string savedList;
  std::int64_t t0 = 0;
};

TEST_F(KeepTest, TheListComesBackAtStartAndARowThatClosedMeanwhileNeverBids) {
  AddAuction(4000001, 600000);
  AddAuction(4000002, 900000);
  ASSERT_TRUE(Open(Kept()));
  Snipe(4000001);
  Snipe(4000002);
  ASSERT_EQ(2, dlg->WaitingSnipeCount());
  platform::dialog::QueueAnswer(platform::dialog::Answer::Ok);
  ASSERT_TRUE(dlg->close());
  EXPECT_EQ(QStringList{U("还有2个商品等待竞拍，确定退出吗？")}, Texts(Boxes()));
  dlg.reset();

  // While the program was off, 4000002 closed; a row already finished stays
  // as it was.
  if (dlg) dlg->FlushSnipeList();
  auto kept = gavelhawk::ui::LoadSnipes(savedList, t0);
  ASSERT_EQ(2u, kept.rows.size());
  EXPECT_TRUE(kept.rows[0].Waiting());
  EXPECT_TRUE(kept.rows[1].Waiting());
  kept.rows[1].nEndTime = t0 - 1000;
  SavedSnipe done = kept.rows[0];
  done.nDealId = 4000003;
  done.strState = Gbk("出价成功");
  done.ePhase = gavelhawk::snipe::SnipePhase::Finished;
  kept.rows.push_back(done);
  // Its bid may have left before the program was ended: never bid again,
  // only the outcome is read.
  AddAuction(4000004, -1000);
  server.UpdateAuction(4000004, [](sim::Auction& a) { a.bids.push_back({"bob", 50, 0}); });
  SavedSnipe sent = kept.rows[0];
  sent.nDealId = 4000004;
  sent.nEndTime = t0 - 1000;
  sent.bBidSent = true;
  kept.rows.push_back(sent);
  ASSERT_TRUE(gavelhawk::ui::SaveSnipes(savedList, kept.rows));
  server.ClearLog();

  ASSERT_TRUE(Open(Kept()));
  EXPECT_TRUE(Boxes().empty());
  struct Row {
    const char* id;
    const char* title;
    const char* state;
    const char* remain;
    bool waiting;
  };
  const Row want[] = {{"4000001", "测试商品 4000001", "准备竞拍", "10分0秒", true},
                      {"4000002", "测试商品 4000002", "已结束(未运行)", "已结束", false},
                      {"4000003", "测试商品 4000001", "出价成功", "已结束", false},  // a copy of the first
                      {"4000004", "测试商品 4000001", "结果未确认(当前价50)", "已结束", false}};
  ASSERT_EQ(4, SnipeView()->model()->rowCount());
  // The waiting row is armed again by the engine from a fresh clock read.
  ASSERT_TRUE(WaitUntil([&] { return List().Row(0).nDueSite != 0; }));
  ASSERT_TRUE(WaitUntil([&] { return Shown(SnipeView(), 3, 2) != U("出价成功"); }));
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(U(want[i].id), Shown(SnipeView(), i, 0));
    EXPECT_EQ(U(want[i].title), Shown(SnipeView(), i, 1));
    EXPECT_EQ(U(want[i].state), Shown(SnipeView(), i, 2));
    EXPECT_EQ("300", Shown(SnipeView(), i, 3));
    EXPECT_EQ("2", Shown(SnipeView(), i, 4));
    EXPECT_EQ("500", Shown(SnipeView(), i, 5));
    // The countdown may already have moved the waiting row on.
    const QString remain = Shown(SnipeView(), i, 6);
    EXPECT_TRUE(remain == U(want[i].remain) || (want[i].waiting && CountsDownFrom(remain, 600)))
        << remain.toStdString();
    EXPECT_EQ(want[i].waiting, dlg->SnipeWaiting(i));
  }
  // Only the waiting row read its closing again; nothing was bid.
  EXPECT_TRUE(Bids().empty());
  EXPECT_TRUE(server.LogFor("/detail/4000002").empty());
  EXPECT_FALSE(server.LogFor("/detail/4000001").empty());  // its closing time read again
  EXPECT_FALSE(server.LogFor("/detail/3333333").empty());  // a fresh clock read
  // What the window shows is what it keeps.
  if (dlg) dlg->FlushSnipeList();
  const auto rewritten = gavelhawk::ui::LoadSnipes(savedList, t0);
  ASSERT_EQ(4u, rewritten.rows.size());
  EXPECT_FALSE(rewritten.rows[3].Waiting());
  EXPECT_EQ(Gbk("已结束(未运行)"), rewritten.rows[1].strState);
  EXPECT_FALSE(rewritten.rows[1].Waiting());

  // A change is kept at once.
  platform::dialog::QueueAnswer(platform::dialog::Answer::Ok);  // 清空抢拍 asks while a row waits
  Press(D::IDC_CLEAR);
  if (dlg) dlg->FlushSnipeList();
  EXPECT_TRUE(gavelhawk::ui::LoadSnipes(savedList, t0).rows.empty());
}

TEST_F(KeepTest, ADamagedListIsSetAsideToldOnceAndTheWindowStartsEmpty) {
  QDir().mkpath(dir.path() + "/Gavelhawk");
  QFile f(QString::fromStdString(savedList));
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write("{\"version\":1,\"snipes\":[{\"dealId\":40");
  f.close();
  ASSERT_TRUE(Open(Kept()));
  const QStringList told = Texts(Boxes());
  ASSERT_EQ(1, told.size());
  EXPECT_TRUE(told[0].startsWith(U("抢拍列表文件已损坏，已另存为 ") + QString::fromStdString(savedList) +
                                 ".damaged-"))
      << told[0].toStdString();
  EXPECT_EQ(0, SnipeView()->model()->rowCount());
  EXPECT_EQ(1, QDir(dir.path() + "/Gavelhawk").entryList({"snipes.json.damaged-*"}, QDir::Files).size());
  dlg.reset();
  ASSERT_TRUE(Open(Kept()));
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(KeepTest, ClosingWhileRowsWaitAsksAndCancelKeepsThemRunning) {
  AddAuction(4000001, 600000);
  AddAuction(4000002, 900000);
  struct Case {
    const char* how;
    platform::dialog::Answer answer;
  };
  const Case cases[] = {{"Escape", platform::dialog::Answer::Cancel},
                        {"close box", platform::dialog::Answer::Cancel},
                        {"Escape", platform::dialog::Answer::Ok},
                        {"close box", platform::dialog::Answer::Ok}};
  for (const Case& c : cases) {
    const bool ok = c.answer == platform::dialog::Answer::Ok;
    SCOPED_TRACE(std::string(c.how) + (ok ? " OK" : " Cancel"));
    ASSERT_TRUE(Open(Services()));
    Snipe(4000001);
    Snipe(4000002);
    Boxes();
    platform::dialog::QueueAnswer(c.answer);
    if (std::string(c.how) == "Escape") {
      QTest::keyClick(Edit(D::IDC_DEALID), Qt::Key_Escape);
    } else {
      dlg->close();
    }
    const auto boxes = Boxes();
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ(U("还有2个商品等待竞拍，确定退出吗？"), boxes[0].text);
    EXPECT_EQ(platform::dialog::Buttons::OkCancelCancelDefault, boxes[0].buttons);
    EXPECT_EQ(!ok, dlg->isVisible());
    // Cancel keeps them waiting; OK ends them with the window (the saved list
    // keeps them for the next start).
    if (!ok) {
      EXPECT_EQ(2, dlg->WaitingSnipeCount());
    }
    EXPECT_EQ(U("准备竞拍"), Shown(SnipeView(), 1, 2));
  }
}

TEST_F(KeepTest, TheRemainingTimesCountDownWithTheSiteClock) {
  AddAuction(4000001, 600000);
  std::int64_t siteNow = t0;
  MainDlgServices s = Services();
  s.siteNow = [&siteNow] { return siteNow; };
  ASSERT_TRUE(Open(s));
  Snipe(4000001);
  // Arming stored what the engine's clock said then; the countdown counts
  // from the site clock given.
  const std::int64_t armed = List().Row(0).nRemain;
  dlg->OnCountdownTick();
  ASSERT_EQ(U("10分0秒"), Shown(SnipeView(), 0, 6));
  dlg->m_hits[0].strRemain = Gbk(" 3分 5秒");
  dlg->m_hits[1].strRemain = Gbk("50秒");
  dlg->m_nHitLast = 1;
  dlg->RefreshResultList();

  // One tick of the countdown, 65 s later by the site's clock.
  siteNow += 65000;
  dlg->OnCountdownTick();
  EXPECT_EQ(U("8分55秒"), Shown(SnipeView(), 0, 6));
  EXPECT_EQ(U(" 2分 0秒"), Shown(dlg->m_listResults, 0, 3));
  EXPECT_EQ(U("已结束"), Shown(dlg->m_listResults, 1, 3));
  // The row keeps what arming stored; only the text moves.
  EXPECT_EQ(armed, List().Row(0).nRemain);
}

TEST_F(KeepTest, TheCountdownRunsOnTheEnginesClockEstimate) {
  AddAuction(4000001, 600000);
  ASSERT_TRUE(Open(Services()));
  Snipe(4000001);
  // Without a site clock of its own the countdown counts from the engine's
  // estimate: the text is that of a clock read between two of the engine's,
  // however long the tick took.
  const std::int64_t end = List().Row(0).nEndTime;
  const std::int64_t before = dlg->SnipeEngine().SiteNow().value_or(0);
  ASSERT_GE(before, t0);  // the site's clock as read, running on from there
  dlg->OnCountdownTick();
  const std::int64_t after = dlg->SnipeEngine().SiteNow().value_or(0);
  bool between = false;
  for (std::int64_t sec = (end - after) / 1000; sec <= (end - before) / 1000; ++sec)
    between = between ||
              Shown(SnipeView(), 0, 6) == QString::fromStdString(gavelhawk::ui::FormatRemain(sec * 1000));
  EXPECT_TRUE(between) << Shown(SnipeView(), 0, 6).toStdString();
}

TEST_F(KeepTest, ABidResultIsToldOnTheDesktopAndInTheLog) {
  std::vector<std::string> told;
  gavelhawk::log::SetNotifier(
      [&told](const std::string& title, const std::string& body) { told.push_back(title + "|" + body); });
  AddAuction(4000001, 2600);  // the bid is due at once
  ASSERT_TRUE(Open(Services()));
  ClickIEBox();
  Snipe(4000001);
  ASSERT_TRUE(WaitUntil([&] { return !Bids().empty(); }));
  ASSERT_TRUE(WaitUntil([&] { return !told.empty(); }));
  gavelhawk::log::SetNotifier(nullptr);
  EXPECT_EQ((std::vector<std::string>{"Gavelhawk|夺宝编号 4000001 测试商品 4000001：出价成功"}), told);
  EXPECT_EQ(0, dlg->WaitingSnipeCount());

  Press(D::IDC_LOG);
  auto* list = dlg->findChild<QListWidget*>();
  ASSERT_NE(list, nullptr);
  QStringList lines;
  for (int i = 0; i < list->count(); ++i) lines << list->item(i)->text();
  const QString all = lines.join('\n');
  EXPECT_TRUE(all.contains(U("夺宝编号 4000001 已设定抢拍"))) << all.toStdString();
  EXPECT_TRUE(all.contains(U("夺宝编号 4000001 测试商品 4000001：出价成功"))) << all.toStdString();
  EXPECT_TRUE(QRegularExpression(R"(^\d\d:\d\d:\d\d\.\d{3}  )").match(lines.last()).hasMatch())
      << lines.last().toStdString();
}

TEST_F(KeepTest, BothListsGrowWithTheWindowAndExpandingKeepsItOnTheScreen) {
  ASSERT_TRUE(Open(Services()));
  Press(D::IDC_COLLAPSE);  // expanded, at the template's size
  const QSize base = dlg->size();
  EXPECT_EQ(base, dlg->minimumSize());
  QWidget* snipes = SnipeView();
  QWidget* hits = dlg->GetDlgItem(D::IDC_RESULTLIST);
  const QRect snipe = snipes->geometry();
  const QRect results = hits->geometry();
  const QRect search = dlg->Button(D::IDC_REFRESH)->geometry();
  const QRect top = dlg->Button(D::IDC_HOMEPAGE)->geometry();

  dlg->resize(base.width() + 120, base.height() + 300);
  QCoreApplication::processEvents();
  EXPECT_EQ(snipe.adjusted(0, 0, 120, 100), snipes->geometry());
  EXPECT_EQ(results.adjusted(0, 100, 120, 300), hits->geometry());
  EXPECT_EQ(search.translated(0, 100), dlg->Button(D::IDC_REFRESH)->geometry());
  EXPECT_EQ(top, dlg->Button(D::IDC_HOMEPAGE)->geometry());

  // Back at the template's size every control is where it was.
  dlg->resize(base);
  QCoreApplication::processEvents();
  EXPECT_EQ(snipe, snipes->geometry());
  EXPECT_EQ(results, hits->geometry());

  // Collapsed low on the screen, 扩展 moves the window up so all of it shows.
  Press(D::IDC_COLLAPSE);
  const QRect avail = dlg->screen()->availableGeometry();
  dlg->move(avail.left() + 10, avail.bottom() - dlg->frameGeometry().height());
  QCoreApplication::processEvents();
  Press(D::IDC_COLLAPSE);
  QCoreApplication::processEvents();
  const QRect frame = dlg->frameGeometry();
  EXPECT_EQ(base.height(), dlg->height());
  ASSERT_LE(frame.height(), avail.height());
  EXPECT_GE(frame.top(), avail.top());
  EXPECT_LE(frame.bottom(), avail.bottom());
  EXPECT_GE(frame.left(), avail.left());
}

TEST_F(KeepTest, IEModeIsKeptWithTheListAcrossARestart) {
  AddAuction(4000001, 600000);
  for (const bool ticked : {true, false}) {
    SCOPED_TRACE(ticked);
    ASSERT_TRUE(Open(Kept()));
    if (IEBox()->isChecked() != ticked) ClickIEBox();
    if (List().last < 0) Snipe(4000001);
    platform::dialog::QueueAnswer(platform::dialog::Answer::Ok);
    ASSERT_TRUE(dlg->close());
    dlg.reset();
    ASSERT_TRUE(Open(Kept()));
    EXPECT_EQ(ticked, IEBox()->isChecked());
    EXPECT_EQ(ticked ? "login" : "default", PageRoute());
    EXPECT_EQ(1, dlg->WaitingSnipeCount());
    Boxes();
  }
}

TEST_F(KeepTest, EnterAfterModifyNeverEmptiesTheListWithoutAsking) {
  AddAuction(4000001, 600000);
  AddAuction(4000002, 900000);
  ASSERT_TRUE(Open(Kept()));
  dlg->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(dlg.get()));
  Snipe(4000001);
  Snipe(4000002);
  ClickList(SnipeView(), 0);
  Type(D::IDC_MAXPRICE, "320");
  dlg->Button(D::IDC_MODIFY)->setFocus();
  Press(D::IDC_MODIFY);
  ASSERT_TRUE(WaitUntil([&] { return List().Row(0).nMaxPrice == 320 && List().Row(0).nDueSite != 0; }));
  // The focus is back on 修改商品, so the next Enter changes the row again.
  EXPECT_EQ(dlg->Button(D::IDC_MODIFY), QApplication::focusWidget());
  Boxes();
  // Enter on 清空抢拍 asks; Cancel, the default, keeps every row waiting.
  dlg->Button(D::IDC_CLEAR)->setFocus();
  QTest::keyClick(dlg->Button(D::IDC_CLEAR), Qt::Key_Return);
  auto boxes = Boxes();
  ASSERT_EQ(1u, boxes.size());
  EXPECT_EQ(U("确定清空全部2个等待竞拍的商品吗？"), boxes[0].text);
  EXPECT_EQ(platform::dialog::Buttons::OkCancelCancelDefault, boxes[0].buttons);
  EXPECT_EQ(2, dlg->WaitingSnipeCount());
  if (dlg) dlg->FlushSnipeList();
  EXPECT_EQ(2u, gavelhawk::ui::LoadSnipes(savedList, t0).rows.size());
  platform::dialog::QueueAnswer(platform::dialog::Answer::Ok);
  QTest::keyClick(dlg->Button(D::IDC_CLEAR), Qt::Key_Return);
  EXPECT_EQ(-1, List().last);
  if (dlg) dlg->FlushSnipeList();
  EXPECT_TRUE(gavelhawk::ui::LoadSnipes(savedList, t0).rows.empty());
  // With nothing waiting there is nothing to ask.
  Boxes();
  Press(D::IDC_CLEAR);
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(KeepTest, EscapeWithAnOpeningSnipeArmedAsksAndCancelKeepsIt) {
  sim::Auction a;
  a.id = 4000009;
  a.title = "开卖商品";
  a.startMs = t0 + 600000;
  a.endMs = t0 + 1200000;
  server.AddAuction(a);
  ASSERT_TRUE(Open(Services()));
  Type(D::IDC_OPENDEALID, "4000009");
  Type(D::IDC_OPENPRICE, "50");
  Press(D::IDC_OPENSNIPE);
  Boxes();
  // Cancel (nothing queued: a box closed without a choice) keeps the window.
  QTest::keyClick(Edit(D::IDC_OPENDEALID), Qt::Key_Escape);
  auto boxes = Boxes();
  ASSERT_EQ(1u, boxes.size());
  EXPECT_EQ(U("开卖抢拍（夺宝编号 4000009）还在等待开卖，退出后不会出价，确定退出吗？"), boxes[0].text);
  EXPECT_EQ(platform::dialog::Buttons::OkCancelCancelDefault, boxes[0].buttons);
  EXPECT_TRUE(dlg->isVisible());
  EXPECT_EQ(U("等待抢拍"), dlg->Button(D::IDC_OPENSNIPE)->text());
  // Once cancelled nothing waits: Escape ends the window without a question.
  Press(D::IDC_CANCELOPEN);
  QTest::keyClick(Edit(D::IDC_OPENDEALID), Qt::Key_Escape);
  EXPECT_TRUE(Boxes().empty());
  EXPECT_FALSE(dlg->isVisible());
}

TEST_F(KeepTest, ACeilingTheCurrentPriceHasReachedAsksAndCancelArmsNothing) {
  sim::Auction a;
  a.id = 4000001;
  a.title = "测试商品 4000001";
  a.startMs = t0 - 3600000;
  a.endMs = t0 + 600000;
  a.lowerOffset = 10;
  a.bids = {{"rival", 1465, t0 - 60000}};
  server.AddAuction(a);
  ASSERT_TRUE(Open(Services()));
  Boxes();
  Type(D::IDC_DEALID, "4000001");
  Type(D::IDC_MAXPRICE, "100");
  Type(D::IDC_INCREMENT, "1");
  Press(D::IDC_AUTOBID);
  ASSERT_TRUE(WaitUntil([&] { return dlg->Button(D::IDC_AUTOBID)->isEnabled(); }));
  auto boxes = Boxes();
  ASSERT_EQ(1u, boxes.size());
  EXPECT_EQ(U("当前价 1465 已不低于最高出价 100，仍要添加吗？"), boxes[0].text);
  EXPECT_EQ(platform::dialog::Buttons::OkCancelCancelDefault, boxes[0].buttons);
  EXPECT_EQ(-1, List().last);
  EXPECT_TRUE(server.LogFor("/detail/3333333").empty()) << "nothing was armed";
  // The increment the site raised is said in the window's title and the log.
  const QString raised = U("夺宝编号 4000001：加价幅度 1 元低于本站最小加价，已改为 10 元");
  EXPECT_TRUE(dlg->windowTitle().contains(raised)) << dlg->windowTitle().toStdString();
  bool logged = false;
  for (const auto& e : gavelhawk::log::Journal().Events()) logged = logged || e.text == raised.toStdString();
  EXPECT_TRUE(logged);

  // OK arms it, and the list shows the current price it was armed at.
  platform::dialog::QueueAnswer(platform::dialog::Answer::Ok);
  Press(D::IDC_AUTOBID);
  ASSERT_TRUE(WaitUntil([&] { return List().last == 0 && List().Row(0).nDueSite != 0; }));
  EXPECT_EQ(U("当前价"), SnipeView()->model()->headerData(7, Qt::Horizontal).toString());
  EXPECT_EQ("1465", Shown(SnipeView(), 0, 7));
  EXPECT_EQ(10, List().Row(0).nIncrement);
}

}  // namespace
}  // namespace uitest
