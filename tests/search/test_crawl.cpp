// The crawl against a scripted site: which requests it makes, which deals it
// stores in which slots, and when it stops.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "gavelhawk/search/crawl.h"
#include "gavelhawk/site/detail.h"
#include "pages.h"
#include "site/paths.h"

using namespace gavelhawk::search;
using searchtest::Closing;
using searchtest::G;
using searchtest::kNowMs;
using searchtest::ListedDeal;
using ::site::BidRecordsPath;
using ::site::DetailPath;
using ::site::ListingPath;

namespace {

// A site of path -> page text that logs every request.
struct FakeSite {
  std::map<std::string, std::string> pages;
  std::vector<std::string> log;

  void Listing(int code, int page, const std::vector<ListedDeal>& deals, std::int64_t nowMs = kNowMs) {
    pages[ListingPath(code, page)] = searchtest::ListingText(nowMs, deals);
  }
  // Detail page and bid records of one deal.
  void Deal(std::int32_t id, std::int64_t listPrice, std::int64_t current,
            const std::string& condition = "全新") {
    pages[DetailPath(id)] = searchtest::DetailText(id, "t", listPrice, condition);
    pages[BidRecordsPath(id)] = searchtest::RecordsText(current);
  }
  std::string Get(const std::string& path) {
    log.push_back(path);
    auto it = pages.find(path);
    return it == pages.end() ? std::string() : it->second;
  }
  int Count(const std::string& path) const {
    return static_cast<int>(std::count(log.begin(), log.end(), path));
  }
  int CountPrefix(const std::string& prefix) const {
    return static_cast<int>(
        std::count_if(log.begin(), log.end(), [&](const std::string& p) { return p.rfind(prefix, 0) == 0; }));
  }
  // Requests made for one deal.
  int DealRequests(std::int32_t id) const { return Count(DetailPath(id)) + Count(BidRecordsPath(id)); }
};

struct CrawlRun {
  CrawlOutcome out;
  std::map<int, Hit> slots;
  std::vector<int> storeOrder;
  int stopChecks = 0;
};

struct Options {
  KeywordFilter keywords;
  std::string maxDiscount = "0.5";
  std::function<int(int pagesFetched)> category;  // default: index 0
};

CrawlRun Crawl(FakeSite& site, Options o = {}) {
  CrawlRun r;
  CrawlHooks h;
  int pages = 0;
  h.fetch = [&](const std::string& path) {
    if (path.rfind("/paimai/", 0) == 0) ++pages;
    return site.Get(path);
  };
  h.stopRequested = [&] {
    ++r.stopChecks;
    return false;
  };
  h.categoryIndex = [&] { return o.category ? o.category(pages) : 0; };
  h.maxDiscount = [&] { return ParseRatio(o.maxDiscount); };
  h.store = [&](int slot, const Hit& hit) {
    r.slots[slot] = hit;
    r.storeOrder.push_back(slot);
  };
  r.out = gavelhawk::search::Crawl(o.keywords, h);
  return r;
}

KeywordFilter Upper(std::array<std::string, 4> in, std::array<std::string, 4> out = {}) {
  for (auto& w : in) w = platform::text::GbkUpperAsciiCopy(G(w));
  for (auto& w : out) w = platform::text::GbkUpperAsciiCopy(G(w));
  return KeywordFilter(in, out);
}

}  // namespace

TEST(CrawlPages, ReadsPagesOneToThirtyAndNeverThirtyOne) {
  FakeSite site;  // every listing page unreadable
  CrawlRun r = Crawl(site);
  EXPECT_EQ(r.out.end, CrawlEnd::AllPages);
  EXPECT_EQ(r.out.hitLast, -1);
  ASSERT_EQ(site.log.size(), 30u);
  for (int page = 1; page <= 30; ++page) EXPECT_EQ(site.log[page - 1], ListingPath(0, page));
  EXPECT_EQ(site.Count(ListingPath(0, 31)), 0);
  // The stop is asked before each page and, on a page without deals, once more.
  EXPECT_EQ(r.stopChecks, 30 + 30);
}

