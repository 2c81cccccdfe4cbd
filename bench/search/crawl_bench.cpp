// Times a full crawl of 30 listing pages against auction-sim with a fixed
// latency on every request, and sets the time against its floor: the
// requests made, one after another, each costing one round trip.
//
//   search_crawl_bench [one-way latency ms = 10] [deals passing the cheap filters = 40]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "gavelhawk/search/crawl.h"
#include "gavelhawk/site/fetch.h"
#include "platform/http/http.h"
#include "platform/text/gbk.h"
#include "sim/auction_sim.h"

namespace {

constexpr std::int64_t kT = 1386012345000;

struct Figures {
  int requests = 0;
  std::size_t logged = 0;
  int hits = 0;
  int pages = 0;
  double seconds = 0;
};

Figures RunOnce(int oneWayMs, int passing) {
  sim::Server site;
  site.Start();
  site.SetClock(kT, /*running=*/false);
  // 31 full pages; every twelfth deal carries the keyword, up to `passing`.
  int withKeyword = 0;
  for (int i = 0; i < 31 * 16; ++i) {
    sim::Auction a;
    a.id = 2000000 + i;
    const bool pass = i % 12 == 0 && withKeyword < passing;
    withKeyword += pass ? 1 : 0;
    a.title = pass ? "Apple iPad mini " + std::to_string(i) : "Other item " + std::to_string(i);
    a.listPrice = 1000;
    a.startMs = kT - 3600000;
    a.endMs = kT + (100 + i) * 1000;
    a.bids.push_back({"alice", 100, kT - 60000});
    site.AddAuction(a);
  }
  site.SetLatency(std::chrono::milliseconds(oneWayMs));

  platform::http::CurlTransport transport(gavelhawk::site::SiteHttpOptions());
  const gavelhawk::search::KeywordFilter keywords({"IPAD", "", "", ""}, {"", "", "", ""});
  gavelhawk::search::CrawlHooks hooks;
  const std::string base = site.BaseUrl();
  hooks.fetch = [&](const std::string& path) { return gavelhawk::site::FetchPage(transport, base + path); };
  hooks.maxDiscount = [] { return 0.5; };
  int hits = 0;
  hooks.store = [&](int, const gavelhawk::search::Hit&) { ++hits; };

  const auto start = std::chrono::steady_clock::now();
  const gavelhawk::search::CrawlOutcome out = gavelhawk::search::Crawl(keywords, hooks);
  const auto end = std::chrono::steady_clock::now();

  Figures f;
  f.requests = out.requests;
  f.logged = site.Log().size();
  f.hits = hits;
  f.pages = out.pages;
  f.seconds = std::chrono::duration<double>(end - start).count();
  site.Stop();
  return f;
}

}  // namespace

int main(int argc, char** argv) {
  const int oneWayMs = argc > 1 ? std::atoi(argv[1]) : 10;
  const int passing = argc > 2 ? std::atoi(argv[2]) : 40;
  if (oneWayMs < 0 || passing < 0 || passing > 40) {
    std::fprintf(stderr, "usage: search_crawl_bench [one-way latency ms >= 0] [passing deals 0..40]\n");
    return 2;
  }
  const Figures f = RunOnce(oneWayMs, passing);
  const double roundTrip = 2.0 * oneWayMs / 1000.0;
  const double floor = f.requests * roundTrip;
  std::printf("listing crawl: %d pages, %d deals past the cheap filters, %d hits\n", f.pages, passing,
              f.hits);
  std::printf("requests made: %d (site logged %zu; expected %d = 30 pages + 2 x %d deals)\n", f.requests,
              f.logged, 30 + 2 * passing, passing);
  std::printf("latency: %d ms each way, %.3f s per round trip\n", oneWayMs, roundTrip);
  std::printf("elapsed: %.3f s; floor (requests x round trip): %.3f s", f.seconds, floor);
  if (floor > 0)
    std::printf("; ratio %.3f; overhead %.1f ms per request", f.seconds / floor,
                (f.seconds - floor) * 1000.0 / f.requests);
  std::printf("\nthroughput: %.1f deals per second over %d listed deals\n", f.pages * 16 / f.seconds,
              f.pages * 16);
  return 0;
}
