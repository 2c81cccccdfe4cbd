// Reads of listing, detail and bid-record pages, and the filters, on page
// texts in the site's format.
#include <gtest/gtest.h>

#include "gavelhawk/search/listing.h"
#include "pages.h"
#include "site/paths.h"

using namespace gavelhawk::search;
using searchtest::Closing;
using searchtest::G;
using searchtest::kNowMs;
using searchtest::ListingText;
using ::site::ListingPath;

TEST(ListingPath, CategoryCodesInComboOrderAndAnythingElseIsAll) {
  EXPECT_EQ(ListingPath(CategoryCode(0), 1), "/paimai/0-0-0-0-0-0-1-0-0-0-1.html");
  EXPECT_EQ(ListingPath(CategoryCode(1), 1), "/paimai/0-0-4000-0-0-0-1-0-0-0-1.html");
  EXPECT_EQ(ListingPath(CategoryCode(6), 30), "/paimai/0-0-7000-0-0-0-1-0-0-0-30.html");
  const int expected[] = {0, 4000, 1000, 2000, 3000, 6000, 7000};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(CategoryCode(i), expected[i]) << "index " << i;
  EXPECT_EQ(CategoryCode(-1), 0);
  EXPECT_EQ(CategoryCode(7), 0);
}

TEST(ListingPage, ClockIsSecondsModulo100000) {
  const std::string text = ListingText(1386012345678, {}), lateText = ListingText(1386099999999, {});
  ListingPage p(text);
  EXPECT_EQ(p.ReadClock(), 12345);
  ListingPage late(lateText);
  EXPECT_EQ(late.ReadClock(), 99999);
}

TEST(ListingPage, EmptyOrClocklessPageReadsZero) {
  ListingPage empty{std::string_view()};
  EXPECT_EQ(empty.ReadClock(), 0);
  std::int32_t e = -1;
  EXPECT_FALSE(empty.NextDeal(e));
  const std::string text = G("<html>nothing here</html>");
  ListingPage garbage(text);
  EXPECT_EQ(garbage.ReadClock(), 0);
}

TEST(ListingPage, ClockWithMoreDigitsThanTheSiteSendsIsOutOfRange) {
  // Fourteen digits leave six before the milliseconds: the crawl's range test must see it.
  const std::string text = G("<script>var nowMil=13860123456789;</script>");
  ListingPage p(text);
  EXPECT_GT(p.ReadClock(), 99999);
}

TEST(ListingPage, DealsAreReadInPageOrderWithIdTitleAndClosing) {
  const std::string text = ListingText(kNowMs, {Closing(30, 1234567, "Apple iPad mini 2"),
                                                Closing(95, 7654321, "联想笔记本"), Closing(200, 42, "")});
  ListingPage p(text);
  ASSERT_EQ(p.ReadClock(), searchtest::kNowN);
  std::int32_t e = 0;
  ASSERT_TRUE(p.NextDeal(e));
  EXPECT_EQ(e, searchtest::kNowN + 30);
  EXPECT_EQ(p.ReadDealId(), 1234567);
  EXPECT_EQ(p.ReadTitle(), "Apple iPad mini 2");
  ASSERT_TRUE(p.NextDeal(e));
  EXPECT_EQ(e, searchtest::kNowN + 95);
  EXPECT_EQ(p.ReadDealId(), 7654321);
  EXPECT_EQ(p.ReadTitle(), G("联想笔记本"));
  ASSERT_TRUE(p.NextDeal(e));
  EXPECT_EQ(p.ReadDealId(), 42);
  EXPECT_EQ(p.ReadTitle(), "");
  EXPECT_FALSE(p.NextDeal(e));
}

TEST(ListingPage, SkippingADealByTimeLeavesTheNextDealReadable) {
  // A skipped deal is never cut for its id and title; the next marker is
  // still found behind it.
  const std::string text =
      ListingText(kNowMs, {Closing(5, 1111111, "first"), Closing(50, 2222222, "second")});
  ListingPage p(text);
  p.ReadClock();
  std::int32_t e = 0;
  ASSERT_TRUE(p.NextDeal(e));
  ASSERT_TRUE(p.NextDeal(e));
  EXPECT_EQ(p.ReadDealId(), 2222222);
  EXPECT_EQ(p.ReadTitle(), "second");
}

