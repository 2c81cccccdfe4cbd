// The snipe list and the opening snipe in the window. The window only edits
// rows and shows what the snipe engine reports; every site request runs off
// its thread.
#include <QApplication>
#include <QPushButton>
#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "gavelhawk/gui/MainDlg.h"
#include "gavelhawk/log/event_log.h"
#include "gavelhawk/site/bid.h"
#include "gavelhawk/site/detail.h"
#include "gavelhawk/snipe/engine.h"
#include "gavelhawk/snipe/keeper.h"
#include "gavelhawk/snipe/plan.h"
#include "gavelhawk/snipe/reads.h"
#include "gavelhawk/snipe/saved_list.h"
#include "platform/shell/shell.h"
#include "platform/text/gbk.h"
#include "platform/text/qgbk.h"
#include "site/fetch.h"
#include "site/paths.h"

namespace {

namespace snipe = gavelhawk::snipe;
using platform::text::Utf8ToGbk;

static_assert(snipe::kSnipeSlots == CMainDlg::kSnipeSlots);

QString Text(const char* utf8) { return QString::fromUtf8(utf8); }

void SetCaption(QPushButton* b, const char* utf8) {
  if (b) b->setText(Text(utf8));
}

void Enable(QPushButton* b, bool on) {
  if (b) b->setEnabled(on);
}

// The reads before arming a row, and the current price from the bid records.
struct PricedRead {
  snipe::AuctionRead read;
  std::int64_t current = 0;  // 0: not read
};

// The records of an auction that can still be bid on; 0 when they could not
// be read (a failed request, or no answer at all).
std::int64_t ReadPrice(platform::http::Transport& t, const std::string& siteUrl, std::int32_t dealId,
                       const snipe::AuctionRead& read) {
  if (read.failed || read.endTime <= 0 || (read.found && read.detail.status == 2)) return 0;
  const ::site::PageResult r =
      ::site::FetchPageChecked(t, siteUrl + ::site::BidRecordsPath(dealId), ::site::RequestDeadline());
  if (r.failed || r.text.empty()) return 0;
  return gavelhawk::site::ReadCurrentPrice(r.text);
}

std::int64_t MonoUs(snipe::MonoTime t) {
  return std::chrono::duration_cast<std::chrono::microseconds>(t.time_since_epoch()).count();
}

}  // namespace

void CMainDlg::RunSiteRead(std::function<void(platform::http::Transport&)> work, std::function<void()> done,
                           const std::function<std::unique_ptr<platform::http::Transport>()>& newTransport) {
  auto read = std::make_unique<SiteRead>();
  const auto& make = newTransport ? newTransport : m_services.newTransport;
  if (make) read->transport = make();
  if (!read->transport)
    read->transport = std::make_unique<platform::http::CurlTransport>(::site::SiteHttpOptions());
  platform::http::Transport* t = read->transport.get();
  const std::uint64_t id = read->id = m_nNextReadId++;
  read->thread = std::thread([this, t, id, work = std::move(work), done = std::move(done)]() mutable {
    work(*t);
    QMetaObject::invokeMethod(
        this,
        [this, id, done = std::move(done)] {
          // The thread has nothing left to do but end. A read that is no
          // longer listed was stopped with the window: it reports nothing.
          auto it = std::find_if(m_siteReads.begin(), m_siteReads.end(),
                                 [id](const std::unique_ptr<SiteRead>& r) { return r->id == id; });
          if (it == m_siteReads.end()) return;
          (*it)->thread.join();
          m_siteReads.erase(it);
          done();
        },
        Qt::QueuedConnection);
  });
  m_siteReads.push_back(std::move(read));
}

void CMainDlg::StopSnipeWork() {
  FlushSnipeList();
  for (auto& r : m_siteReads) r->transport->Cancel(true);
  for (auto& r : m_siteReads)
    if (r->thread.joinable()) r->thread.join();
  m_siteReads.clear();
  m_engine.reset();
  m_bSnipeReading = false;
}

