#pragma once
// The listing crawl with several requests in flight: listing pages are read
// ahead, and the detail and bid-records reads of the deals that pass the
// free filters run side by side. Decisions are still taken deal after deal
// in listing order, so the hits, their slots and the end of the crawl are
// those of Crawl() over the same pages; at most kMaxExtraRequests requests
// are made that Crawl() would not have made.
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "gavelhawk/search/crawl.h"
#include "platform/http/http.h"

namespace gavelhawk::search {

namespace detail {
struct CrawlState;
}

constexpr int kMaxInFlight = 8;
constexpr int kMaxExtraRequests = 8;

struct ParallelCrawlSetup {
  std::string siteUrl;  // scheme and host, no trailing slash
  int inFlight = kMaxInFlight;
  // One transport per lane, called on the lane's own thread (a libcurl
  // handle belongs to one thread). Empty: a plain site transport.
  std::function<std::unique_ptr<platform::http::Transport>()> newTransport;
  // Read when a page is reached (and when it is asked for ahead of that);
  // called on the crawl's thread. Missing: index 0.
  std::function<int()> categoryIndex;
  // Read at every discount decision, on the crawl's thread. Missing: 0.
  std::function<double()> maxDiscount;
  // Slot `slot` (0, 1, 2, ...) now holds `hit`; on the crawl's thread, in
  // slot order.
  std::function<void(int slot, const Hit& hit)> store;
};

class ParallelCrawl {
 public:
  ParallelCrawl(KeywordFilter keywords, ParallelCrawlSetup setup);
  // Stops and waits for the crawl's threads.
  ~ParallelCrawl();
  ParallelCrawl(const ParallelCrawl&) = delete;
  ParallelCrawl& operator=(const ParallelCrawl&) = delete;

  // Runs the whole crawl on the calling thread (its lanes on their own).
  CrawlOutcome Run();
  // Runs it on a thread of its own; `done` is called there at the end.
  void Start(std::function<void(const CrawlOutcome&)> done);
  // Ends the crawl as soon as possible, requests under way included. Safe
  // from any thread; the crawl then ends with CrawlEnd::Stopped.
  void Stop();

 private:
  KeywordFilter keywords_;
  ParallelCrawlSetup setup_;
  std::shared_ptr<detail::CrawlState> state_;
  std::thread runner_;
};

}  // namespace gavelhawk::search
