// What keeps the window trustworthy while the user looks away: the snipe
// list saved and restored, the question before quitting, the log and the
// notifications, the sleep inhibitor, the live countdown and the layout that
// follows the window's size.
#include <QAbstractButton>
#include <QDateTime>
#include <QDialog>
#include <QEvent>
#include <QGroupBox>
#include <QListWidget>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>
#include <algorithm>
#include <chrono>
#include <climits>
#include <optional>
#include <vector>

#include "gavelhawk/app/exchange.h"
#include "gavelhawk/gui/MainDlg.h"
#include "gavelhawk/gui/result_table.h"
#include "gavelhawk/gui/snipe_table.h"
#include "gavelhawk/log/event_log.h"
#include "gavelhawk/site/bid.h"
#include "gavelhawk/snipe/engine.h"
#include "gavelhawk/snipe/keeper.h"
#include "gavelhawk/snipe/reads.h"
#include "gavelhawk/snipe/saved_list.h"
#include "platform/power/power.h"
#include "platform/text/gbk.h"
#include "platform/text/qgbk.h"

namespace {

namespace log = gavelhawk::log;
using gavelhawk::ui::SavedSnipe;

std::string Utf8(const QString& s) { return s.toStdString(); }

// The log window: every event so far, newest last, following new ones.
class LogView : public QDialog {
 public:
  explicit LogView(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("日志"));
    setObjectName(QStringLiteral("LogView"));
    auto* box = new QVBoxLayout(this);
    list_ = new QListWidget(this);
    list_->setAccessibleName(QStringLiteral("日志"));
    list_->setUniformItemSizes(true);
    list_->setTextElideMode(Qt::ElideNone);  // a long line scrolls, it is not cut
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    box->addWidget(list_);
    resize(760, 400);
    // The log is written from any thread; the view reads it on its own.
    connect(&poll_, &QTimer::timeout, this, [this] { Reload(); });
    poll_.start(500);
    Reload();
  }
  QListWidget* List() const { return list_; }

  void Reload() {
    const std::vector<log::Event> events = log::Journal().Events();
    if (events.size() == shown_ && (events.empty() || events.back().wallMs == lastMs_)) return;
    const bool atEnd =
        list_->count() == 0 || list_->currentRow() == list_->count() - 1 || list_->currentRow() < 0;
    list_->clear();
    for (const log::Event& e : events) {
      list_->addItem(QString::fromStdString(log::FormatTime(e.wallMs) + "  " + e.text));
    }
    shown_ = events.size();
    lastMs_ = events.empty() ? 0 : events.back().wallMs;
    if (atEnd) list_->scrollToBottom();
  }

 private:
  QListWidget* list_ = nullptr;
  QTimer poll_;
  std::size_t shown_ = 0;
  std::int64_t lastMs_ = 0;
};

}  // namespace

struct CMainDlg::KeepState : QObject {
  explicit KeepState(CMainDlg* d) : dlg(d) {}
  bool eventFilter(QObject* watched, QEvent* e) override {
    if (watched == dlg && e->type() == QEvent::Resize) dlg->LayoutToSize();
    return false;
  }
  CMainDlg* dlg;

  // Layout: every control's rectangle at the template's size.
  QSize templateSize;
  std::vector<std::pair<QPointer<QWidget>, QRect>> base;
  QWidget* snipeGroup = nullptr;
  QWidget* openGroup = nullptr;
  QWidget* searchGroup = nullptr;
  bool collapsed = false;
  int expandedHeight = 0;

  // The kept list, the notices and the inhibitor follow the list's changes.
  std::unique_ptr<gavelhawk::snipe::Keeper> keeper;
  bool saveFailureTold = false;
  // Changes within kSaveDelay are written once, off the window's thread.
  static constexpr int kSaveDelayMs = 250;
  QTimer saveDelay;
  std::unique_ptr<gavelhawk::ui::ListSaver> saver;

  QTimer countdown;

  bool quitConfirmed = false;
  QPointer<LogView> logView;
};

// ---------------------------------------------------------------------------
// Layout.

