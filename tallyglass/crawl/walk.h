#pragma once
// The history crawl's reads of one auction, as plain functions on page text
// (GBK, CR LF pairs removed, every count in bytes), and the handling of one
// auction id from its two or three requests.
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/http/http.h"
#include "tallyglass/db/history_db.h"

namespace tallyglass::crawl {

// A detail page shorter than this is no auction.
inline constexpr std::size_t kMinDetailBytes = 1024;

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
  bool sold = false;  // a buyer is named
  std::string buyer;  // GBK, double quotes removed
  std::int32_t trxPrice = 0;
};
// The bid records' winner. "null", and a text without "trxBuyerName" (an
// answer that did not arrive), name no buyer.
BidRecordsRead ReadBidRecords(std::string_view text);

// The price alone, as the second read takes it.
std::int32_t ReadTrxPriceAgain(std::string_view text);

// A deal price below a tenth of the list price is read once more.
bool NeedsSecondRead(std::int32_t listPrice, std::int32_t trxPrice);

struct AuctionOutcome {
  enum Kind {
    Skipped,    // no auction, no closing time, or no buyer
    EndOfWalk,  // closes today and still runs: the walk stops before it
    Sold,       // `record` is the row to store
  };
  Kind kind = Skipped;
  db::HistoryRecord record;
};

// Reads auction `id` from the site at `siteUrl` (scheme and host, no
// trailing slash). `today` is the day number the walk ends at.
AuctionOutcome CrawlAuction(platform::http::Transport& transport, const std::string& siteUrl, std::int32_t id,
                            std::int32_t today);

// Today from the site's home page; 0 when it cannot be read.
std::int32_t FetchToday(platform::http::Transport& transport, const std::string& siteUrl);

}  // namespace tallyglass::crawl