TEST(ListingPage, TitleWithoutClosingQuoteIsEmpty) {
  const std::string text =
      G("var nowMil=1386012345000;<li class=\"resultDeals\" data-end-mili=\"1386012345000\" "
        "data-deal=\"|1234567\"><a title=\"cut off");
  ListingPage p(text);
  p.ReadClock();
  std::int32_t e = 0;
  ASSERT_TRUE(p.NextDeal(e));
  EXPECT_EQ(p.ReadDealId(), 1234567);
  EXPECT_EQ(p.ReadTitle(), "");
}

TEST(RemainingTime, ClockDifferenceWrapsAt100000AndAddsTheCorrection) {
  EXPECT_EQ(RemainingSeconds(12366, 12345, -12), 9);
  EXPECT_EQ(RemainingSeconds(12367, 12345, -12), 10);
  EXPECT_EQ(RemainingSeconds(5, 99990, 0), 15);  // closes after the modulus wrapped
  EXPECT_EQ(RemainingSeconds(12345, 12345, 75), 75);
}

TEST(RemainingTime, TextsArePaddedToTwoPlacesAndReadBack) {
  const std::pair<std::int64_t, const char*> cases[] = {
      {75, " 1分15秒"}, {45, "45秒"},       {10, "10秒"},         {59, "59秒"},
      {60, " 1分 0秒"}, {3600, "60分 0秒"}, {57600, "960分 0秒"},
  };
  for (const auto& [seconds, text] : cases) {
    EXPECT_EQ(RemainText(seconds), G(text)) << text;
    EXPECT_EQ(ParseRemainText(G(text)), seconds) << text;
  }
  // A text of another form is not counted down.
  for (const char* other : {"", "秒", "分5秒", " 3分", "已结束", "1分x秒", "12"})
    EXPECT_EQ(ParseRemainText(G(other)), std::nullopt) << other;
}

namespace {
KeywordFilter Words(std::array<std::string, 4> in, std::array<std::string, 4> out) {
  for (auto& w : in) w = platform::text::GbkUpperAsciiCopy(G(w));
  for (auto& w : out) w = platform::text::GbkUpperAsciiCopy(G(w));
  return KeywordFilter(in, out);
}
bool Passes(const KeywordFilter& f, const std::string& titleUtf8) {
  return f.Passes(platform::text::GbkUpperAsciiCopy(G(titleUtf8)));
}
}  // namespace

TEST(KeywordFilter, EmptyRowsAcceptEveryTitle) {
  KeywordFilter f = Words({"", "", "", ""}, {"", "", "", ""});
  EXPECT_TRUE(Passes(f, "Apple iPad"));
  EXPECT_TRUE(Passes(f, ""));
  EXPECT_TRUE(Passes(f, "華為手機"));
}

TEST(KeywordFilter, EveryIncludeWordMustOccurAndNoExcludeWord) {
  KeywordFilter f = Words({"ipad", "", "mini", ""}, {"", "二手", "", "case"});
  EXPECT_TRUE(Passes(f, "Apple iPad Mini 2"));
  EXPECT_FALSE(Passes(f, "Apple iPad Air"));        // second include missing
  EXPECT_FALSE(Passes(f, "Apple iPad mini 二手"));  // excluded word
  EXPECT_FALSE(Passes(f, "iPad mini Smart Case"));  // excluded in another case
}

TEST(KeywordFilter, LowerCaseWordsMatchAnyCase) {
  KeywordFilter f = Words({"thinkpad", "", "", ""}, {"", "", "", ""});
  EXPECT_TRUE(Passes(f, "Lenovo ThinkPad X1"));
  EXPECT_TRUE(Passes(f, "LENOVO THINKPAD"));
  EXPECT_TRUE(Passes(f, "thinkpad"));
  EXPECT_FALSE(Passes(f, "Think Pad"));
}

TEST(KeywordFilter, ChineseWordsMatchByteForByte) {
  // 碼 is B4 61: its second byte is a lower-case ASCII letter, which must
  // neither be upper-cased nor match anything but 碼 itself.
  KeywordFilter f = Words({"數碼", "", "", ""}, {"", "", "", ""});
  EXPECT_TRUE(Passes(f, "數碼相機"));
  std::string lookalike = G("數");
  lookalike += "\xB4\x41";  // what a plain upper-casing would make of 碼
  EXPECT_FALSE(f.Passes(lookalike));
  EXPECT_FALSE(Passes(f, "数码相机"));  // simplified characters are other bytes
}

