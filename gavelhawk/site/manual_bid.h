#pragma once
// The requests of one manual bid, in order: the detail page, the bid
// records, then the bid itself (or only its address, for the browser). The
// window runs this off its thread and shows the outcome.
#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "platform/http/http.h"

namespace gavelhawk::site {

// Seconds within the minute and milliseconds of the local time.
struct ClockReading {
  int second = 0;
  int millisecond = 0;
};

struct ManualBidRequest {
  std::string siteUrl;  // scheme and host, no trailing slash
  std::int32_t dealId = 0;
  std::int32_t ceiling = 0;
  std::int32_t increment = 0;  // as typed; the site's bounds apply
  bool sendBid = false;        // IE mode: send the bid; otherwise only make its address
  std::function<ClockReading()> localTime;
  // Called on the caller's thread once the fields are accepted, before any
  // request (the login may be refreshed there); may be empty.
  std::function<void()> beforeBid;
};

struct ManualBidOutcome {
  bool detailRead = false;  // a detail page came: title and bounded increment below
  std::string title;        // GBK
  std::int32_t increment = 0;
  bool auctionOver = false;
  ClockReading started;  // before the records read
  std::string failure;   // a read or the bid failed as a request, with its reason
  bool tooHigh = false;  // the current price already reaches the ceiling
  std::string browserUrl;
  bool placed = false;
  ClockReading answered;  // when the bid's success arrived
  std::int32_t code = 0;  // a refused bid's code

  // Nothing could be bid on: no such auction, or it is over.
  bool Refused() const { return failure.empty() && (!detailRead || auctionOver); }
};

ManualBidOutcome RunManualBid(platform::http::Transport& transport, const ManualBidRequest& request);

// What the window shows of an outcome.
struct ManualBidAnswer {
  bool showFields = false;               // write the title and increment read back into the fields
  std::string message;                   // UTF-8; empty: no message
  std::string browserUrl;                // open this page in the browser
  bool openLogin = false;                // send the user to the login browser
  std::optional<std::int32_t> prepTime;  // the measured span, for the prep time field
};
ManualBidAnswer AnswerOf(const ManualBidOutcome& out);

// One manual bid at a time, off the window's thread, with a transport kept
// from one bid to the next (a warm connection). Lives on the window's
// thread: `done` runs there, queued.
class ManualBidController : public QObject {
 public:
  using NewTransport = std::function<std::unique_ptr<platform::http::Transport>()>;
  explicit ManualBidController(NewTransport newTransport, QObject* parent = nullptr);
  // Cancels the bid under way and waits for it; `done` is not called.
  ~ManualBidController() override;

  // The message that refuses the fields, or empty when the bid started (or
  // one is already under way: that press does nothing).
  std::string Start(ManualBidRequest request, std::function<void(const ManualBidOutcome&)> done);
  bool Busy() const { return busy_; }

 private:
  NewTransport newTransport_;
  std::unique_ptr<platform::http::Transport> transport_;
  std::thread thread_;
  bool busy_ = false;
};

inline constexpr char kMsgNotPositive[] = "最高出价和加价幅度必须大于0";

}  // namespace gavelhawk::site
