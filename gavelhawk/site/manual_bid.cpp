#include "gavelhawk/site/manual_bid.h"

#include "gavelhawk/site/bid.h"
#include "gavelhawk/site/detail.h"
#include "site/fetch.h"
#include "site/paths.h"

namespace gavelhawk::site {

using ::site::BidPath;
using ::site::BidRecordsPath;
using ::site::DetailPath;
using ::site::FetchPageChecked;
using ::site::PageDeadline;
using ::site::PageResult;
using ::site::RequestDeadline;

ManualBidOutcome RunManualBid(platform::http::Transport& transport, const ManualBidRequest& request) {
  ManualBidOutcome out;
  auto now = [&] { return request.localTime ? request.localTime() : ClockReading{}; };
  const std::string& base = request.siteUrl;
  // A short detail page or an ended auction is refused before anything else;
  // a read that failed is no answer about the auction.
  const PageResult detail = FetchPageChecked(transport, base + DetailPath(request.dealId), PageDeadline());
  if (detail.failed) {
    out.failure = detail.error;
    return out;
  }
  const std::string& page = detail.text;
  if (!IsDetailPage(page)) return out;
  const AuctionDetail d = ReadDetail(page);
  out.detailRead = true;
  out.title = d.title;
  out.increment = BoundIncrement(request.increment, d.lower, d.higher);
  out.auctionOver = d.status == 2;
  if (out.auctionOver) return out;

  // The span of the two requests is what a snipe needs before closing, so
  // it is measured from here to the answer.
  out.started = now();
  const PageResult records =
      FetchPageChecked(transport, base + BidRecordsPath(request.dealId), RequestDeadline());
  if (records.failed) {
    // No bid without the current price.
    out.failure = records.error;
    return out;
  }
  const std::int32_t current = ReadCurrentPrice(records.text);
  if (current >= request.ceiling) {
    out.tooHigh = true;
    return out;
  }
  const std::string url = base + BidPath(request.dealId, BidAmount(current, out.increment, request.ceiling));
  if (!request.sendBid) {
    out.browserUrl = url;
    return out;
  }
  const PageResult answer = FetchPageChecked(transport, url, RequestDeadline());
  if (answer.failed) {
    out.failure = answer.error;
  } else if (IsBidSuccess(answer.text)) {
    out.placed = true;
    out.answered = now();
  } else {
    out.code = ReadResultCode(answer.text);
  }
  return out;
}

ManualBidAnswer AnswerOf(const ManualBidOutcome& out) {
  ManualBidAnswer a;
  // An ended auction leaves the fields as typed.
  if (out.Refused()) {
    a.message = kMsgNoSuchAuction;
    return a;
  }
  a.showFields = true;
  if (!out.failure.empty()) {
    a.message = std::string(kMsgNetworkError) + out.failure;
  } else if (out.tooHigh) {
    a.message = kMsgAlreadyTooHigh;
  } else if (!out.browserUrl.empty()) {
    a.browserUrl = out.browserUrl;
  } else if (out.placed) {
    a.prepTime =
        ElapsedMs(out.started.second, out.started.millisecond, out.answered.second, out.answered.millisecond);
    a.message = kMsgBidPlaced;
  } else {
    a.message = ManualBidMessage(out.code);
    // The login lives in the login browser.
    a.openLogin = out.code == kCodeNotLoggedIn;
  }
  return a;
}

ManualBidController::ManualBidController(NewTransport newTransport, QObject* parent)
    : QObject(parent), newTransport_(std::move(newTransport)) {}

ManualBidController::~ManualBidController() {
  if (transport_) transport_->Cancel(true);
  if (thread_.joinable()) thread_.join();
}

std::string ManualBidController::Start(ManualBidRequest request,
                                       std::function<void(const ManualBidOutcome&)> done) {
  if (busy_) return {};
  if (request.ceiling < 1 || request.increment < 1) return kMsgNotPositive;
  if (request.beforeBid) request.beforeBid();
  if (!transport_ && newTransport_) transport_ = newTransport_();
  if (!transport_) transport_ = std::make_unique<platform::http::CurlTransport>(::site::SiteHttpOptions());
  if (thread_.joinable()) thread_.join();  // the last bid, long over
  busy_ = true;
  thread_ = std::thread([this, request = std::move(request), done = std::move(done)] {
    const ManualBidOutcome out = RunManualBid(*transport_, request);
    QMetaObject::invokeMethod(
        this,
        [this, out, done] {
          busy_ = false;
          if (done) done(out);
        },
        Qt::QueuedConnection);
  });
  return {};
}

}  // namespace gavelhawk::site
