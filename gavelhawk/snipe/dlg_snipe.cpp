// The snipe list, its closing-snipe timers and the opening snipe.
#include <QPushButton>
#include <vector>

#include "gavelhawk/site/bid.h"
#include "gavelhawk/site/detail.h"
#include "gavelhawk/snipe/plan.h"
#include "gavelhawk/ui/MainDlg.h"
#include "platform/shell/shell.h"
#include "platform/text/gbk.h"

namespace {

namespace site = gavelhawk::site;
namespace snipe = gavelhawk::snipe;
using platform::text::Utf8ToGbk;

static_assert(snipe::kSnipeSlots == CMainDlg::kSnipeSlots);
static_assert(snipe::kWarmupTimerBase == CMainDlg::kWarmupTimerBase);
static_assert(snipe::kOpenTimerId == CMainDlg::kOpenTimerId);

QString Text(const char* utf8) { return QString::fromUtf8(utf8); }

void SetCaption(QPushButton* b, const char* utf8) {
  if (b) b->setText(Text(utf8));
}

void Enable(QPushButton* b, bool on) {
  if (b) b->setEnabled(on);
}

}  // namespace

void CMainDlg::OnAutoBid() {
  UpdateData(true);
  if (AddSnipe() != AddResult::Added) return;
  ArmSnipe(m_nSnipeLast);
  RefreshSnipeList();
}

CMainDlg::AddResult CMainDlg::AddSnipe() {
  std::vector<std::int32_t> ids;
  for (const SnipeItem& row : m_snipes) ids.push_back(row.nDealId);
  int found = snipe::FindRow(ids, m_nSnipeLast, m_nDealId);
  if (found >= 0) {
    if (Message(Text("该商品已存在,是否修改参数?"), Text("注意"), platform::dialog::Buttons::OkCancel) ==
        platform::dialog::Answer::Ok) {
      // Timers ran while the question was open, but none of them moves rows.
      m_nSnipeSel = found;
      OnModifySnipe();
    }
    return AddResult::AlreadyListed;
  }
  if (!snipe::HasRoom(m_nSnipeLast)) {
    Message(Text("商品列表过多，超出上限"));
    return AddResult::Refused;
  }
  if (!LoadAuctionDetail()) {
    Message(Text(site::kMsgNoSuchAuction));
    return AddResult::Refused;
  }
  SnipeItem& row = m_snipes[static_cast<std::size_t>(++m_nSnipeLast)];
  row.nDealId = m_nDealId;
  row.strTitle = m_strTitle;
  row.strState = Utf8ToGbk(site::kStateWaiting);
  row.nMaxPrice = m_nMaxPrice;
  row.nIncrement = m_nIncrement;
  row.nPrepTime = m_nPrepTime;
  row.nRemain = 0;
  row.nEndTime = ReadEndTime(m_nDealId);
  return AddResult::Added;
}

void CMainDlg::OnModifySnipe() {
  if (m_nSnipeSel < 0 || m_nSnipeSel > m_nSnipeLast) return;
  UpdateData(true);
  // The validation prompt of a bad field runs timers; the row may have
  // finished meanwhile, and changing it makes it wait again either way.
  SnipeItem& row = m_snipes[static_cast<std::size_t>(m_nSnipeSel)];
  row.nDealId = m_nDealId;
  row.strTitle = m_strTitle;
  row.nMaxPrice = m_nMaxPrice;
  row.nIncrement = m_nIncrement;
  row.nPrepTime = m_nPrepTime;
  row.strState = Utf8ToGbk(site::kStateWaiting);
  row.nEndTime = ReadEndTime(m_nDealId);
  ArmSnipe(m_nSnipeSel);
  RefreshSnipeList();
}

void CMainDlg::OnDeleteSnipe() {
  if (m_nSnipeSel < 0 || m_nSnipeSel > m_nSnipeLast) return;
  UpdateData(true);
  std::vector<bool> waiting;
  for (int j = 0; j <= m_nSnipeLast; ++j) waiting.push_back(m_timers.IsSet(j));
  snipe::DeletePlan plan = snipe::PlanDelete(m_nSnipeSel, m_nSnipeLast, waiting);
  // Rows move with their values and state. Only a row still waiting for its
  // bid is armed again, under its new index; a finished row keeps its result
  // and never bids a second time.
  for (const snipe::RowMove& m : plan.moves) {
    KillTimer(m.to);
    KillTimer(snipe::kWarmupTimerBase + m.to);
    m_snipes[static_cast<std::size_t>(m.to)] = m_snipes[static_cast<std::size_t>(m.from)];
    if (m.rearm) ArmSnipe(m.to);
  }
  KillTimer(plan.freedIndex);
  KillTimer(snipe::kWarmupTimerBase + plan.freedIndex);
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
  for (int i = 0; i <= m_nSnipeLast; ++i) {
    KillTimer(i);
    KillTimer(snipe::kWarmupTimerBase + i);
  }
  m_nSnipeLast = -1;
  RefreshSnipeList();
}

