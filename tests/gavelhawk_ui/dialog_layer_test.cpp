// The dialog layer: dialog units, the dialog font, message boxes (scripted
// and real) and the numbered one-shot timers.
#include <QApplication>
#include <QFontDatabase>
#include <QFontInfo>
#include <QMessageBox>
#include <QTimer>

#include "fixture.h"

namespace uitest {
namespace {

using namespace platform::dialog;

TEST(DialogUnits, FourHorizontalUnitsAreOneAverageLetterAndEightVerticalOneLine) {
  for (int size : {9, 12, 20}) {
    QFont f = DialogFont();
    f.setPointSize(size);
    const QFontMetrics fm(f);
    const double average =
        fm.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") / 52.0;
    const QRect r = MapDialogRect(f, QRect(0, 0, 4, 8));
    // The platform rounds the average to a whole base unit.
    EXPECT_NEAR(average, r.width(), 0.51) << size;
    EXPECT_EQ(fm.height(), r.height()) << size;
    // Larger rectangles scale with it, and adjacent ones share an edge
    // without a gap or an overlap.
    const QRect a = MapDialogRect(f, QRect(12, 7, 50, 20));
    const QRect b = MapDialogRect(f, QRect(62, 7, 50, 20));
    EXPECT_EQ(a.right() + 1, b.left()) << size;
    EXPECT_EQ(a.height(), b.height());
    EXPECT_NEAR(50.0 * r.width() / 4, a.width(), 1.0) << size;
  }
}

TEST(DialogUnits, TheDialogFontIsNinePointCjk) {
  const QFont f = DialogFont();
  EXPECT_EQ(9, f.pointSize());
  const QStringList installed = QFontDatabase::families();
  if (installed.contains("WenQuanYi Micro Hei") || installed.contains("Noto Sans CJK SC")) {
    const QString used = QFontInfo(f).family();
    EXPECT_TRUE(used.contains("WenQuanYi") || used.contains("Noto")) << used.toStdString();
  }
}

class ScriptedBoxes : public ::testing::Test {
 protected:
  void SetUp() override { SetScripted(true); }
  void TearDown() override { SetScripted(false); }
};

TEST_F(ScriptedBoxes, QueuedAnswersAreGivenInOrderAndEveryBoxIsRecorded) {
  QueueAnswer(Answer::Cancel);
  QueueAnswer(Answer::Ok);
  EXPECT_EQ(Answer::Cancel, MessageBox(nullptr, "first", "C1", Buttons::OkCancel));
  EXPECT_EQ(Answer::Ok, MessageBox(nullptr, "second", "C2", Buttons::OkCancel));
  const auto boxes = TakeShownBoxes();
  ASSERT_EQ(2u, boxes.size());
  EXPECT_EQ("first", boxes[0].text);
  EXPECT_EQ("C1", boxes[0].caption);
  EXPECT_EQ("second", boxes[1].text);
  EXPECT_TRUE(TakeShownBoxes().empty());
}

TEST_F(ScriptedBoxes, AnOkOnlyBoxAlwaysGivesOkAndAnUnansweredOneIsClosed) {
  QueueAnswer(Answer::Cancel);
  EXPECT_EQ(Answer::Ok, MessageBox(nullptr, "only ok", "C", Buttons::Ok));
  EXPECT_EQ(Answer::Ok, MessageBox(nullptr, "nothing queued", "C", Buttons::Ok));
  EXPECT_EQ(Answer::Cancel, MessageBox(nullptr, "nothing queued", "C", Buttons::OkCancel));
  EXPECT_EQ(3u, TakeShownBoxes().size());
}

TEST_F(ScriptedBoxes, TimersFireWhileABoxIsOpen) {
  WindowTimers timers;
  std::vector<int> fired;
  timers.onTimer = [&](int id) { fired.push_back(id); };
  timers.SetTimer(4, 0);
  QueueAnswer(Answer::Ok, 100);
  MessageBox(nullptr, "wait", "C", Buttons::Ok);
  EXPECT_EQ(std::vector<int>{4}, fired);  // delivered before the box returned
}

TEST(RealBoxes, ShowTheCaptionTheTextAsPlainTextAndTheButtons) {
  QString caption, text;
  Qt::TextFormat format = Qt::AutoText;
  int buttons = 0;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    caption = box->windowTitle();
    text = box->text();
    format = box->textFormat();
    buttons = static_cast<int>(box->buttons().size());
    box->button(QMessageBox::Cancel)->click();
  });
  EXPECT_EQ(Answer::Cancel, MessageBox(nullptr, "<b>1</b>", U("更新"), Buttons::OkCancel));
  EXPECT_EQ(U("更新"), caption);
  EXPECT_EQ("<b>1</b>", text);
  EXPECT_EQ(Qt::PlainText, format);
  EXPECT_EQ(2, buttons);

