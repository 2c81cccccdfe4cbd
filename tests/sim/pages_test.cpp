// Every page of the simulated site read back with the cuts the programs make.
#include <gtest/gtest.h>

#include "site/cut.h"
#include "support.h"

using namespace simtest;

namespace {

class Pages : public ::testing::Test {
 protected:
  void SetUp() override {
    server.SetClock(kT0, false);
    server.Start();
  }
  std::string Fetch(const std::string& path, long* status = nullptr) {
    Answer a = client.Get(server.BaseUrl() + path);
    EXPECT_EQ(a.result, CURLE_OK) << path;
    if (status) *status = a.status;
    return PageText(a.body);
  }

  sim::Server server;
  Client client;
};

const std::string kPhone = "Apple iPhone 13 128G 午夜色 国行";

// --- detail page -----------------------------------------------------------

TEST_F(Pages, DetailCarriesEveryValueAtTheProgramsCuts) {
  sim::Auction a = Lot(1234567, kPhone, 125000);
  a.listPrice = 5999;
  a.lowerOffset = 5;
  a.higherOffset = 300;
  a.condition = "九成新";
  a.startMs = kT0 - 7200456;
  server.AddAuction(a);
  long status = 0;
  std::string page = Fetch("/detail/1234567", &status);
  EXPECT_EQ(status, 200);
  EXPECT_GE(page.size(), 1024u);

  EXPECT_EQ(DetailTitle(page), Gbk(kPhone));
  EXPECT_EQ(Number(page, "auctionStatus", 16, ";"), 0);
  EXPECT_EQ(Number(page, "priceLowerOffset", 20, "."), 5);
  EXPECT_EQ(Number(page, "priceHigherOffset", 21, "."), 300);
  EXPECT_EQ(Number(page, Gbk("京东价"), 15, "."), 5999);
  EXPECT_EQ(After(page, Gbk("使用状态"), 10, "<"), Gbk("九成新"));
  EXPECT_EQ(Number(page, "parseInt", 10, "."), 5999);

  // Times: the whole 13 digits, the low digits the bidding program keeps,
  // and the seconds the history program keeps.
  const std::int64_t end = kT0 + 125000, start = kT0 - 7200456;
  EXPECT_EQ(After(page, "endTimeMili", 12, "}"), std::to_string(end));
  EXPECT_EQ(Number(page, "endTimeMili", 16, "}"), end % 1000000000);
  EXPECT_EQ(Number(page, "endTimeMili", 12, "}") / 1000, end / 1000);
  EXPECT_EQ(After(page, "endTimeMili", 12, "}").substr(0, 10), std::to_string(end / 1000));
  EXPECT_EQ(After(page, "nowMil", 7, ";"), std::to_string(kT0));
  EXPECT_EQ(Number(page, "nowMil", 11, ";"), kT0 % 1000000000);
  EXPECT_EQ(Number(page, "endTimeMili", 16, "}") - Number(page, "nowMil", 11, ";"), 125000);
  // The opening time is read behind "nowMil", on the same working text.
  std::string_view w = page;
  w.remove_prefix(page.find("nowMil"));
  EXPECT_EQ(Number(w, "startTimeMili", 18, "}"), start % 1000000000);
  EXPECT_EQ(After(page, "startTimeMili", 14, "}"), std::to_string(start));
}

TEST_F(Pages, DetailKeysAppearOnceInTheirOrder) {
  server.AddAuction(Lot(1234567, kPhone));
  std::string page = Fetch("/detail/1234567");
  const std::vector<std::string> keys = {
      "title",       "endTimeMili",   "auctionStatus", "priceLowerOffset", "priceHigherOffset",
      Gbk("京东价"), Gbk("使用状态"), "parseInt",      "nowMil",           "startTimeMili"};
  std::size_t last = 0;
  for (const auto& k : keys) {
    std::size_t at = page.find(k);
    ASSERT_NE(at, std::string::npos) << k;
    EXPECT_GE(at, last) << k;
    last = at;
  }
  for (const char* once : {"endTimeMili", "auctionStatus", "priceLowerOffset", "priceHigherOffset",
                           "parseInt", "nowMil", "startTimeMili"})
    EXPECT_EQ(Count(page, once), 1) << once;
  EXPECT_EQ(Count(page, Gbk("京东价")), 1);
  EXPECT_EQ(Count(page, Gbk("使用状态")), 1);
  // The title is found between exactly two "title"s: the data and the alt one.
  EXPECT_EQ(Count(page, "title"), 2);
}

TEST_F(Pages, DetailStatusFollowsTheClockUnlessOverridden) {
  sim::Auction a = Lot(1234567, kPhone, 60000);
  server.AddAuction(a);
  EXPECT_EQ(Number(Fetch("/detail/1234567"), "auctionStatus", 16, ";"), 0);
  server.SetClock(a.startMs - 1, false);
  EXPECT_EQ(Number(Fetch("/detail/1234567"), "auctionStatus", 16, ";"), 1);
  server.SetClock(a.endMs, false);
  EXPECT_EQ(Number(Fetch("/detail/1234567"), "auctionStatus", 16, ";"), 2);
  EXPECT_EQ(server.StatusOf(1234567), 2);

  server.SetClock(kT0, false);
  server.UpdateAuction(1234567, [](sim::Auction& x) { x.statusOverride = 2; });
  EXPECT_EQ(Number(Fetch("/detail/1234567"), "auctionStatus", 16, ";"), 2);
  EXPECT_EQ(server.StatusOf(1234567), 2);
  EXPECT_EQ(server.StatusOf(7654321), -1);
}

TEST_F(Pages, DetailIsLongEnoughWhateverTheTitle) {
  server.AddAuction(Lot(1000001, ""));
  server.AddAuction(Lot(1000002, std::string(3000, 'x')));
  std::string empty = Fetch("/detail/1000001");
  EXPECT_GE(empty.size(), 1024u);
  EXPECT_EQ(DetailTitle(empty), "");
  std::string longer = Fetch("/detail/1000002");
  EXPECT_EQ(DetailTitle(longer), std::string(3000, 'x'));
}

TEST_F(Pages, DetailTitleIsHtmlEscapedSoNoCutBreaks) {
  server.AddAuction(Lot(1234567, "罗技 \"MX\" <Keys> & Mouse"));
  EXPECT_EQ(DetailTitle(Fetch("/detail/1234567")), Gbk("罗技 &quot;MX&quot; &lt;Keys&gt; &amp; Mouse"));
  std::string listing = Fetch("/paimai/0-0-0-0-0-0-1-0-0-0-1.html");
  EXPECT_EQ(After(listing, "title=", 7, "\""), Gbk("罗技 &quot;MX&quot; &lt;Keys&gt; &amp; Mouse"));
}

TEST_F(Pages, UnknownAuctionGetsAShort404) {
  long status = 0;
  std::string page = Fetch("/detail/7654321", &status);
  EXPECT_EQ(status, 404);
  EXPECT_LT(page.size(), 1024u);
  EXPECT_FALSE(page.empty());
  Fetch("/detail/abc", &status);
  EXPECT_EQ(status, 404);
  Fetch("/nowhere", &status);
  EXPECT_EQ(status, 404);
}

TEST_F(Pages, ClockPageExistsWithoutTheScenario) {
  long status = 0;
  std::string page = Fetch("/detail/3333333", &status);
  EXPECT_EQ(status, 200);
  EXPECT_GE(page.size(), 1024u);
  EXPECT_EQ(Number(page, "nowMil", 11, ";"), kT0 % 1000000000);
  EXPECT_EQ(After(page, "nowMil", 7, ";"), std::to_string(kT0));
  // Nothing can be won there.
  EXPECT_EQ(Number(page, "auctionStatus", 16, ";"), 2);
  server.AdvanceClock(61000);
  EXPECT_EQ(Number(Fetch("/detail/3333333"), "nowMil", 11, ";"), (kT0 + 61000) % 1000000000);

  // A scenario may hold it like any other auction.
  server.AddAuction(Lot(3333333, "时钟拍品"));
  page = Fetch("/detail/3333333");
  EXPECT_EQ(DetailTitle(page), Gbk("时钟拍品"));
  EXPECT_EQ(Number(page, "auctionStatus", 16, ";"), 0);
}

TEST_F(Pages, TimesKeepThirteenDigitsForSmallClocks) {
  server.SetClock(86400123, false);
  server.AddAuction(Lot(1234567, "x"));
  std::string page = Fetch("/detail/1234567");
  EXPECT_EQ(After(page, "nowMil", 7, ";"), "0000086400123");
  EXPECT_EQ(Number(page, "nowMil", 11, ";"), 86400123);
}

// --- bid records -------------------------------------------------------------

TEST_F(Pages, BidRecordsListHighestFirstAndNameTheWinnerAfterTheClose) {
  sim::Auction a = Lot(1234567, kPhone, 60000);
  a.bids = {{"alice", 120, kT0 - 5000},
            {"bob", 150, kT0 - 4000},
            {"carol", 150, kT0 - 3000},
            {"dave", 90, kT0 - 9000}};
  server.AddAuction(a);
  const std::string path = "/json/paimai/bid_records?dealId=1234567";
  std::string running = Fetch(path);
  EXPECT_EQ(Number(running, "price", 7, "."), 150);                      // the bidding program's read
  EXPECT_EQ(Number(After(running, "price", 0, "}"), ":", 1, "."), 150);  // the search's read
  EXPECT_EQ(After(running, "userNickName", 15, "\""), "bob");            // the earlier of equal bids leads
  EXPECT_EQ(After(running, "trxBuyerName", 14, ","), "null");
  EXPECT_EQ(Number(running, "trxPrice", 10, "."), 150);
  EXPECT_EQ(Count(running, "\"price\""), 4);
  // Records sorted: 150, 150, 120, 90.
  std::string_view w = running;
  std::vector<std::int64_t> prices;
  for (std::size_t p = w.find("\"price\":"); p != std::string_view::npos; p = w.find("\"price\":", p + 1))
    prices.push_back(Number(w.substr(p), "price", 7, "."));
  EXPECT_EQ(prices, (std::vector<std::int64_t>{150, 150, 120, 90}));

  server.SetClock(a.endMs, false);
  std::string over = Fetch(path);
  EXPECT_EQ(After(over, "trxBuyerName", 14, ","), "\"bob\"");
  // The history program reads the price after the buyer name's ":".
  std::string_view afterName = over;
  afterName.remove_prefix(over.find("trxBuyerName") + 14);
  EXPECT_EQ(Number(afterName, ":", 1, "."), 150);
}

TEST_F(Pages, BidRecordsOverridesShowAfterTheClose) {
  sim::Auction a = Lot(1234567, "张三的拍品", 60000);
  a.bids = {{"alice", 120, kT0 - 5000}};
  a.trxBuyerOverride = "null";
  a.trxPriceOverride = 99;
  server.AddAuction(a);
  const std::string path = "/json/paimai/bid_records?dealId=1234567";
  EXPECT_EQ(Number(Fetch(path), "trxPrice", 10, "."), 120);  // still running: the current bid
  server.SetClock(a.endMs + 1, false);
  std::string over = Fetch(path);
  EXPECT_EQ(After(over, "trxBuyerName", 14, ","), "null");
  EXPECT_EQ(Number(over, "trxPrice", 10, "."), 99);
  EXPECT_EQ(Number(over, "price", 7, "."), 120);

  server.UpdateAuction(1234567, [](sim::Auction& x) { x.trxBuyerOverride = "王五"; });
  EXPECT_EQ(After(Fetch(path), "trxBuyerName", 14, ","), Gbk("\"王五\""));
}

TEST_F(Pages, BidRecordsWithoutBids) {
  sim::Auction a = Lot(1234567, kPhone, 60000);
  a.startPrice = 25;
  server.AddAuction(a);
  std::string page = Fetch("/json/paimai/bid_records?dealId=1234567");
  EXPECT_EQ(page.find("\"price\""), std::string::npos);
  EXPECT_EQ(Number(page, "trxPrice", 10, "."), 25);
  EXPECT_EQ(After(page, "trxBuyerName", 14, ","), "null");
  server.SetClock(a.endMs, false);
  EXPECT_EQ(After(Fetch("/json/paimai/bid_records?dealId=1234567"), "trxBuyerName", 14, ","), "null");
  std::string unknown = Fetch("/json/paimai/bid_records?dealId=7654321");
  EXPECT_EQ(After(unknown, "trxBuyerName", 14, ","), "null");
  EXPECT_EQ(unknown.find("\"price\""), std::string::npos);
}

// --- listing pages -----------------------------------------------------------

std::string ListingPath(int cat, int page) {
  return "/paimai/0-0-" + std::to_string(cat) + "-0-0-0-1-0-0-0-" + std::to_string(page) + ".html";
}

struct Deal {
  std::int64_t E, id;
  std::string title;
};

// The search's reads of one listing page: the clock N and each deal.
std::vector<Deal> ReadListing(const std::string& page, std::int64_t* n) {
  std::string_view w = page;
  std::string_view clock = w;
  ::site::CutAfter(clock, "nowMil", 12);
  std::string before = std::string(::site::TextBefore(clock, ";"));
  *n = before.size() >= 3 ? std::stoll(before.substr(0, before.size() - 3)) : -1;
  std::vector<Deal> deals;
  while (w.find("resultDeals") != std::string_view::npos) {
    Deal d;
    ::site::CutAfter(w, "resultDeals", 33);
    d.E = std::stoll(std::string(w.substr(0, 5)));
    ::site::CutAfter(w, "|", 1);
    d.id = std::stoll(std::string(w.substr(0, 7)));
    ::site::CutAfter(w, "title=", 7);
    d.title = std::string(::site::TextBefore(w, "\""));
    deals.push_back(d);
  }
  return deals;
}

TEST_F(Pages, ListingShowsRunningDealsSoonestFirstAtTheSearchCuts) {
  // Closing order differs from id order on purpose.
  server.AddAuction(Lot(2000003, "三号 Canon EOS R6", 300000));
  server.AddAuction(Lot(2000001, "一号 iPhone", 900000));
  server.AddAuction(Lot(2000002, "二号 索尼耳机", 45000));
  sim::Auction notYet = Lot(2000004, "未开始", 100000);
  notYet.startMs = kT0 + 1000;
  server.AddAuction(notYet);
  server.AddAuction(Lot(2000005, "已结束", -1));
  std::int64_t n = 0;
  auto deals = ReadListing(Fetch(ListingPath(1000, 1)), &n);
  EXPECT_EQ(n, (kT0 / 1000) % 100000);
  ASSERT_EQ(deals.size(), 3u);
  EXPECT_EQ(deals[0].id, 2000002);
  EXPECT_EQ(deals[1].id, 2000003);
  EXPECT_EQ(deals[2].id, 2000001);
  EXPECT_EQ(deals[0].title, Gbk("二号 索尼耳机"));
  EXPECT_EQ(deals[1].E, ((kT0 + 300000) / 1000) % 100000);
  // The search's remaining time comes out in whole seconds.
  EXPECT_EQ((deals[1].E - n + 100000) % 100000, 300);
}

TEST_F(Pages, ListingPagesByCategory) {
  server.SetListingPageSize(5);
  EXPECT_EQ(server.ListingPageSize(), 5);
  for (int i = 0; i < 7; ++i) {
    sim::Auction a = Lot(3000000 + i, "手机 " + std::to_string(i), 60000 + i * 1000);
    server.AddAuction(a);
  }
  for (int i = 0; i < 3; ++i) {
    sim::Auction a = Lot(4000000 + i, "冰箱 " + std::to_string(i), 30000 + i * 1000);
    a.category = 4000;
    server.AddAuction(a);
  }
  sim::Auction other = Lot(5000000, "无分类", 1000);
  other.category = 0;
  server.AddAuction(other);

  std::int64_t n;
  auto p1 = ReadListing(Fetch(ListingPath(1000, 1)), &n);
  auto p2 = ReadListing(Fetch(ListingPath(1000, 2)), &n);
  ASSERT_EQ(p1.size(), 5u);
  ASSERT_EQ(p2.size(), 2u);
  EXPECT_EQ(p1.front().id, 3000000);
  EXPECT_EQ(p2.back().id, 3000006);
  std::string past = Fetch(ListingPath(1000, 3));
  EXPECT_EQ(ReadListing(past, &n).size(), 0u);
  EXPECT_EQ(n, (kT0 / 1000) % 100000);  // a page past the end still carries the clock

  auto home = ReadListing(Fetch(ListingPath(4000, 1)), &n);
  ASSERT_EQ(home.size(), 3u);
  EXPECT_EQ(home[0].title, Gbk("冰箱 0"));
  for (int cat : {2000, 3000, 6000, 7000})
    EXPECT_EQ(ReadListing(Fetch(ListingPath(cat, 1)), &n).size(), 0u) << cat;

  // Category 0 lists every running deal, the uncategorised one first.
  auto all1 = ReadListing(Fetch(ListingPath(0, 1)), &n);
  auto all2 = ReadListing(Fetch(ListingPath(0, 2)), &n);
  auto all3 = ReadListing(Fetch(ListingPath(0, 3)), &n);
  EXPECT_EQ(all1.size() + all2.size() + all3.size(), 11u);
  EXPECT_EQ(all1[0].id, 5000000);
  EXPECT_EQ(all1[1].id, 4000000);

  EXPECT_EQ(ReadListing(Fetch(ListingPath(5000, 1)), &n).size(), 0u);  // no such category
  EXPECT_EQ(ReadListing(Fetch(ListingPath(1000, 0)), &n).size(), 0u);
  // The browsers' listing page is the first page of every category.
  EXPECT_EQ(ReadListing(Fetch("/paimai/0-0-0-0-0-0-1-0-0-1-1.html"), &n).size(), 5u);
  long status = 0;
  Fetch("/paimai/0-0-1000-0-0-0-2-0-0-0-1.html", &status);
  EXPECT_EQ(status, 404);
}

// --- home and update pages -------------------------------------------------

TEST_F(Pages, HomePageCarriesTheClockInSeconds) {
  std::string page = Fetch("/");
  EXPECT_EQ(After(page, "nowMil", 7, ";").substr(0, 10), std::to_string(kT0 / 1000));
  EXPECT_EQ(std::stoll(After(page, "nowMil", 7, ";").substr(0, 10)) / 86400, kT0 / 1000 / 86400);
}

TEST_F(Pages, UpdatePageHoldsVersionLinkAndHistory) {
  std::string page = Fetch("/update");
  // The update check's cuts.
  std::size_t p = page.find(Gbk("专业版"));
  ASSERT_NE(p, std::string::npos);
  std::string w = page.substr(p + 4);
  w = w.substr(w.find('v') + 1);
  EXPECT_EQ(w.substr(0, w.find('<')), "3.61");
  std::string link = w.substr(w.find("http"));
  link = link.substr(0, link.find('<'));
  EXPECT_EQ(link, server.BaseUrl() + "/download/gavelhawk.tar.gz");
  Answer download = client.Get(link);
  EXPECT_EQ(download.status, 200);
  EXPECT_FALSE(download.body.empty());
  // The history: from 专业版, from 更新历史, before "<br".
  std::string h = page.substr(p);
  h = h.substr(h.find(Gbk("更新历史")));
  h = h.substr(0, h.find("<br"));
  EXPECT_EQ(h.rfind(Gbk("更新历史"), 0), 0u);
  EXPECT_GE(Count(h, "</p><p>"), 2);

  server.SetUpdatePage("<p>Gavelhawk 专业版 v3.62</p>\r\n");
  EXPECT_EQ(client.Get(server.BaseUrl() + "/update").body, "<p>Gavelhawk 专业版 v3.62</p>\r\n");
}

}  // namespace