void CMainDlg::ArmSnipe(int i) {
  if (i < 0 || i >= kSnipeSlots) return;
  KillTimer(i);
  KillTimer(snipe::kWarmupTimerBase + i);
  SnipeItem& row = m_snipes[static_cast<std::size_t>(i)];
  // A page that could not be read gives a time of 0. Arming on it would bid
  // at once or never, while the row said it waits: read once more, and
  // otherwise say so in the row and leave it unarmed.
  if (row.nEndTime <= 0) row.nEndTime = ReadEndTime(row.nDealId);
  std::int64_t now = SiteClock();
  if (now <= 0) now = SiteClock();
  if (row.nEndTime <= 0 || now <= 0) {
    row.strState = Utf8ToGbk(site::kStateNoSiteTime);
    row.nRemain = -1;
    return;
  }
  // Set the timers straight after the clock answered: the delays count from
  // this moment.
  snipe::ArmPlan plan = snipe::PlanArm(row.nEndTime, now, row.nPrepTime);
  SetTimer(i, plan.bidDelayMs);
  if (plan.warmupDelayMs >= 0) SetTimer(snipe::kWarmupTimerBase + i, plan.warmupDelayMs);
  row.nRemain = plan.remain;
}

void CMainDlg::OnTimer(int id) {
  if (id == snipe::kOpenTimerId) {
    KillTimer(id);
    const char* status;
    if (m_bIEMode) {
      if (m_services.beforeBid) m_services.beforeBid();
      status = site::IsBidSuccess(FetchPage(m_strOpenBidUrl)) ? "抢拍成功" : "抢拍失败";
    } else {
      if (m_services.opener) m_services.opener->OpenUrl(m_strOpenBidUrl);
      status = "抢拍结束";
    }
    SetCaption(Button(IDC_OPENSNIPE), status);
    return;
  }
  if (id >= 0 && id < kSnipeSlots) {
    KillTimer(id);
    // A timer can only belong to a row in use; anything else is stale.
    if (id > m_nSnipeLast) return;
    SnipeItem& row = m_snipes[static_cast<std::size_t>(id)];
    if (snipe::IsRearmOnly(row.nRemain, row.nPrepTime)) {
      ArmSnipe(id);
      RefreshSnipeList();
      return;
    }
    if (m_services.beforeBid) m_services.beforeBid();
    std::int32_t current = site::ReadCurrentPrice(FetchPage(SiteUrl(site::BidRecordsPath(row.nDealId))));
    // No test against the ceiling: at or above it the bid still goes out,
    // at the ceiling.
    std::int64_t amount = site::BidAmount(current, row.nIncrement, row.nMaxPrice);
    std::string url = SiteUrl(site::BidPath(row.nDealId, amount));
    std::string state;
    if (m_bIEMode) {
      std::string answer = FetchPage(url);
      state = site::IsBidSuccess(answer)
                  ? std::string(site::kStateBidPlaced)
                  : site::SnipeStateText(site::ReadResultCode(answer), current, row.nMaxPrice, amount);
    } else {
      if (m_services.opener) m_services.opener->OpenUrl(url);
      state = site::kStateHandedOver;
    }
    row.strState = Utf8ToGbk(state);
    row.nRemain = -1;
    RefreshSnipeList();
    return;
  }
  int i = id - snipe::kWarmupTimerBase;
  KillTimer(id);
  if (i < 0 || i > m_nSnipeLast || i >= kSnipeSlots) return;
  // Opens the connection the bid will reuse; the answer does not matter.
  FetchPage(SiteUrl(site::BidPath(m_snipes[static_cast<std::size_t>(i)].nDealId, 2)));
}

void CMainDlg::OnOpenSnipe() {
  UpdateData(true);
  SetCaption(Button(IDC_OPENSNIPE), "等待抢拍");
  Enable(Button(IDC_OPENSNIPE), false);
  Enable(Button(IDC_CANCELOPEN), true);
  KillTimer(snipe::kOpenTimerId);
  site::OpeningRead times = site::ReadOpening(FetchPage(SiteUrl(site::DetailPath(m_nOpenDealId))));
  snipe::OpenPlan plan = snipe::PlanOpen(m_nOpenLag, times.opening, times.now);
  m_strOpenBidUrl = SiteUrl(site::BidPath(m_nOpenDealId, m_nOpenPrice));
  if (plan.refused) {
    Message(Text("该商品不可抢拍"));
    SetCaption(Button(IDC_OPENSNIPE), "开卖抢拍");
    return;
  }
  SetTimer(snipe::kOpenTimerId, plan.delayMs);
}

void CMainDlg::OnCancelOpenSnipe() {
  Enable(Button(IDC_OPENSNIPE), true);
  Enable(Button(IDC_CANCELOPEN), false);
  KillTimer(snipe::kOpenTimerId);
}