  QTimer::singleShot(0, [] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    QTest::keyClick(box, Qt::Key_Return);
  });
  EXPECT_EQ(Answer::Ok, MessageBox(nullptr, "ok?", "C", Buttons::OkCancel));

  // A question whose OK loses something: Enter answers Cancel. With Qt's own
  // translations the buttons speak Chinese.
  ASSERT_TRUE(platform::dialog::InstallQtTranslations());
  QStringList shown;
  QTimer::singleShot(0, [&shown] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    for (QAbstractButton* b : box->buttons()) shown << b->text().remove(QLatin1Char('&'));
    QTest::keyClick(box, Qt::Key_Return);
  });
  EXPECT_EQ(Answer::Cancel, MessageBox(nullptr, "clear?", "C", Buttons::OkCancelCancelDefault));
  shown.sort();
  EXPECT_EQ(QStringList({U("取消"), U("确定")}), shown);
}

TEST(Timers, EachIdFiresOnceIntoTheHandler) {
  WindowTimers timers;
  std::vector<int> fired;
  timers.onTimer = [&](int id) { fired.push_back(id); };
  timers.SetTimer(7, 0);
  timers.SetTimer(999, 0);
  timers.SetTimer(3, 600000);
  EXPECT_TRUE(QTest::qWaitFor([&] { return fired.size() == 2; }, 5000));
  std::sort(fired.begin(), fired.end());
  EXPECT_EQ((std::vector<int>{7, 999}), fired);
  EXPECT_FALSE(timers.IsSet(7));
  EXPECT_EQ(-1, timers.RequestedDelay(7));
  EXPECT_EQ(std::vector<int>{3}, timers.RunningIds());
  QTest::qWait(20);
  EXPECT_EQ(2u, fired.size());  // one shot each
}

TEST(Timers, ResettingRestartsKillingStopsAndTheHandlerMayRearm) {
  WindowTimers timers;
  int count = 0;
  timers.onTimer = [&](int id) {
    if (++count == 1) timers.SetTimer(id, 0);  // re-armed from its own handler
  };
  timers.SetTimer(5, 600000);
  EXPECT_EQ(600000, timers.RequestedDelay(5));
  timers.SetTimer(5, 0);
  EXPECT_EQ(0, timers.RequestedDelay(5));
  EXPECT_TRUE(QTest::qWaitFor([&] { return count == 2; }, 5000));
  EXPECT_FALSE(timers.IsSet(5));

  timers.SetTimer(6, 0);
  timers.KillTimer(6);
  timers.KillTimer(42);  // never set: nothing happens
  QTest::qWait(20);
  EXPECT_EQ(2, count);
  EXPECT_TRUE(timers.RunningIds().empty());
  // A negative delay fires as soon as the loop runs.
  timers.SetTimer(8, -50);
  EXPECT_TRUE(QTest::qWaitFor([&] { return count == 3; }, 5000));
}

}  // namespace
}  // namespace uitest
