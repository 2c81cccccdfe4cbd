// Times a full listing crawl of 30 pages against auction-sim with a fixed
// latency on both legs of every request: the one-at-a-time crawl, the crawl
// with up to 8 requests in flight, and the floor of the one-at-a-time crawl
// (its requests one after another, each one round trip).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "gavelhawk/search/crawl.h"
#include "gavelhawk/search/parallel_crawl.h"
#include "platform/http/http.h"
#include "sim/auction_sim.h"
#include "site/fetch.h"

namespace {

constexpr std::int64_t kT = 1386012345000;

const char kHelp[] =
    "usage: search_crawl_bench [--passing N] [ONE-WAY-LATENCY-MS]...\n"
    "\n"
    "Crawls 30 listing pages (31 full pages are listed) of auction-sim, every\n"
    "request delayed ONE-WAY-LATENCY-MS on the way to the site and again on the\n"
    "way back (default: 0 20 50). N deals (0..40, default 40) carry the keyword\n"
    "and cost a detail and a bid-records read each; all of them are hits\n"
    "(the scenario of earlier versions of this benchmark).\n"
    "\n"
    "Per latency it prints, for the one-at-a-time crawl and for the crawl with\n"
    "8 requests in flight:\n"
    "  elapsed   wall time of the whole crawl, from the press to the last hit\n"
    "  requests  requests that reached the site (one-at-a-time: 30 pages + 2 per\n"
    "            deal; in flight: at most 8 more)\n"
    "  hits      hits stored\n"
    "  deals/s   listed deals looked at per second (30 pages x 16 / elapsed)\n"
    "and then:\n"
    "  floor     one-at-a-time requests x one round trip (2 x latency)\n"
    "  speed-up  one-at-a-time elapsed / in-flight elapsed\n"
    "  same      whether both crawls stored the same hits in the same slots\n";

struct Figures {
  double seconds = 0;
  std::size_t logged = 0;
  int requests = 0;
  std::vector<std::int32_t> hits;
};

void Scenario(sim::Server& site, int passing) {
  site.SetClock(kT, /*running=*/false);
  int withKeyword = 0;
  for (int i = 0; i < 31 * 16; ++i) {
    sim::Auction a;
    a.id = 2000000 + i;
    const bool pass = i % 12 == 0 && withKeyword < passing;
    a.title = pass ? "Apple iPad mini " + std::to_string(i) : "Other item " + std::to_string(i);
    a.listPrice = 1000;
    a.startMs = kT - 3600000;
    a.endMs = kT + (100 + i) * 1000;
    a.bids.push_back({"alice", 100, kT - 60000});
    withKeyword += pass ? 1 : 0;
    site.AddAuction(a);
  }
}

Figures RunOnce(int oneWayMs, int passing, bool parallel) {
  sim::Server site;
  site.Start();
  Scenario(site, passing);
  site.SetLatency(std::chrono::milliseconds(oneWayMs));
  const gavelhawk::search::KeywordFilter keywords({"IPAD", "", "", ""}, {"", "", "", ""});
  const std::string base = site.BaseUrl();
  Figures f;
  auto store = [&f](int, const gavelhawk::search::Hit& h) { f.hits.push_back(h.nDealId); };

  const auto start = std::chrono::steady_clock::now();
  if (parallel) {
    gavelhawk::search::ParallelCrawlSetup setup;
    setup.siteUrl = base;
    setup.maxDiscount = [] { return 0.5; };
    setup.store = store;
    gavelhawk::search::ParallelCrawl crawl(keywords, setup);
    f.requests = crawl.Run().requests;
  } else {
    platform::http::CurlTransport transport(::site::SiteHttpOptions());
    gavelhawk::search::CrawlHooks hooks;
    hooks.fetch = [&](const std::string& path) { return ::site::FetchPage(transport, base + path); };
    hooks.maxDiscount = [] { return 0.5; };
    hooks.store = store;
    f.requests = gavelhawk::search::Crawl(keywords, hooks).requests;
  }
  f.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  f.logged = site.Log().size();
  site.Stop();
  return f;
}

}  // namespace

int main(int argc, char** argv) {
  int passing = 40;
  std::vector<int> latencies;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
      std::fputs(kHelp, stdout);
      return 0;
    }
    if (!std::strcmp(argv[i], "--passing") && i + 1 < argc) {
      passing = std::atoi(argv[++i]);
      continue;
    }
    latencies.push_back(std::atoi(argv[i]));
    if (latencies.back() < 0) {
      std::fputs(kHelp, stderr);
      return 2;
    }
  }
  if (passing < 0 || passing > 40) {
    std::fputs(kHelp, stderr);
    return 2;
  }
  if (latencies.empty()) latencies = {0, 20, 50};

  std::printf("listing crawl, 30 pages, %d deals past the free filters\n", passing);
  std::printf("%8s | %-30s | %-30s | %8s %8s %5s\n", "latency", "one at a time: s / req / hits",
              "8 in flight: s / req / hits", "floor s", "speed-up", "same");
  for (const int ms : latencies) {
    const Figures one = RunOnce(ms, passing, false);
    const Figures par = RunOnce(ms, passing, true);
    const double floor = one.requests * 2.0 * ms / 1000.0;
    char a[64], b[64];
    std::snprintf(a, sizeof a, "%7.3f / %3zu / %2zu", one.seconds, one.logged, one.hits.size());
    std::snprintf(b, sizeof b, "%7.3f / %3zu / %2zu", par.seconds, par.logged, par.hits.size());
    std::printf("%5d ms | %-30s | %-30s | %8.3f %7.1fx %5s\n", ms, a, b, floor, one.seconds / par.seconds,
                one.hits == par.hits ? "yes" : "NO");
    std::printf("         | %-30.1f | %-30.1f | deals/s\n", 30 * 16 / one.seconds, 30 * 16 / par.seconds);
  }
  return 0;
}