TEST(CrawlPages, NegativeClockEndsTheCrawl) {
  FakeSite site;
  site.pages[ListingPath(0, 1)] = G("<script>var nowMil=13860-12345000;</script>");
  CrawlRun r = Crawl(site);
  EXPECT_EQ(r.out.end, CrawlEnd::BadClock);
  EXPECT_EQ(site.log.size(), 1u);
}

TEST(CrawlPages, NoSelectionSearchesAllCategories) {
  FakeSite site;
  Options o;
  o.category = [](int) { return -1; };
  Crawl(site, o);
  EXPECT_EQ(site.log[0], ListingPath(0, 1));
}

TEST(CrawlTimeWindow, FiftySevenThousandSixHundredPassesOneMoreEndsThePage) {
  FakeSite site;
  // Page 1 corrects by -12: 57612 s leave 57600, 57613 leave 57601.
  site.Listing(0, 1, {Closing(57612, 1000001), Closing(57613, 1000002), Closing(57612, 1000003)});
  site.Listing(0, 2, {Closing(100, 1000004)});
  for (int id : {1000001, 1000002, 1000003, 1000004}) site.Deal(id, 1000, 100);
  CrawlRun r = Crawl(site);
  EXPECT_EQ(site.DealRequests(1000001), 2);
  EXPECT_EQ(site.DealRequests(1000002), 0);
  EXPECT_EQ(site.DealRequests(1000003), 0);  // behind the end of the page
  EXPECT_EQ(site.DealRequests(1000004), 2);  // the next page is read
  ASSERT_EQ(r.out.hitLast, 1);
  EXPECT_EQ(r.slots[0].strRemain, G("960分 0秒"));
  EXPECT_EQ(r.slots[1].nDealId, 1000004);
}

TEST(CrawlTimeWindow, CorrectionGrowsByThreeSecondsAPage) {
  FakeSite site;
  // The same deal, listed on pages 1, 2 and 30 with the same clock.
  site.Listing(0, 1, {Closing(100, 1000001)});
  site.Listing(0, 2, {Closing(100, 1000002)});
  site.Listing(0, 30, {Closing(0, 1000030)});
  for (int id : {1000001, 1000002, 1000030}) site.Deal(id, 1000, 100);
  CrawlRun r = Crawl(site);
  ASSERT_EQ(r.out.hitLast, 2);
  EXPECT_EQ(r.slots[0].strRemain, G(" 1分28秒"));  // 100 - 12
  EXPECT_EQ(r.slots[1].strRemain, G(" 1分31秒"));  // 100 - 9
  EXPECT_EQ(r.slots[2].strRemain, G(" 1分15秒"));  // 0 + 75
}

TEST(CrawlTimeWindow, AtMostSixteenDealsAPage) {
  FakeSite site;
  std::vector<ListedDeal> deals;
  for (int i = 0; i < 20; ++i) {
    deals.push_back(Closing(100 + i, 2000000 + i));
    site.Deal(2000000 + i, 1000, 100);
  }
  site.Listing(0, 1, deals);
  CrawlRun r = Crawl(site);
  EXPECT_EQ(r.out.hitLast, 15);
  EXPECT_EQ(site.DealRequests(2000015), 2);
  EXPECT_EQ(site.DealRequests(2000016), 0);
  // Before each page, then sixteen times on page 1 and once on each empty page.
  EXPECT_EQ(r.stopChecks, 30 + 16 + 29);
}

TEST(CrawlStore, HitHoldsWhatTheListShows) {
  FakeSite site;
  site.Listing(0, 1, {Closing(75 + 12, 1234567, "Lenovo ThinkPad 笔记本")});
  site.Deal(1234567, 4999, 1200, "全新");
  Options o;
  o.keywords = Upper({"thinkpad", "", "", ""});
  CrawlRun r = Crawl(site, o);
  ASSERT_EQ(r.out.hitLast, 0);
  const Hit& h = r.slots[0];
  EXPECT_EQ(h.nDealId, 1234567);
  EXPECT_EQ(h.strTitle, G("Lenovo ThinkPad 笔记本"));  // letter case as listed
  EXPECT_EQ(h.strStatus, G("全新"));
  EXPECT_EQ(h.strRemain, G(" 1分15秒"));
  EXPECT_EQ(h.nCurPrice, 1200);
  EXPECT_EQ(h.nListPrice, 4999);
  EXPECT_FLOAT_EQ(h.fDiscount, static_cast<float>(1200.0 / 4999.0));
}