void CMainDlg::KeepTemplateLayout() {
  m_keep = std::make_shared<KeepState>(this);
  m_keep->templateSize = size();
  m_keep->expandedHeight = height();
  const auto groups = findChildren<QGroupBox*>(QString(), Qt::FindDirectChildrenOnly);
  if (groups.size() >= 3) {
    m_keep->snipeGroup = groups[0];
    m_keep->openGroup = groups[1];
    m_keep->searchGroup = groups[2];
  }
  for (QWidget* w : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
    m_keep->base.emplace_back(w, w->geometry());
  }
  installEventFilter(m_keep.get());
  connect(&m_keep->countdown, &QTimer::timeout, this, [this] { OnCountdownTick(); });
  m_keep->saveDelay.setSingleShot(true);
  connect(&m_keep->saveDelay, &QTimer::timeout, this, [this] { SaveSnipeList(); });
  using gavelhawk::snipe::Keeper;
  Keeper::Sinks sinks;
  sinks.log = [](const std::string& line) { log::Log(line); };
  sinks.notify = [](const std::string& title, const std::string& body) { log::Notify(title, body); };
  sinks.save = [this] {
    if (!m_keep->saveDelay.isActive()) m_keep->saveDelay.start(KeepState::kSaveDelayMs);
  };
  if (platform::power::SleepInhibitor* inhibitor = m_services.inhibitor) {
    sinks.hold = [inhibitor](const std::string& why, std::string* error) {
      using Held = platform::power::SleepInhibitor::Held;
      const Held held = inhibitor->Hold(QString::fromStdString(why));
      *error = inhibitor->LastError().toStdString();
      return held == Held::Login1        ? Keeper::Held::Login1
             : held == Held::ScreenSaver ? Keeper::Held::ScreenSaver
                                         : Keeper::Held::None;
    };
    sinks.release = [inhibitor] { inhibitor->Release(); };
  }
  m_keep->keeper = std::make_unique<Keeper>(std::move(sinks));
  // A changed row repaints its own cells; rows that came or went rebuild the list.
  m_snipeList.changed = [this](int i) {
    if (i < 0) {
      RefreshSnipeList();
      return;
    }
    RefreshSnipeRow(i);
    SnipeListChanged();
  };
}

void CMainDlg::SaveSnipeList() {
  if (!m_keep) return;
  KeepState& k = *m_keep;
  k.saveDelay.stop();
  std::optional<std::vector<SavedSnipe>> rows = k.keeper->RowsToSave(m_snipeList, m_bIEMode);
  if (!rows) return;
  if (!k.saver) {
    // The saver ends with m_keep, before the window: its events find the window.
    k.saver = std::make_unique<gavelhawk::ui::ListSaver>(m_services.savedListPath,
                                                         [this](bool ok, const std::string& error) {
                                                           if (ok) return;
                                                           log::Log(error);
                                                           QMetaObject::invokeMethod(
                                                               this,
                                                               [this, error] {
                                                                 if (!m_keep) return;
                                                                 m_keep->keeper->SaveFailed();
                                                                 if (m_keep->saveFailureTold) return;
                                                                 m_keep->saveFailureTold = true;
                                                                 Message(QString::fromStdString(error));
                                                               },
                                                               Qt::QueuedConnection);
                                                         });
  }
  k.saver->Save(std::move(*rows), m_bIEMode);
}

void CMainDlg::FlushSnipeList() {
  if (!m_keep) return;
  if (m_keep->saveDelay.isActive()) SaveSnipeList();
  if (m_keep->saver) m_keep->saver->Wait();
}

void CMainDlg::LayoutToSize() {
  if (!m_keep || m_keep->base.empty()) return;
  KeepState& k = *m_keep;
  const int h = k.collapsed ? k.expandedHeight : height();
  const int dw = std::max(0, width() - k.templateSize.width());
  const int dh = std::max(0, h - k.templateSize.height());
  // The snipe list takes a third of the extra height, the results the rest.
  const int snipeShare = dh / 3;
  const int resultShare = dh - snipeShare;
  int lowerTop = INT_MAX;  // everything from the opening snipe down moves
  for (const auto& [w, r] : k.base) {
    if (w == k.openGroup) lowerTop = r.top();
  }
  for (const auto& [w, r0] : k.base) {
    if (!w) continue;
    QRect r = r0;
    if (w == m_listSnipe || w == k.snipeGroup) {
      r.setWidth(r.width() + dw);
      r.setHeight(r.height() + snipeShare);
    } else if (w == m_listResults || w == k.searchGroup) {
      r.translate(0, snipeShare);
      r.setWidth(r.width() + dw);
      r.setHeight(r.height() + resultShare);
    } else if (r.top() >= lowerTop) {
      r.translate(0, snipeShare);
      if (w == k.openGroup) r.setWidth(r.width() + dw);
    }
    if (w->geometry() != r) w->setGeometry(r);
  }
}

