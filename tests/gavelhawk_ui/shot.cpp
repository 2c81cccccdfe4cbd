// Renders the main window, collapsed, expanded and enlarged, and the log
// window, to PNG files for a look at the layout without a display:
// gavelhawk_ui_shot /tmp/gh. On a real display (QT_QPA_PLATFORM=xcb) it also
// saves the whole screen after 扩展 from the screen's lower edge.
#include <QApplication>
#include <QListWidget>
#include <QScreen>
#include <QThread>

#include "gavelhawk/gui/MainDlg.h"
#include "gavelhawk/log/event_log.h"
#include "platform/text/gbk.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const QString prefix = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("gavelhawk");
  CMainDlg dlg(MainDlgServices{});
  dlg.OnInitDialog();
  // A few rows so that the lists show their cells too.
  for (int i = 0; i < 3; ++i) {
    SnipeItem& s = dlg.Snipes().rows[static_cast<std::size_t>(i)];
    s.nDealId = 4000000 + i;
    s.strTitle = platform::text::Utf8ToGbk("全新 华为 P60 手机 256G 曜金黑");
    s.strState = platform::text::Utf8ToGbk(i == 0 ? "准备竞拍" : "出价成功");
    s.nMaxPrice = 500 + i;
    s.nIncrement = 1;
    s.nPrepTime = 1000;
    s.nRemain = 125400 * i;
    s.nCurPrice = 320 + 15 * i;
    SearchHit h;
    h.nDealId = 5000000 + i;
    h.strTitle = platform::text::Utf8ToGbk("九成新 联想 ThinkPad X1 Carbon 笔记本电脑");
    h.strStatus = platform::text::Utf8ToGbk("九成新");
    h.strRemain = platform::text::Utf8ToGbk(" 3分 5秒");
    h.fDiscount = i == 2 ? -1.0f : 0.25f;
    h.nCurPrice = 100 * i;
    h.nListPrice = i == 2 ? 0 : 4999;
    dlg.Search().Store(i, h);
  }
  dlg.Snipes().last = 2;
  dlg.RefreshSnipeList();
  dlg.show();
  auto settle = [] {
    for (int i = 0; i < 20; ++i) {
      QApplication::processEvents();
      QThread::msleep(10);
    }
  };
  settle();
  dlg.grab().save(prefix + QStringLiteral("-collapsed.png"));
  const QRect avail = dlg.screen()->availableGeometry();
  dlg.move(avail.left() + 40, avail.bottom() - dlg.frameGeometry().height());
  settle();
  dlg.OnCollapse();
  settle();
  dlg.grab().save(prefix + QStringLiteral("-expanded.png"));
  if (QGuiApplication::platformName() == QStringLiteral("xcb")) {
    dlg.screen()->grabWindow(0).save(prefix + QStringLiteral("-screen.png"));
  }
  dlg.resize(dlg.width() + 300, dlg.height() + 120);
  settle();
  dlg.grab().save(prefix + QStringLiteral("-resized.png"));
  gavelhawk::log::Log(
      "夺宝编号 4000000 已设定抢拍：距结束 2分5秒，最高出价 500 元，加价 1 元，准备时间 1000 毫秒");
  gavelhawk::log::Log("站点时钟估计：比本机时钟快 120 毫秒");
  dlg.OnShowLog();
  settle();
  if (auto* log = dlg.findChild<QListWidget*>())
    log->window()->grab().save(prefix + QStringLiteral("-log.png"));
  return 0;
}
