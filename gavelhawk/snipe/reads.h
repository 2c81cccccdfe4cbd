#pragma once
// The page reads that set up a closing snipe, as 自动出价 and 修改商品 make
// them: off the window's thread, each request within the page deadline.
#include <cstdint>
#include <string>

#include "gavelhawk/site/detail.h"
#include "platform/http/http.h"

namespace gavelhawk::snipe {

struct AuctionRead {
  bool failed = false;  // a request failed (refused, time-out, HTTP >= 400)
  std::string error;    // why, for the user
  bool found = false;   // the detail page was a detail page
  site::AuctionDetail detail;
  std::int64_t endTime = 0;  // site ms; 0 when it could not be read
};

// With `withDetail`: the detail page (title, status, increment bounds),
// and, for an auction that can be bid on, the closing time from a second
// read. Without: only the closing time. A closing time that reads as 0 is
// read once more.
AuctionRead ReadAuction(platform::http::Transport& t, const std::string& siteUrl, std::int32_t dealId,
                        bool withDetail);

}  // namespace gavelhawk::snipe
