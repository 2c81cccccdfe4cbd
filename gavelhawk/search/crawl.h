#pragma once
// The listing crawl: pages 1 to 30 of one category, each deal filtered by
// time, keywords, condition and discount, the survivors stored in up to 48
// slots. The window, the network and the stop request come in as hooks, so
// the crawl runs the same in the dialog, in tests and in benchmarks.
#include <cstdint>
#include <functional>
#include <string>

#include "gavelhawk/search/listing.h"

namespace gavelhawk::search {

constexpr int kHitSlots = 48;
constexpr int kFirstCorrection = -12;  // seconds, page 1
constexpr int kCorrectionStep = 3;     // seconds more per page
constexpr int kLastCorrection = 75;    // page 30

// One stored deal, as the results table keeps it. Texts are GBK.
struct Hit {
  std::int32_t nDealId = 0;
  std::string strTitle;   // letter case as the page gives it
  std::string strStatus;  // condition text, at most 8 bytes
  std::string strRemain;  // "%2d分%2d秒" / "%2d秒"
  float fDiscount = 0;    // current / list, -1 without a list price
  std::int32_t nCurPrice = 0;
  std::int32_t nListPrice = 0;
};

struct CrawlHooks {
  // GET of a path on the site's host; the page text, empty on failure.
  std::function<std::string(const std::string& path)> fetch;
  // The category combo's current index (-1 for none); read for every page.
  std::function<int()> categoryIndex;
  // The largest accepted current/list ratio; read at every discount decision.
  std::function<double()> maxDiscount;
  // True when the crawl should end now (asked before each deal).
  std::function<bool()> stopRequested;
  // Slot `slot` (0, 1, 2, ... < kHitSlots) now holds `hit`.
  std::function<void(int slot, const Hit& hit)> store;
};

enum class CrawlEnd {
  AllPages,   // page 30 was read
  TableFull,  // the 48th hit was stored
  BadClock,   // a page's clock lay outside 0..99999
  Stopped,    // stopRequested said so
};

struct CrawlOutcome {
  int hitLast = -1;  // last slot stored, -1 for none
  int pages = 0;     // listing pages fetched
  int requests = 0;  // every fetch, listing pages included
  CrawlEnd end = CrawlEnd::AllPages;
  // Listing pages whose request failed (refused, time-out, HTTP >= 400) and
  // the reason of the last one; only a crawl that can tell (ParallelCrawl).
  int failedPages = 0;
  std::string pageError;
};

// Runs one crawl. `keywords` hold the upper-cased words. Missing hooks
// (stopRequested, categoryIndex, maxDiscount) read as "go on", index 0 and 0.
CrawlOutcome Crawl(const KeywordFilter& keywords, const CrawlHooks& hooks);

}  // namespace gavelhawk::search