gavelhawk::snipe::Engine& CMainDlg::SnipeEngine() {
  if (m_engine) return *m_engine;
  snipe::EngineConfig config;
  config.siteUrl = m_services.siteUrl;
  config.transport = m_services.newTransport
                         ? m_services.newTransport()
                         : std::make_unique<platform::http::CurlTransport>(::site::SiteHttpOptions());
  config.newTransport = [newTransport =
                             m_services.newTransport]() -> std::unique_ptr<platform::http::Transport> {
    if (newTransport) return newTransport();
    return std::make_unique<platform::http::CurlTransport>(::site::SiteHttpOptions());
  };
  config.requestDeadline = ::site::RequestDeadline();
  snipe::EngineEvents events;
  // The engine's thread hands every event to the window's thread.
  events.row = [this](const snipe::RowEvent& e) {
    QMetaObject::invokeMethod(
        this, [this, e] { OnEngineRow(e); }, Qt::QueuedConnection);
  };
  events.open = [this](const snipe::OpenEvent& e) {
    QMetaObject::invokeMethod(
        this, [this, e] { OnEngineOpen(e); }, Qt::QueuedConnection);
  };
  events.log = [this](const snipe::LogLine& l) {
    // The program's log (the 日志 view and the log file) is safe from any thread.
    gavelhawk::log::Log(l.text);
    QMetaObject::invokeMethod(
        this,
        [this, l] {
          if (m_snipeLog.size() >= kSnipeLogLines) m_snipeLog.erase(m_snipeLog.begin());
          m_snipeLog.push_back(l.text);
        },
        Qt::QueuedConnection);
  };
  // The saved list keeps the row as "bid sent" before the bid may leave, so a
  // restart never bids on it again.
  events.bidSending = [path = m_services.savedListPath](std::uint64_t, std::int32_t dealId) {
    if (!path.empty()) gavelhawk::ui::MarkBidSent(path, dealId);
  };
  m_engine = std::make_unique<snipe::Engine>(std::move(config), std::move(events));
  m_engine->SetBidsItself(m_bIEMode);
  return *m_engine;
}

void CMainDlg::EnableSnipeReads(bool on) {
  m_bSnipeReading = !on;
  // A disabled button passes its focus on (to 清空抢拍): it comes back, so
  // that the next Enter presses the button the user pressed.
  if (!on) {
    QWidget* f = QApplication::focusWidget();
    m_readFocus = (f == Button(IDC_AUTOBID) || f == Button(IDC_MODIFY)) ? f : nullptr;
  }
  Enable(Button(IDC_AUTOBID), on);
  Enable(Button(IDC_MODIFY), on);
  if (on && m_readFocus) m_readFocus->setFocus(Qt::OtherFocusReason);
}

bool CMainDlg::ReadSnipeFields() {
  // A field that is not a whole number has had its message: stop there.
  if (!UpdateData(true)) return false;
  if (m_engine) m_engine->SetBidsItself(m_bIEMode);
  if (m_nMaxPrice < 1 || m_nIncrement < 1) {
    Message(Text("最高出价和加价幅度必须大于0"));
    return false;
  }
  if (m_nGroup < 0) {
    Message(Text("抢拍组必须是不小于0的整数（0表示不分组）"));
    if (QWidget* f = GetDlgItem(IDC_GROUP)) f->setFocus(Qt::OtherFocusReason);
    return false;
  }
  if (m_nPrepTime < gavelhawk::ui::kMinPrepTimeMs || m_nPrepTime > gavelhawk::ui::kMaxPrepTimeMs) {
    Message(Text("准备时间必须在%1到%2毫秒之间")
                .arg(gavelhawk::ui::kMinPrepTimeMs)
                .arg(gavelhawk::ui::kMaxPrepTimeMs));
    return false;
  }
  return true;
}

bool CMainDlg::CeilingAccepted(std::int64_t current, std::int32_t maxPrice) {
  // A ceiling the auction has already reached can only bring a refused bid.
  if (current <= 0 || maxPrice > current) return true;
  return Message(Text("当前价 %1 已不低于最高出价 %2，仍要添加吗？").arg(current).arg(maxPrice), QString(),
                 platform::dialog::Buttons::OkCancelCancelDefault) == platform::dialog::Answer::Ok;
}

