// Reads of the detail page, on saved pages and on pages built to hit the
// cut rules' corners.
#include "gavelhawk/site/detail.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "platform/text/gbk.h"
#include "site/fetch.h"

namespace {

using namespace gavelhawk::site;
using namespace ::site;
using platform::text::GbkToUtf8;
using platform::text::Utf8ToGbk;

// A saved page as FetchPage would have returned it.
std::string SavedPage(const std::string& name) {
  std::ifstream in(std::string(GH_TEST_DATA) + "/" + name, std::ios::binary);
  EXPECT_TRUE(in) << name;
  std::ostringstream s;
  s << in.rdbuf();
  return ToPageText(s.str());
}

TEST(DetailPaths, AsTheSiteNamesThem) {
  EXPECT_EQ(DetailPath(3333333), "/detail/3333333");
  EXPECT_EQ(BidRecordsPath(12), "/json/paimai/bid_records?dealId=12");
  EXPECT_EQ(BidPath(12, 150), "/json/paimai/bid?dealId=12&price=150");
}

TEST(SavedDetailPage, RunningAuction) {
  std::string page = SavedPage("detail_running.html");
  ASSERT_TRUE(IsDetailPage(page));
  AuctionDetail d = ReadDetail(page);
  EXPECT_EQ(GbkToUtf8(d.title), "Apple iPhone 15 128GB 黑色 全新未拆封");
  EXPECT_EQ(d.title.size(), Utf8ToGbk("Apple iPhone 15 128GB 黑色 全新未拆封").size());
  EXPECT_EQ(d.status, 0);
  EXPECT_EQ(d.lower, 5);
  EXPECT_EQ(d.higher, 50);
  EXPECT_EQ(ReadEndTime(page), 1386012470678);
  EXPECT_EQ(ReadNowMil(page), 1386012345678);
  EXPECT_EQ(RemainingText(ReadEndTime(page) - ReadNowMil(page)), "2分5秒");
  OpeningRead o = ReadOpening(page);
  EXPECT_EQ(o.now, 1386012345678);
  EXPECT_EQ(o.opening - o.now, -600000);
}

TEST(SavedDetailPage, EndedAuctionHasStatusTwo) {
  AuctionDetail d = ReadDetail(SavedPage("detail_ended.html"));
  EXPECT_EQ(d.status, 2);
  EXPECT_EQ(GbkToUtf8(d.title), "索尼 WH-1000XM5 降噪耳机");
  EXPECT_EQ(d.lower, 1);
  EXPECT_EQ(d.higher, 500);
}

TEST(SavedDetailPage, EmptyTitleAndBoundsInTheWrongOrder) {
  std::string page = SavedPage("detail_empty_title.html");
  AuctionDetail d = ReadDetail(page);
  EXPECT_EQ(d.title, "");
  EXPECT_EQ(d.status, 1);
  EXPECT_EQ(d.lower, 10);
  EXPECT_EQ(d.higher, 5);
  EXPECT_EQ(BoundIncrement(1, d.lower, d.higher), 5);
  EXPECT_EQ(BoundIncrement(7, d.lower, d.higher), 5);
  EXPECT_EQ(BoundIncrement(99, d.lower, d.higher), 5);
}

TEST(SavedDetailPage, TimesStraddlingAMultipleOfTenToTheNine) {
  // Closing 1386000120000, clock 1385999995000: the low nine digits are
  // 120000 and 999995000, whose difference would say "ended" long ago.
  std::string page = SavedPage("detail_straddle.html");
  EXPECT_EQ(ReadEndTime(page) - ReadNowMil(page), 125000);
  EXPECT_EQ(RemainingText(ReadEndTime(page) - ReadNowMil(page)), "2分5秒");
  OpeningRead o = ReadOpening(page);
  EXPECT_EQ(o.opening - o.now, 7500);
}

TEST(SavedDetailPage, UnknownAuctionPageIsTooShort) {
  std::string page = SavedPage("detail_missing.html");
  EXPECT_FALSE(IsDetailPage(page));
  EXPECT_FALSE(IsDetailPage(""));
}

TEST(IsDetailPage, ThresholdIs1024Bytes) {
  EXPECT_FALSE(IsDetailPage(std::string(1023, 'x')));
  EXPECT_TRUE(IsDetailPage(std::string(1024, 'x')));
}

TEST(DetailTitle, CutsCountGbkBytes) {
  // The 35 bytes before the next "title" are ten Chinese characters and 15
  // ASCII bytes: a count in characters would eat into the title.
  std::string between = Utf8ToGbk("数据种类拍卖商品名称") + "\" data-x=\"1\" a-";
  ASSERT_EQ(between.size(), 35u);
  std::string page = "<div data-title=\"" + Utf8ToGbk("京东价") + between + "title=\"\">";
  EXPECT_EQ(ReadDetail(page).title, "\xBE\xA9\xB6\xAB\xBC\xDB");
}

TEST(DetailTitle, EmptyWhenTheNextTitleIsAtMost35BytesOn) {
  std::string title35 = "x=\"" + std::string(32, 'y');
  ASSERT_EQ(title35.size(), 35u);
  EXPECT_EQ(ReadDetail("title" + title35 + "title").title, "");       // p - 35 = -2
  EXPECT_EQ(ReadDetail("title=\"" + title35 + "title").title, "");    // p - 35 = 0
  EXPECT_EQ(ReadDetail("title=\"A" + title35 + "title").title, "A");  // p - 35 = 1
  EXPECT_EQ(ReadDetail("title=\"only one title key").title, "");      // ends at that one
  EXPECT_EQ(ReadDetail("title=\"no second key at all, long enough to pass 35 bytes").title, "");
}

TEST(DetailKeys, LookedForOnlyBehindThePreviousCut) {
  // A status before the title is not the auction's: the one behind it is.
  std::string page = "var auctionStatus = 2; data-title=\"T" + std::string(35, '-') +
                     "title var auctionStatus = 0; var priceLowerOffset = '3.00'; "
                     "var priceHigherOffset = '9.00';";
  AuctionDetail d = ReadDetail(page);
  EXPECT_EQ(d.title, "T");
  EXPECT_EQ(d.status, 0);
  EXPECT_EQ(d.lower, 3);
  EXPECT_EQ(d.higher, 9);
}

TEST(DetailKeys, BoundsInOtherOrderReadAsTheCutsFindThem) {
  // priceHigherOffset stands first: the cut for priceLowerOffset passes it,
  // so the higher bound is looked for in vain and reads 0.
  std::string page =
      "title=\"\" var auctionStatus = 0; var priceHigherOffset = '9.00'; var priceLowerOffset = '3.00';";
  AuctionDetail d = ReadDetail(page);
  EXPECT_EQ(d.lower, 3);
  EXPECT_EQ(d.higher, 0);
}

TEST(DetailKeys, EmptyPageReadsZeros) {
  AuctionDetail d = ReadDetail("");
  EXPECT_EQ(d.title, "");
  EXPECT_EQ(d.status, 0);
  EXPECT_EQ(d.lower, 0);
  EXPECT_EQ(d.higher, 0);
  EXPECT_EQ(ReadEndTime(""), 0);
  EXPECT_EQ(ReadNowMil(""), 0);
  EXPECT_EQ(ReadOpening("").now, 0);
  EXPECT_EQ(ReadOpening("").opening, 0);
}

TEST(BoundIncrement, RaisedToLowerThenLoweredToHigher) {
  EXPECT_EQ(BoundIncrement(1, 5, 50), 5);
  EXPECT_EQ(BoundIncrement(80, 5, 50), 50);
  EXPECT_EQ(BoundIncrement(20, 5, 50), 20);
  EXPECT_EQ(BoundIncrement(5, 5, 50), 5);
  EXPECT_EQ(BoundIncrement(50, 5, 50), 50);
  EXPECT_EQ(BoundIncrement(1, 10, 5), 5);
  EXPECT_EQ(BoundIncrement(80, 10, 5), 5);
}

TEST(Times, ReadAtFullWidth) {
  EXPECT_EQ(ReadEndTime("x{endTimeMili=1386012345678}"), 1386012345678);
  EXPECT_EQ(ReadNowMil("var nowMil=1386012345678;"), 1386012345678);
  // A value past 2^32 and a 14-digit one keep every digit.
  EXPECT_EQ(ReadNowMil("var nowMil=99999999999999;"), 99999999999999);
}

TEST(Times, GarbledHugeValuesAreHeldSoDifferencesStayFinite) {
  std::string page = "{endTimeMili=99999999999999999999999} var nowMil=-99999999999999999999999;";
  EXPECT_EQ(ReadEndTime(page), kMaxTimeMs);
  EXPECT_EQ(ReadNowMil(page), -kMaxTimeMs);
  // Under UBSan an overflow here would abort the test.
  EXPECT_EQ(ReadEndTime(page) - ReadNowMil(page), 2 * kMaxTimeMs);
  EXPECT_EQ(RemainingText(ReadNowMil(page) - ReadEndTime(page)), "已结束");
}

TEST(Times, MissingDelimiterOrKeyReadsZero) {
  EXPECT_EQ(ReadEndTime("{endTimeMili=1386012345678"), 0);
  EXPECT_EQ(ReadNowMil("var nowMil=1386012345678"), 0);
  EXPECT_EQ(ReadNowMil("<html><body>nothing here;</body></html>"), 0);
}

TEST(Times, DifferencesAreExactAcrossAMultipleOfTenToTheNine) {
  std::string page = "{endTimeMili=1387000000400} var nowMil=1386999999600; {startTimeMili=1387000000100}";
  EXPECT_EQ(ReadEndTime(page) - ReadNowMil(page), 800);
  OpeningRead o = ReadOpening(page);
  EXPECT_EQ(o.opening - o.now, 500);
}

TEST(Times, OpeningIsLookedForOnlyBehindTheClock) {
  // A startTimeMili before nowMil is passed over; the one behind it counts.
  std::string page = "{startTimeMili=1000} var nowMil=5000; {startTimeMili=9000}";
  OpeningRead o = ReadOpening(page);
  EXPECT_EQ(o.now, 5000);
  EXPECT_EQ(o.opening, 9000);
  // With none behind it the opening reads 0, so opening - now is -now.
  o = ReadOpening("{startTimeMili=1000} var nowMil=5000;");
  EXPECT_EQ(o.opening, 0);
}

TEST(Times, ClosingTimeIsLookedForInTheWholePage) {
  std::string page = "var nowMil=5000; {endTimeMili=9000} {startTimeMili=1}";
  EXPECT_EQ(ReadEndTime(page), 9000);
}

TEST(RemainingText, MinutesAndSecondsOrEnded) {
  EXPECT_EQ(RemainingText(125000), "2分5秒");
  EXPECT_EQ(RemainingText(3600000), "60分0秒");
  EXPECT_EQ(RemainingText(1000), "0分1秒");
  EXPECT_EQ(RemainingText(59999), "0分59秒");
  EXPECT_EQ(RemainingText(999), "已结束");
  EXPECT_EQ(RemainingText(0), "已结束");
  EXPECT_EQ(RemainingText(-1), "已结束");
  EXPECT_EQ(RemainingText(-125000), "已结束");
}

TEST(RemainingText, DaysAwayStillCountsMinutes) {
  // 3 days: 4320 minutes, no wrap at 32 bits.
  EXPECT_EQ(RemainingText(3LL * 24 * 3600 * 1000 + 7000), "4320分7秒");
  EXPECT_EQ(RemainingText(5000000000LL), "83333分20秒");
}

}  // namespace