TEST(KeywordFilter, WordsNeverMatchAcrossTwoCharacters) {
  // 中文 is D6 D0 CE C4; 形 is D0 CE, straddling the two.
  KeywordFilter include = Words({"形", "", "", ""}, {"", "", "", ""});
  EXPECT_FALSE(Passes(include, "中文"));
  EXPECT_TRUE(Passes(include, "圆形"));
  // 華 is C8 41: its second byte is "A", which an exclude word "a" must not hit.
  KeywordFilter exclude = Words({"", "", "", ""}, {"a", "", "", ""});
  EXPECT_TRUE(Passes(exclude, "華為手機"));
  EXPECT_FALSE(Passes(exclude, "華為 Ascend"));
}

TEST(SearchDetail, ListPriceAndConditionFromTheDetailPage) {
  const std::string page = searchtest::DetailText(1, "x", 1999, "全新");
  SearchDetail d = ReadSearchDetail(page);
  EXPECT_EQ(d.listPrice, 1999);
  EXPECT_EQ(d.condition, G("全新"));
  EXPECT_TRUE(ConditionAccepted(d.condition));
}

TEST(SearchDetail, ConditionOfMoreThanEightBytesIsRefused) {
  const std::string eight = searchtest::DetailText(1, "x", 100, "九成新外");
  SearchDetail four = ReadSearchDetail(eight);
  EXPECT_EQ(four.condition.size(), 8u);
  EXPECT_TRUE(ConditionAccepted(four.condition));
  const std::string ten = searchtest::DetailText(1, "x", 100, "二手九成新");
  SearchDetail five = ReadSearchDetail(ten);
  EXPECT_EQ(five.condition, G("二手九成新"));
  EXPECT_FALSE(ConditionAccepted(five.condition));
}

TEST(SearchDetail, UnreadablePageGivesNoPriceAndNoCondition) {
  SearchDetail d = ReadSearchDetail(std::string_view());
  EXPECT_EQ(d.listPrice, 0);
  EXPECT_EQ(d.condition, "");
  EXPECT_TRUE(ConditionAccepted(d.condition));
}

TEST(BidRecords, CurrentPriceIsTheFirstRecord) {
  EXPECT_EQ(ReadCurrentPrice(searchtest::RecordsText(120)), 120);
  EXPECT_EQ(ReadCurrentPrice(G("{\"records\":[{\"price\":35.50,\"userNickName\":\"a\"}]}")), 35);
  // "trxPrice" is not "price": the read must come from the records.
  EXPECT_EQ(ReadCurrentPrice(G("{\"trxPrice\":99.00,\"records\":[{\"price\":7.00}]}")), 7);
}

TEST(BidRecords, NoRecordsOrNoAnswerReadsZero) {
  EXPECT_EQ(ReadCurrentPrice(searchtest::RecordsText(0)), 0);
  EXPECT_EQ(ReadCurrentPrice(""), 0);
}

TEST(Discount, ComboTextConvertsLikeAtof) {
  EXPECT_DOUBLE_EQ(ParseRatio("0.5"), 0.5);
  EXPECT_DOUBLE_EQ(ParseRatio("1.0"), 1.0);
  EXPECT_DOUBLE_EQ(ParseRatio(" 0.75abc"), 0.75);
  EXPECT_DOUBLE_EQ(ParseRatio(".8"), 0.8);
  EXPECT_DOUBLE_EQ(ParseRatio("-0.5"), -0.5);
  EXPECT_DOUBLE_EQ(ParseRatio("abc"), 0.0);
  EXPECT_DOUBLE_EQ(ParseRatio(""), 0.0);
  EXPECT_DOUBLE_EQ(ParseRatio(G("五折")), 0.0);
}

TEST(Discount, RatioMustBeStrictlyBelowTheLimit) {
  EXPECT_TRUE(PassesDiscount(0.5, 49, 100));
  EXPECT_FALSE(PassesDiscount(0.5, 50, 100));
  EXPECT_FALSE(PassesDiscount(1.0, 1999, 1999));  // "1.0" against an equal price
  EXPECT_TRUE(PassesDiscount(1.0, 1998, 1999));
  EXPECT_TRUE(PassesDiscount(0.5, 0, 100));   // no bids read: ratio 0
  EXPECT_FALSE(PassesDiscount(0.0, 0, 100));  // an unreadable limit refuses even that
  EXPECT_TRUE(PassesDiscount(0.0, 5000, 0));  // no list price: always
}

TEST(Discount, StoredRatioOrMinusOneWithoutListPrice) {
  EXPECT_FLOAT_EQ(DiscountOf(50, 200), 0.25f);
  EXPECT_FLOAT_EQ(DiscountOf(1999, 1999), 1.0f);
  EXPECT_FLOAT_EQ(DiscountOf(120, 0), -1.0f);
}