void CMainDlg::ArmRow(int i) {
  SnipeItem& row = m_snipes[static_cast<std::size_t>(i)];
  // A fresh name for each arming: whatever the engine still says about an
  // earlier one finds no row.
  if (row.nKey) SnipeEngine().Remove(row.nKey);
  row.nKey = m_nNextKey++;
  row.strState = Utf8ToGbk(gavelhawk::site::kStateWaiting);
  row.nRemain = 0;
  row.nDueSite = 0;
  row.ePhase = snipe::SnipePhase::Arming;
  row.bBidSent = false;
  SnipeEngine().Arm(row.nKey, row);
}

void CMainDlg::OnAutoBid() {
  if (m_bSnipeReading) return;
  if (!ReadSnipeFields()) return;
  std::vector<std::int32_t> ids;
  for (const SnipeItem& row : m_snipes) ids.push_back(row.nDealId);
  const int found = snipe::FindRow(ids, m_nSnipeLast, m_nDealId);
  if (found >= 0) {
    if (Message(Text("该商品已存在,是否修改参数?"), Text("注意"), platform::dialog::Buttons::OkCancel) ==
        platform::dialog::Answer::Ok) {
      m_nSnipeSel = found;
      OnModifySnipe();
    }
    return;
  }
  if (!snipe::HasRoom(m_nSnipeLast)) {
    Message(Text("商品列表过多，超出上限"));
    return;
  }
  struct Typed {
    std::int32_t dealId, maxPrice, increment, prepTime, group;
  };
  const Typed typed{m_nDealId, m_nMaxPrice, m_nIncrement, m_nPrepTime, m_nGroup};
  auto result = std::make_shared<PricedRead>();
  const std::string siteUrl = m_services.siteUrl;
  EnableSnipeReads(false);
  RunSiteRead(
      [result, siteUrl, typed](platform::http::Transport& t) {
        result->read = snipe::ReadAuction(t, siteUrl, typed.dealId, true);
        result->current = ReadPrice(t, siteUrl, typed.dealId, result->read);
      },
      [this, all = result, typed] {
        const snipe::AuctionRead* result = &all->read;
        EnableSnipeReads(true);
        if (result->failed) {
          Message(Text(gavelhawk::site::kMsgNetworkError) + QString::fromStdString(result->error));
          return;
        }
        if (!result->found) {
          Message(Text(gavelhawk::site::kMsgNoSuchAuction));
          return;
        }
        m_strTitle = result->detail.title;
        ShowSnipeHistory(typed.dealId, result->detail.title);
        m_nIncrement =
            gavelhawk::site::BoundIncrement(typed.increment, result->detail.lower, result->detail.higher);
        // An ended auction leaves the fields as typed.
        if (result->detail.status == 2) {
          Message(Text(gavelhawk::site::kMsgNoSuchAuction));
          return;
        }
        UpdateData(false);
        if (m_nIncrement > typed.increment) {
          const QString told = Text("夺宝编号 %1：加价幅度 %2 元低于本站最小加价，已改为 %3 元")
                                   .arg(typed.dealId)
                                   .arg(typed.increment)
                                   .arg(m_nIncrement);
          gavelhawk::log::Log(told.toStdString());
          ShowStatus(told);
        }
        if (!CeilingAccepted(all->current, typed.maxPrice)) return;
        if (!snipe::HasRoom(m_nSnipeLast)) {
          Message(Text("商品列表过多，超出上限"));
          return;
        }
        SnipeItem& row = m_snipes[static_cast<std::size_t>(++m_nSnipeLast)];
        row = SnipeItem{};
        row.nDealId = typed.dealId;
        row.strTitle = result->detail.title;
        row.nMaxPrice = typed.maxPrice;
        row.nIncrement = m_nIncrement;
        row.nPrepTime = typed.prepTime;
        row.nGroup = typed.group;
        row.nEndTime = result->endTime;
        row.nCurPrice = all->current;
        ArmRow(m_nSnipeLast);
        RefreshSnipeList();
      });
}

