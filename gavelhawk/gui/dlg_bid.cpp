// The manual bid (手动出价). The detail read, the records read and the bid
// run on a thread of their own, with a transport kept from one press to the
// next; the window shows the outcome when they are done.
#include <thread>

#include "gavelhawk/gui/MainDlg.h"
#include "gavelhawk/site/bid.h"
#include "gavelhawk/site/manual_bid.h"
#include "platform/http/http.h"
#include "platform/shell/shell.h"
#include "site/fetch.h"

namespace {

const char kMsgNotPositive[] = "最高出价和加价幅度必须大于0";
const char kMsgNetwork[] = "网络错误：";

}  // namespace

struct BidTask {
  // Kept from one press to the next (a warm connection); one run at a time uses it.
  std::unique_ptr<platform::http::Transport> transport;
  std::thread thread;
  ~BidTask() {
    if (transport) transport->Cancel(true);
    if (thread.joinable()) thread.join();
  }
};

void TaskEnd::operator()(BidTask* t) const { delete t; }

void CMainDlg::OnManualBid() {
  namespace site = gavelhawk::site;
  // One bid at a time: a press while one is under way does nothing.
  if (m_bBidding) return;
  // A field that is not a number has had its message; nothing is sent.
  if (!UpdateData(true)) return;
  if (m_nMaxPrice < 1 || m_nIncrement < 1) {
    Message(QString::fromUtf8(kMsgNotPositive));
    return;
  }
  if (m_services.beforeBid) m_services.beforeBid();

  if (!m_bidTask) {
    m_bidTask.reset(new BidTask);
    if (m_services.newTransport) m_bidTask->transport = m_services.newTransport();
    if (!m_bidTask->transport)
      m_bidTask->transport = std::make_unique<platform::http::CurlTransport>(::site::SiteHttpOptions());
  }
  if (m_bidTask->thread.joinable()) m_bidTask->thread.join();  // the last run, long over
  m_bBidding = true;

  site::ManualBidRequest request;
  request.siteUrl = m_services.siteUrl;
  request.dealId = m_nDealId;
  request.ceiling = m_nMaxPrice;
  request.increment = m_nIncrement;
  request.sendBid = m_bIEMode;
  request.localTime = [clock = m_services.localTime] {
    const LocalTime t = clock ? clock() : LocalTime{};
    return site::ClockReading{t.second, t.millisecond};
  };
  BidTask* task = m_bidTask.get();
  task->thread = std::thread([this, task, request] {
    const site::ManualBidOutcome out = site::RunManualBid(*task->transport, request);
    QMetaObject::invokeMethod(
        this, [this, out] { ShowManualBid(out); }, Qt::QueuedConnection);
  });
}

void CMainDlg::ShowManualBid(const gavelhawk::site::ManualBidOutcome& out) {
  namespace site = gavelhawk::site;
  m_bBidding = false;
  if (out.detailRead) {
    m_strTitle = out.title;
    m_nIncrement = out.increment;
  }
  // An ended auction leaves the fields as typed; the next read replaces the
  // members again.
  if (out.Refused()) {
    Message(QString::fromUtf8(site::kMsgNoSuchAuction));
    return;
  }
  UpdateData(false);
  if (!out.failure.empty()) {
    Message(QString::fromUtf8(kMsgNetwork) + QString::fromStdString(out.failure));
  } else if (out.tooHigh) {
    Message(QString::fromUtf8(site::kMsgAlreadyTooHigh));
  } else if (!out.browserUrl.empty()) {
    if (m_services.opener) m_services.opener->OpenUrl(out.browserUrl);
  } else if (out.placed) {
    m_nPrepTime = site::ElapsedMs(out.started.second, out.started.millisecond, out.answered.second,
                                  out.answered.millisecond);
    UpdateData(false);
    Message(QString::fromUtf8(site::kMsgBidPlaced));
  } else {
    Message(QString::fromUtf8(site::ManualBidMessage(out.code)));
    // The login lives in the login browser; send the user there to log in.
    if (out.code == site::kCodeNotLoggedIn && m_services.opener)
      m_services.opener->OpenInLoginBrowser(m_services.homeUrl);
  }
}
