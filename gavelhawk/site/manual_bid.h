#pragma once
// The requests of one manual bid, in order: the detail page, the bid
// records, then the bid itself (or only its address, for the browser). The
// window runs this off its thread and shows the outcome.
#include <cstdint>
#include <functional>
#include <string>

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

}  // namespace gavelhawk::site