void CMainDlg::OnModifySnipe() {
  if (m_nSnipeSel < 0 || m_nSnipeSel > m_nSnipeLast) return;
  if (m_bSnipeReading) return;
  if (!ReadSnipeFields()) return;
  const std::uint64_t key = m_snipes[static_cast<std::size_t>(m_nSnipeSel)].nKey;
  SnipeItem typed;
  typed.nDealId = m_nDealId;
  typed.strTitle = m_strTitle;
  typed.nMaxPrice = m_nMaxPrice;
  typed.nIncrement = m_nIncrement;
  typed.nPrepTime = m_nPrepTime;
  typed.nGroup = m_nGroup;
  auto result = std::make_shared<PricedRead>();
  const std::string siteUrl = m_services.siteUrl;
  EnableSnipeReads(false);
  RunSiteRead(
      [result, siteUrl, id = typed.nDealId](platform::http::Transport& t) {
        result->read = snipe::ReadAuction(t, siteUrl, id, false);
        result->current = ReadPrice(t, siteUrl, id, result->read);
      },
      [this, result, typed, key] {
        EnableSnipeReads(true);
        if (result->read.failed) {
          Message(Text(gavelhawk::site::kMsgNetworkError) + QString::fromStdString(result->read.error));
          return;
        }
        if (result->read.found) ShowSnipeHistory(typed.nDealId, result->read.detail.title);
        if (!CeilingAccepted(result->current, typed.nMaxPrice)) return;
        // The row may have been deleted or cleared meanwhile.
        const int i = m_snipeList.RowOfKey(key);
        if (i < 0) return;
        SnipeItem& row = m_snipes[static_cast<std::size_t>(i)];
        const std::uint64_t keep = row.nKey;
        row = typed;
        row.nKey = keep;
        row.nEndTime = result->read.endTime;
        row.nCurPrice = result->current;
        ArmRow(i);
        m_snipeList.Touch(i);
      });
}

void CMainDlg::OnDeleteSnipe() {
  if (m_nSnipeSel < 0 || m_nSnipeSel > m_nSnipeLast) return;
  UpdateData(true);
  snipe::DeletePlan plan = snipe::PlanDelete(m_nSnipeSel, m_nSnipeLast);
  if (plan.freedIndex < 0) return;
  SnipeEngine().Remove(m_snipes[static_cast<std::size_t>(m_nSnipeSel)].nKey);
  // Rows move with their values, state and key: the engine knows them by
  // key, so their timing stays as it was.
  for (const snipe::RowMove& m : plan.moves)
    m_snipes[static_cast<std::size_t>(m.to)] = m_snipes[static_cast<std::size_t>(m.from)];
  m_snipes[static_cast<std::size_t>(plan.freedIndex)].nKey = 0;
  if (!plan.moves.empty()) {
    // The fields show the last row that moved, as they always have after a
    // delete.
    ShowSnipeInFields(plan.moves.back().to);
  }
  m_nSnipeSel = plan.freedIndex;
  m_nSnipeLast = plan.newLast;
  RefreshSnipeList();
}

void CMainDlg::OnClearSnipes() {
  if (const int waiting = WaitingSnipeCount(); waiting > 0) {
    if (Message(Text("确定清空全部%1个等待竞拍的商品吗？").arg(waiting), QString(),
                platform::dialog::Buttons::OkCancelCancelDefault) != platform::dialog::Answer::Ok) {
      return;
    }
  }
  if (m_engine) m_engine->Clear();
  for (int i = 0; i <= m_nSnipeLast && i < kSnipeSlots; ++i) m_snipes[static_cast<std::size_t>(i)].nKey = 0;
  m_nSnipeLast = -1;
  RefreshSnipeList();
}