bool CMainDlg::IsCollapsed() const { return m_keep && m_keep->collapsed; }

int CMainDlg::EnterCollapsed() {
  KeepState& k = *m_keep;
  k.expandedHeight = std::max(height(), k.templateSize.height());
  k.collapsed = true;
  const int dh = k.expandedHeight - k.templateSize.height();
  return std::max(1, k.templateSize.height() - CollapseStep() + dh / 3);
}

void CMainDlg::ExpandKeepingOnScreen() {
  KeepState& k = *m_keep;
  k.collapsed = false;
  setMinimumHeight(k.templateSize.height());
  setMaximumHeight(QWIDGETSIZE_MAX);
  int h = std::max(k.expandedHeight, k.templateSize.height());
  QScreen* s = screen();
  if (!s || !isVisible()) {
    resize(width(), h);
    return;
  }
  // The frame (caption bar, borders) counts: the whole window must fit.
  const QRect avail = s->availableGeometry();
  const QRect frame = frameGeometry();
  const int extraW = frame.width() - width();
  const int extraH = frame.height() - height();
  // A window the user made taller than the screen gives back what it must.
  h = std::max(k.templateSize.height(), std::min(h, avail.height() - extraH));
  resize(width(), h);
  int x = frame.x();
  int y = frame.y();
  if (y + h + extraH > avail.bottom() + 1) y = avail.bottom() + 1 - (h + extraH);
  if (x + width() + extraW > avail.right() + 1) x = avail.right() + 1 - (width() + extraW);
  x = std::max(x, avail.left());
  y = std::max(y, avail.top());
  if (x != frame.x() || y != frame.y()) move(x, y);
}

// ---------------------------------------------------------------------------
// The kept list, the log and the notifications, the sleep inhibitor.

int CMainDlg::WaitingSnipeCount() const { return gavelhawk::snipe::WaitingForBid(m_snipeList); }

void CMainDlg::RestoreSnipeList() {
  m_keep->countdown.start(1000);
  if (m_services.savedListPath.empty()) return;
  bool keep = true;
  gavelhawk::ui::LoadedList loaded =
      gavelhawk::ui::LoadSnipes(m_services.savedListPath, QDateTime::currentMSecsSinceEpoch());
  if (!loaded.problem.empty()) {
    std::string told = loaded.problem;
    if (loaded.setAside.empty()) {
      // The file is still there and may hold the user's list: never write over it.
      keep = false;
      told += "\n本次运行不保存抢拍列表。";
    }
    log::Log(told);
    Message(QString::fromStdString(told));
  }
  // The rows fire in the mode they were armed in.
  if (loaded.ieMode != m_bIEMode) {
    m_bIEMode = loaded.ieMode;
    if (auto* box = qobject_cast<QAbstractButton*>(GetDlgItem(IDC_IEMODE))) box->setChecked(m_bIEMode);
    if (m_engine) m_engine->SetBidsItself(m_bIEMode);
  }
  if (keep) m_keep->keeper->KeepFrom(loaded.rows, loaded.ieMode);
  if (loaded.rows.empty()) return;
  const int n = static_cast<int>(std::min<std::size_t>(loaded.rows.size(), kSnipeSlots));
  int waiting = 0;
  for (int i = 0; i < n; ++i) {
    SnipeItem& row = m_snipes[static_cast<std::size_t>(i)];
    row = loaded.rows[static_cast<std::size_t>(i)];
    row.nRemain = -1;
    if (row.Waiting()) ++waiting;
  }
  for (const std::int32_t id : loaded.missed) {
    log::Log(Utf8(QStringLiteral("夺宝编号 %1 在程序未运行时已结束，未出价").arg(id)));
  }
  m_nSnipeLast = n - 1;
  log::Log(Utf8(QStringLiteral("恢复抢拍列表：%1 个商品，%2 个等待竞拍").arg(n).arg(waiting)));
  // Armed again from a fresh read of the closing time and the clock; the
  // engine decides nothing from what was known before the restart. A row
  // whose bid may have left never bids again: only its outcome is read.
  for (int i = 0; i < n; ++i) {
    SnipeItem& row = m_snipes[static_cast<std::size_t>(i)];
    if (!row.Waiting()) continue;
    row.nKey = m_nNextKey++;
    const std::uint64_t key = row.nKey;
    if (row.bBidSent) {
      row.strState = platform::text::Utf8ToGbk(gavelhawk::site::kStateBidPlaced);
      row.ePhase = gavelhawk::snipe::SnipePhase::BidSent;
      SnipeEngine().AwaitOutcome(key, row, 0);
      continue;
    }
    // Kept as waiting while its closing time is read again.
    row.nRemain = 0;
    row.strState = platform::text::Utf8ToGbk(gavelhawk::site::kStateWaiting);
    row.ePhase = gavelhawk::snipe::SnipePhase::Arming;
    auto result = std::make_shared<gavelhawk::snipe::AuctionRead>();
    RunSiteRead(
        [result, siteUrl = m_services.siteUrl, id = row.nDealId](platform::http::Transport& t) {
          *result = gavelhawk::snipe::ReadAuction(t, siteUrl, id, false);
        },
        [this, result, key] {
          const int j = m_snipeList.RowOfKey(key);
          if (j < 0) return;
          SnipeItem& r = m_snipes[static_cast<std::size_t>(j)];
          if (!result->failed && result->endTime > 0) {
            r.nEndTime = result->endTime;
          } else {
            log::Log(
                Utf8(QStringLiteral("夺宝编号 %1 的结束时间未能重新读取，按保存的时间布置").arg(r.nDealId)));
          }
          ArmRow(j);
          m_snipeList.Touch(j);
        });
  }
}

