// The find-and-cut idiom every read of site text rests on.
#include "site/cut.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

using ::site::CutAfter;
using ::site::ParseLong;
using ::site::ReadNumber;
using ::site::TextBefore;

std::string Cut(std::string_view w, std::string_view key, std::ptrdiff_t skip) {
  CutAfter(w, key, skip);
  return std::string(w);
}

TEST(CutAfter, KeepsTextFromKeyPlusSkip) {
  EXPECT_EQ(Cut("var auctionStatus = 2;x", "auctionStatus", 16), "2;x");
  EXPECT_EQ(Cut("xx \"price\":120.00,", "price", 7), "120.00,");
}

TEST(CutAfter, UsesTheFirstOccurrence) { EXPECT_EQ(Cut("price:1 price:2", "price", 6), "1 price:2"); }

TEST(CutAfter, AbsentKeyDropsSkipMinusOneBytes) {
  EXPECT_EQ(Cut("0123456789", "title", 7), "6789");
  EXPECT_EQ(Cut("0123456789", "nope", 1), "0123456789");
}

TEST(CutAfter, CutPastTheEndGivesEmptyText) {
  EXPECT_EQ(Cut("abctitle", "title", 7), "");
  EXPECT_EQ(Cut("abctitle12", "title", 7), "");  // exactly to the end
  EXPECT_EQ(Cut("", "title", 7), "");
  EXPECT_EQ(Cut("short", "absent", 100), "");
}

TEST(CutAfter, NonPositiveSkipCanNeverGrowTheText) {
  EXPECT_EQ(Cut("abc", "absent", 0), "abc");
  EXPECT_EQ(Cut("abc", "b", -5), "abc");
}

TEST(CutAfter, SuccessiveCutsLookOnlyBehindThePreviousOne) {
  std::string_view w = "b=1;a=2;b=3;";
  CutAfter(w, "a", 2);
  CutAfter(w, "b", 2);
  EXPECT_EQ(ReadNumber(w, ";"), 3);
}

TEST(CutAfter, CountsGbkBytesNotCharacters) {
  // "京东价" is 6 bytes of GBK; a skip of 8 lands on the value.
  EXPECT_EQ(Cut("x\xBE\xA9\xB6\xAB\xBC\xDB: 99", "\xBE\xA9", 8), "99");
}

TEST(ReadNumber, StopsAtTheFirstNonDigit) {
  EXPECT_EQ(ReadNumber("25.00", "."), 25);
  EXPECT_EQ(ReadNumber("460\",\"message\":\"x\"", "\""), 460);
  EXPECT_EQ(ReadNumber(" \t-12;", ";"), -12);
  EXPECT_EQ(ReadNumber("+7;", ";"), 7);
  EXPECT_EQ(ReadNumber("12ab;", ";"), 12);
}

TEST(ReadNumber, NothingBeforeTheDelimiterIsZero) {
  EXPECT_EQ(ReadNumber(".5", "."), 0);
  EXPECT_EQ(ReadNumber("abc;", ";"), 0);
  EXPECT_EQ(ReadNumber("-;", ";"), 0);
}

TEST(ReadNumber, AbsentDelimiterIsZero) {
  EXPECT_EQ(ReadNumber("25", "."), 0);
  EXPECT_EQ(ReadNumber("", "."), 0);
}

TEST(ReadNumber, DigitsAfterTheDelimiterAreNotRead) { EXPECT_EQ(ReadNumber("3;45", ";"), 3); }

TEST(ReadNumber, KeepsTheLow32BitsOfALongValue) {
  // 1386012345678 mod 2^32, read as signed.
  EXPECT_EQ(ReadNumber("1386012345678}", "}"), static_cast<std::int32_t>(1386012345678LL & 0xFFFFFFFF));
}

TEST(TextBefore, TextUpToTheDelimiterOrNothing) {
  EXPECT_EQ(TextBefore("使用状态：全新</dt>", "<"), "使用状态：全新");
  EXPECT_EQ(TextBefore("<dt>", "<"), "");
  EXPECT_EQ(TextBefore("no delimiter", "<"), "");
}

TEST(ParseLong, ReadsAllThirteenDigitsAndSaturates) {
  EXPECT_EQ(ParseLong("1386012345678"), 1386012345678LL);
  EXPECT_EQ(ParseLong("  -1386012345678x"), -1386012345678LL);
  EXPECT_EQ(ParseLong("99999999999999999999999"), INT64_MAX);
  EXPECT_EQ(ParseLong(""), 0);
  EXPECT_EQ(ParseLong("x1"), 0);
}

}  // namespace