void CMainDlg::OnEngineRow(const gavelhawk::snipe::RowEvent& e) {
  const int i = m_snipeList.Apply(e);
  if (i < 0) return;
  const SnipeItem& row = m_snipeList.Row(i);
  if (!e.handOverUrl.empty() && m_services.opener) m_services.opener->OpenUrl(e.handOverUrl);
  // The bid's own notice comes from the list's change (the row stops waiting);
  // the outcome after closing is told here.
  if (e.kind == snipe::RowEvent::Kind::Result) {
    gavelhawk::log::Notify(
        "Gavelhawk", QStringLiteral("夺宝编号 %1 %2：%3")
                         .arg(row.nDealId)
                         .arg(platform::text::GbkToQString(row.strTitle), QString::fromStdString(e.state))
                         .toStdString());
  }
}

bool CMainDlg::SnipeWaiting(int i) const { return gavelhawk::snipe::WaitsForBid(m_snipeList.Row(i)); }

void CMainDlg::OnEngineOpen(const gavelhawk::snipe::OpenEvent& e) {
  // 取消开卖抢 came first: the event was already on its way.
  if (!Button(IDC_CANCELOPEN)->isEnabled()) return;
  m_bOpenWaiting = false;
  if (!e.handOverUrl.empty() && m_services.opener) m_services.opener->OpenUrl(e.handOverUrl);
  SetCaption(Button(IDC_OPENSNIPE), e.status.c_str());
}

void CMainDlg::OnOpenSnipe() {
  if (!UpdateData(true)) return;
  SetCaption(Button(IDC_OPENSNIPE), "等待抢拍");
  m_bOpenWaiting = true;
  Enable(Button(IDC_OPENSNIPE), false);
  Enable(Button(IDC_CANCELOPEN), true);
  SnipeEngine().SetBidsItself(m_bIEMode);
  SnipeEngine().CancelOpen();
  const std::uint64_t generation = ++m_nOpenGeneration;
  const std::int32_t id = m_nOpenDealId;
  const std::int64_t lag = m_nOpenLag;
  const std::string url = SiteUrl(::site::BidPath(m_nOpenDealId, m_nOpenPrice));
  struct Read {
    ::site::PageResult page;
    snipe::MonoTime sent, received;
  };
  auto result = std::make_shared<Read>();
  const std::string pageUrl = SiteUrl(::site::DetailPath(id));
  RunSiteRead(
      [result, pageUrl](platform::http::Transport& t) {
        result->sent = snipe::MonoClock::now();
        result->page = ::site::FetchPageChecked(t, pageUrl, ::site::PageDeadline());
        result->received = snipe::MonoClock::now();
      },
      [this, result, generation, lag, url] {
        // 取消开卖抢 while the page was read: nothing is armed.
        if (generation != m_nOpenGeneration) return;
        m_strOpenBidUrl = url;
        if (result->page.failed) {
          m_bOpenWaiting = false;
          Message(Text(gavelhawk::site::kMsgNetworkError) + QString::fromStdString(result->page.error));
          SetCaption(Button(IDC_OPENSNIPE), "开卖抢拍");
          return;
        }
        const gavelhawk::site::OpeningRead times = gavelhawk::site::ReadOpening(result->page.text);
        const snipe::OpenPlan plan = snipe::PlanOpen(lag, times.opening, times.now);
        if (plan.refused) {
          m_bOpenWaiting = false;
          Message(Text("该商品不可抢拍"));
          SetCaption(Button(IDC_OPENSNIPE), "开卖抢拍");
          return;
        }
        // The site wrote its clock about half way through the read.
        const std::int64_t midUs = (MonoUs(result->sent) + MonoUs(result->received)) / 2;
        const snipe::MonoTime fireAt(std::chrono::microseconds(midUs + plan.delayMs * 1000LL));
        SnipeEngine().ArmOpen(url, fireAt);
      });
}

void CMainDlg::OnCancelOpenSnipe() {
  m_bOpenWaiting = false;
  Enable(Button(IDC_OPENSNIPE), true);
  Enable(Button(IDC_CANCELOPEN), false);
  ++m_nOpenGeneration;
  if (m_engine) m_engine->CancelOpen();
}
