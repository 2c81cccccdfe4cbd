#pragma once
// The history crawl's reads of one auction, as plain functions on page text
// (GBK, CR LF pairs removed, every count in bytes), and the handling of one
// auction id from its two or three requests.
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/http/http.h"
#include "site/fetch.h"
#include "tallyglass/db/history_db.h"

namespace tallyglass::crawl {

// Day number of a time in seconds since 1970 (00:00 UTC boundaries).
std::int32_t DayOf(std::int64_t seconds);

// Today from the home page's "nowMil"; 0 when the page lacks it.
std::int32_t ReadToday(std::string_view homePage);

struct DetailRead {
  std::string title;  // GBK; empty when the title area lacks a second "title"
  bool hasEnd = false;
  std::int32_t endDay = 0;
  std::int32_t status = 0;
  std::int32_t listPrice = 0;
};
DetailRead ReadDetail(std::string_view page);

struct BidRecordsRead {
  bool sold = false;          // a buyer is named
  std::string buyer;          // GBK, double quotes removed
  std::int64_t trxPrice = 0;  // full width: a price past 32 bits must not wrap into a plausible one
};
// The bid records' winner. "null", and a text without "trxBuyerName" (an
// answer that did not arrive), name no buyer.
BidRecordsRead ReadBidRecords(std::string_view text);

// The price alone, as the second read takes it.
std::int64_t ReadTrxPriceAgain(std::string_view text);

// A deal price below a tenth of the list price is read once more.
bool NeedsSecondRead(std::int32_t listPrice, std::int64_t trxPrice);

// A sale worth storing: a price of at least 1 yuan, at most 100 times the
// list price when that is known, closed no later than today (when known).
bool Plausible(std::int64_t trxPrice, std::int32_t listPrice, std::int32_t endDay, std::int32_t today);

// &quot; &amp; &lt; &gt; &#NNN; &#xHH; in UTF-8 text, in one pass; anything
// else (an unknown name, a code point that is no character) stays as it is.
std::string DecodeEntities(std::string_view utf8);

struct AuctionOutcome {
  enum Kind {
    Skipped,      // no auction, no closing time, or no buyer
    EndOfWalk,    // closes today and still runs: the walk stops before it
    Sold,         // `record` is the row to store
    Implausible,  // sold, but the price or the day cannot be true: not stored
    Failed,       // a request still failed after its retries: the walk stops before it
  };
  Kind kind = Skipped;
  db::HistoryRecord record;
  std::string error;  // Failed: why
};

// How one auction's requests are made: failed requests (no connection,
// time-out, HTTP >= 500) are tried again `retries` times, waiting `backoff`,
// then twice that, and so on. `wait` sleeps and answers false when the walk
// is being stopped (the default sleeps).
struct CrawlContext {
  platform::http::Transport* transport = nullptr;
  std::string siteUrl;  // scheme and host, no trailing slash
  std::int32_t today = 0;
  int retries = 3;
  std::chrono::milliseconds backoff{250};
  std::function<bool(std::chrono::milliseconds)> wait;
};

// Reads auction `id`.
AuctionOutcome CrawlAuction(const CrawlContext& context, std::int32_t id);

// The same with the default retries; `today` is the day number the walk
// ends at.
AuctionOutcome CrawlAuction(platform::http::Transport& transport, const std::string& siteUrl, std::int32_t id,
                            std::int32_t today);

// Today from the site's home page; 0 when it cannot be read.
std::int32_t FetchToday(platform::http::Transport& transport, const std::string& siteUrl);

// The same, telling a failed request (after the context's retries) from a
// page without a clock.
struct TodayRead {
  std::int32_t today = 0;
  ::site::PageResult fetch;
};
TodayRead FetchTodayChecked(const CrawlContext& context);

}  // namespace tallyglass::crawl
