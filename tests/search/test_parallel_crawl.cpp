// The crawl with several requests in flight against auction-sim, set beside
// the one-at-a-time crawl on the same site: the same hits in the same slots,
// the same end, and at most eight requests more.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <tuple>

#include "gavelhawk/search/crawl.h"
#include "gavelhawk/search/parallel_crawl.h"
#include "platform/text/gbk.h"
#include "sim/auction_sim.h"
#include "site/fetch.h"

using namespace gavelhawk::search;

namespace {

constexpr std::int64_t kT = 1386012345000;

struct Scenario {
  const char* name;
  int deals;
  int matchEvery;  // every n-th title carries the keyword
};

void Fill(sim::Server& site, const Scenario& sc) {
  site.ClearAuctions();
  site.ClearFaults();
  for (int i = 0; i < sc.deals; ++i) {
    sim::Auction a;
    a.id = 3000000 + i;
    a.title = (i % sc.matchEvery == 0 ? "Apple iPad " : "Other ") + std::to_string(i);
    if (i % 11 == 0) a.title += " case";         // excluded
    if (i % 7 == 3) a.condition = "二手九成新";  // condition too long
    a.listPrice = i % 13 == 5 ? 0 : 1000;        // no list price: always kept
    a.startMs = kT - 3600000;
    a.endMs = kT + (i == 1 ? 5 : 30 + i * 37) * 1000LL;  // one too close to its end
    a.bids.push_back({"alice", i % 4 == 1 ? 900 : 100, kT - 60000});
    site.AddAuction(a);
    // Answers come back out of order: some reads of the deal are slow.
    if (i % 3 == 0) {
      sim::Fault slow;
      slow.kind = sim::FaultKind::Slow;
      slow.pathPrefix = (i % 2 ? "/detail/" : "/json/paimai/bid_records?dealId=") + std::to_string(a.id);
      slow.delayMs = 5 + (i * 7) % 40;
      site.AddFault(slow);
    }
  }
  sim::Auction far;  // beyond 16 hours: ends the page it is on
  far.id = 3999999;
  far.title = "Apple iPad far";
  far.listPrice = 1000;
  far.startMs = kT - 3600000;
  far.endMs = kT + 60000 * 1000LL;
  site.AddAuction(far);
}

struct CrawlRun {
  CrawlOutcome out;
  std::vector<std::tuple<int, std::string, std::string, std::string, float, int, int>> hits;
  std::vector<std::string> targets;
};

auto Row(const Hit& h) {
  return std::make_tuple(int{h.nDealId}, h.strTitle, h.strStatus, h.strRemain, h.fDiscount, int{h.nCurPrice},
                         int{h.nListPrice});
}

std::vector<std::string> Targets(const sim::Server& site) {
  std::vector<std::string> t;
  for (const auto& r : site.Log()) t.push_back(r.target);
  return t;
}

TEST(ParallelCrawl, SameHitsAsTheOneAtATimeCrawlWithAtMostEightRequestsMore) {
  const Scenario scenarios[] = {
      {"a few hits, all 30 pages", 600, 25},
      {"some hits over 19 pages", 300, 9},
      {"the 48th hit ends the crawl mid-page", 300, 2},
  };
  sim::Server site;
  site.Start();
  site.SetClock(kT, /*running=*/false);
  const KeywordFilter keywords({"IPAD", "", "", ""}, {"CASE", "", "", ""});
  const std::string base = site.BaseUrl();

  for (const Scenario& sc : scenarios) {
    SCOPED_TRACE(sc.name);
    Fill(site, sc);

    CrawlRun one;
    site.ClearLog();
    {
      platform::http::CurlTransport transport(::site::SiteHttpOptions());
      CrawlHooks hooks;
      hooks.fetch = [&](const std::string& path) { return ::site::FetchPage(transport, base + path); };
      hooks.maxDiscount = [] { return 0.5; };
      hooks.store = [&](int slot, const Hit& h) {
        EXPECT_EQ(slot, static_cast<int>(one.hits.size()));
        one.hits.push_back(Row(h));
      };
      one.out = Crawl(keywords, hooks);
    }
    one.targets = Targets(site);

    CrawlRun par;
    site.ClearLog();
    {
      ParallelCrawlSetup setup;
      setup.siteUrl = base;
      setup.maxDiscount = [] { return 0.5; };
      setup.store = [&](int slot, const Hit& h) {
        EXPECT_EQ(slot, static_cast<int>(par.hits.size()));
        par.hits.push_back(Row(h));
      };
      par.out = ParallelCrawl(keywords, setup).Run();
    }
    par.targets = Targets(site);

    ASSERT_FALSE(one.hits.empty());
    EXPECT_EQ(par.hits, one.hits);
    EXPECT_EQ(par.out.hitLast, one.out.hitLast);
    EXPECT_EQ(par.out.end, one.out.end);
    EXPECT_EQ(par.out.pages, one.out.pages);
    // Every request of the one-at-a-time crawl was made, and few others.
    const std::multiset<std::string> made(par.targets.begin(), par.targets.end());
    for (const std::string& t : one.targets) EXPECT_EQ(made.count(t), 1u) << t;
    EXPECT_LE(par.targets.size(), one.targets.size() + kMaxExtraRequests);
  }
}

}  // namespace
