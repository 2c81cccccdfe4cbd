// Renders the main window, collapsed and expanded, to PNG files for a look
// at the layout without a display: gavelhawk_ui_shot /tmp/gh
#include <QApplication>
#include <QTreeWidget>

#include "gavelhawk/ui/MainDlg.h"
#include "platform/text/gbk.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const QString prefix = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("gavelhawk");
  CMainDlg dlg(MainDlgServices{});
  dlg.OnInitDialog();
  // A few rows so that the lists show their cells too.
  for (int i = 0; i < 3; ++i) {
    SnipeItem& s = dlg.m_snipes[static_cast<std::size_t>(i)];
    s.nDealId = 4000000 + i;
    s.strTitle = platform::text::Utf8ToGbk("全新 华为 P60 手机 256G 曜金黑");
    s.strState = platform::text::Utf8ToGbk(i == 0 ? "准备竞拍" : "出价成功");
    s.nMaxPrice = 500 + i;
    s.nIncrement = 1;
    s.nPrepTime = 1000;
    s.nRemain = 125400 * i;
    SearchHit& h = dlg.m_hits[static_cast<std::size_t>(i)];
    h.nDealId = 5000000 + i;
    h.strTitle = platform::text::Utf8ToGbk("九成新 联想 ThinkPad X1 Carbon 笔记本电脑");
    h.strStatus = platform::text::Utf8ToGbk("九成新");
    h.strRemain = platform::text::Utf8ToGbk(" 3分 5秒");
    h.fDiscount = i == 2 ? -1.0f : 0.25f;
    h.nCurPrice = 100 * i;
    h.nListPrice = i == 2 ? 0 : 4999;
  }
  dlg.m_nSnipeLast = 2;
  dlg.m_nHitLast = 2;
  dlg.RefreshSnipeList();
  dlg.RefreshResultList();
  dlg.show();
  QApplication::processEvents();
  dlg.grab().save(prefix + QStringLiteral("-collapsed.png"));
  dlg.OnCollapse();
  QApplication::processEvents();
  dlg.grab().save(prefix + QStringLiteral("-expanded.png"));
  return 0;
}
