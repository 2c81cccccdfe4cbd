// The manual bid (手动出价). The detail read, the records read and the bid
// run on a thread of their own, with a transport kept from one press to the
// next; the window shows the outcome when they are done.
#include <thread>

#include "gavelhawk/site/bid.h"
#include "gavelhawk/site/detail.h"
#include "gavelhawk/site/fetch.h"
#include "gavelhawk/ui/MainDlg.h"
#include "platform/http/http.h"
#include "platform/shell/shell.h"

namespace {

const char kMsgNotPositive[] = "最高出价和加价幅度必须大于0";
const char kMsgNetwork[] = "网络错误：";

// What the worker found out, for the window to show.
struct BidOutcome {
  bool detailRead = false;  // a detail page came: title and bounded increment
  std::string title;
  std::int32_t increment = 0;
  bool auctionOver = false;
  LocalTime started;    // before the records read
  std::string failure;  // a request that failed, with its reason
  bool tooHigh = false;
  std::string browserUrl;  // IE mode off: the address to hand to the browser
  bool placed = false;
  std::int32_t code = 0;
  LocalTime answered;
};

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
      m_bidTask->transport = std::make_unique<platform::http::CurlTransport>(site::SiteHttpOptions());
  }
  if (m_bidTask->thread.joinable()) m_bidTask->thread.join();  // the last run, long over
  m_bBidding = true;
  BidTask* task = m_bidTask.get();
  const std::int32_t dealId = m_nDealId;
  const std::int32_t ceiling = m_nMaxPrice;
  const std::int32_t typedIncrement = m_nIncrement;
  const bool ieMode = m_bIEMode;
  const std::string base = m_services.siteUrl;
  const auto localTime = m_services.localTime;

  task->thread = std::thread([=, this] {
    platform::http::Transport& t = *task->transport;
    BidOutcome out;
    // The detail page as LoadAuctionDetail reads it: a short page or an
    // ended auction is refused.
    const std::string page = site::FetchPage(t, base + site::DetailPath(dealId), site::PageDeadline());
    if (site::IsDetailPage(page)) {
      const site::AuctionDetail d = site::ReadDetail(page);
      out.detailRead = true;
      out.title = d.title;
      out.increment = site::BoundIncrement(typedIncrement, d.lower, d.higher);
      out.auctionOver = d.status == 2;
    }
    if (out.detailRead && !out.auctionOver) {
      // The span of the two requests is what a snipe needs before closing,
      // so it is measured from here to the answer.
      out.started = localTime ? localTime() : LocalTime{};
      const site::PageResult records =
          site::FetchPageChecked(t, base + site::BidRecordsPath(dealId), site::RequestDeadline());
      const std::int32_t current = site::ReadCurrentPrice(records.text);
      if (records.failed) {
        out.failure = records.error;
      } else if (current >= ceiling) {
        out.tooHigh = true;
      } else {
        const std::string url =
            base + site::BidPath(dealId, site::BidAmount(current, out.increment, ceiling));
        if (!ieMode) {
          out.browserUrl = url;
        } else {
          const site::PageResult answer = site::FetchPageChecked(t, url, site::RequestDeadline());
          if (answer.failed) {
            out.failure = answer.error;
          } else if (site::IsBidSuccess(answer.text)) {
            out.placed = true;
            out.answered = localTime ? localTime() : LocalTime{};
          } else {
            out.code = site::ReadResultCode(answer.text);
          }
        }
      }
    }
    QMetaObject::invokeMethod(
        this,
        [this, out] {
          namespace site = gavelhawk::site;
          m_bBidding = false;
          if (out.detailRead) {
            m_strTitle = out.title;
            m_nIncrement = out.increment;
          }
          // An ended auction leaves the fields as typed; the next read
          // replaces the members again.
          if (!out.detailRead || out.auctionOver) {
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
        },
        Qt::QueuedConnection);
  });
}