void CMainDlg::SnipeListChanged() {
  if (m_keep) m_keep->keeper->Changed(m_snipeList);
}

bool CMainDlg::ConfirmQuit() {
  if (!m_keep || m_keep->quitConfirmed) return true;
  const int waiting = WaitingSnipeCount();
  if (waiting == 0 && !m_bOpenWaiting) return true;
  // The opening snipe is not saved: quitting loses it for good, so it is named.
  const QString open =
      QStringLiteral("开卖抢拍（夺宝编号 %1）还在等待开卖，退出后不会出价").arg(m_nOpenDealId);
  QString question;
  if (waiting > 0 && m_bOpenWaiting) {
    question = QStringLiteral("还有%1个商品等待竞拍。\n%2。\n确定退出吗？").arg(waiting).arg(open);
  } else if (waiting > 0) {
    question = QStringLiteral("还有%1个商品等待竞拍，确定退出吗？").arg(waiting);
  } else {
    question = QStringLiteral("%1，确定退出吗？").arg(open);
  }
  if (Message(question, QString(), platform::dialog::Buttons::OkCancelCancelDefault) !=
      platform::dialog::Answer::Ok) {
    return false;
  }
  m_keep->quitConfirmed = true;
  if (waiting > 0) {
    log::Log(Utf8(QStringLiteral("退出：%1 个等待竞拍的商品不再抢拍，下次启动时恢复").arg(waiting)));
  }
  if (m_bOpenWaiting) log::Log(Utf8(QStringLiteral("退出：") + open));
  return true;
}

// ---------------------------------------------------------------------------
// The live countdown.

std::int64_t CMainDlg::CountdownClock() const {
  if (m_services.siteNow) return m_services.siteNow();
  if (m_engine) {
    if (const std::optional<std::int64_t> now = m_engine->SiteNow()) return *now;
  }
  if (!m_keep) return 0;
  return m_keep->keeper->SiteNow().value_or(0);
}

void CMainDlg::OnCountdownTick() {
  if (const std::int64_t now = CountdownClock(); now > 0) {
    for (int i = 0; i < m_snipeTable->rowCount(); ++i) {
      if (!SnipeWaiting(i)) continue;
      m_snipeTable->SetRemain(
          i, QString::fromStdString(gavelhawk::ui::FormatRemain(m_snipeList.Row(i).nEndTime - now)));
    }
  }
  // The search counts its hits down itself; the view repaints what changed.
  m_resultTable->Tick();
}

// ---------------------------------------------------------------------------
// The log window.

void CMainDlg::OnShowLog() {
  if (!m_keep->logView) m_keep->logView = new LogView(this);
  m_keep->logView->show();
  m_keep->logView->raise();
  m_keep->logView->activateWindow();
}