TEST(CrawlStore, NoListPriceIsStoredWithMinusOne) {
  FakeSite site;
  site.Listing(0, 1, {Closing(100, 1000001), Closing(100, 1000002)});
  site.Deal(1000001, 0, 5000);
  site.pages[BidRecordsPath(1000002)] = searchtest::RecordsText(300);  // detail page unreadable
  CrawlRun r = Crawl(site);
  ASSERT_EQ(r.out.hitLast, 1);
  EXPECT_EQ(r.slots[0].nListPrice, 0);
  EXPECT_EQ(r.slots[0].nCurPrice, 5000);
  EXPECT_FLOAT_EQ(r.slots[0].fDiscount, -1.0f);
  EXPECT_EQ(r.slots[1].nDealId, 1000002);
  EXPECT_EQ(r.slots[1].strStatus, "");
  EXPECT_FLOAT_EQ(r.slots[1].fDiscount, -1.0f);
}

TEST(CrawlStore, UnreadableLimitStoresOnlyDealsWithoutListPrice) {
  FakeSite site;
  site.Listing(0, 1, {Closing(100, 1000001), Closing(100, 1000002)});
  site.Deal(1000001, 1000, 0);  // no bids yet
  site.Deal(1000002, 0, 10);
  Options o;
  o.maxDiscount = "half";
  CrawlRun r = Crawl(site, o);
  ASSERT_EQ(r.out.hitLast, 0);
  EXPECT_EQ(r.slots[0].nDealId, 1000002);
}

TEST(CrawlStore, RefusedDealDoesNotTakeASlot) {
  FakeSite site;
  // 47 hits, then a deal that fails the discount, then the 48th: the table
  // fills exactly and nothing is asked for after it.
  std::vector<ListedDeal> p1, p2, p3, p4;
  int id = 6000000;
  for (int i = 0; i < 16; ++i, ++id) p1.push_back(Closing(100, id)), site.Deal(id, 1000, 100);
  for (int i = 0; i < 16; ++i, ++id) p2.push_back(Closing(100, id)), site.Deal(id, 1000, 100);
  for (int i = 0; i < 15; ++i, ++id) p3.push_back(Closing(100, id)), site.Deal(id, 1000, 100);
  p3.push_back(Closing(100, id)), site.Deal(id, 1000, 999), ++id;  // refused
  p4.push_back(Closing(100, id)), site.Deal(id, 1000, 1), ++id;    // 48th
  p4.push_back(Closing(100, id)), site.Deal(id, 1000, 1);
  site.Listing(0, 1, p1);
  site.Listing(0, 2, p2);
  site.Listing(0, 3, p3);
  site.Listing(0, 4, p4);
  CrawlRun r = Crawl(site);
  EXPECT_EQ(r.out.hitLast, 47);
  EXPECT_EQ(r.slots[47].nDealId, id - 1);
  EXPECT_EQ(site.DealRequests(id), 0);
  EXPECT_EQ(r.out.end, CrawlEnd::TableFull);
  // Slots are filled 0, 1, 2, ... with nothing skipped or written twice.
  ASSERT_EQ(r.storeOrder.size(), 48u);
  for (int i = 0; i < 48; ++i) EXPECT_EQ(r.storeOrder[static_cast<std::size_t>(i)], i);
}

TEST(CrawlStore, LimitIsReadAtEveryDecision) {
  FakeSite site;
  site.Listing(0, 1, {Closing(100, 1000001), Closing(100, 1000002)});
  site.Deal(1000001, 1000, 600);
  site.Deal(1000002, 1000, 600);
  // The field is changed to 0.7 while the first deal is being read.
  CrawlRun r;
  CrawlHooks h;
  int decisions = 0;
  h.fetch = [&](const std::string& p) { return site.Get(p); };
  h.maxDiscount = [&] { return ++decisions == 1 ? 0.5 : 0.7; };
  h.store = [&](int slot, const Hit& hit) { r.slots[slot] = hit; };
  r.out = gavelhawk::search::Crawl(KeywordFilter(), h);
  ASSERT_EQ(r.out.hitLast, 0);
  EXPECT_EQ(r.slots[0].nDealId, 1000002);
}
