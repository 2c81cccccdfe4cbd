// The number rule of the field exchange and the snipe list's remaining time.
#include "gavelhawk/app/exchange.h"

#include <gtest/gtest.h>

namespace {

using gavelhawk::ui::FormatRemain;
using gavelhawk::ui::ParseWholeNumber;

TEST(WholeNumber, AcceptsSignedDecimalWithBlanksAround) {
  EXPECT_EQ(3333333, ParseWholeNumber("3333333"));
  EXPECT_EQ(-5, ParseWholeNumber("-5"));
  EXPECT_EQ(7, ParseWholeNumber("+7"));
  EXPECT_EQ(12, ParseWholeNumber("  12\t"));
  EXPECT_EQ(0, ParseWholeNumber("0"));
  EXPECT_EQ(2147483647, ParseWholeNumber("2147483647"));
  EXPECT_EQ(-2147483647 - 1, ParseWholeNumber("-2147483648"));
}

TEST(WholeNumber, RefusesEverythingElse) {
  for (const char* bad : {"", " ", "abc", "12abc", "1.5", "1e3", "- 5", "--5", "0x10", "2147483648",
                          "-2147483649", "99999999999999999999", "１２", "1 2"}) {
    EXPECT_FALSE(ParseWholeNumber(bad).has_value()) << bad;
  }
}

TEST(RemainingTime, MinutesAndSecondsOrEnded) {
  EXPECT_EQ("2分5秒", FormatRemain(125400));
  EXPECT_EQ("0分1秒", FormatRemain(1000));
  EXPECT_EQ("1分0秒", FormatRemain(60000));
  EXPECT_EQ("60分0秒", FormatRemain(3600000));
  EXPECT_EQ("已结束", FormatRemain(999));
  EXPECT_EQ("已结束", FormatRemain(0));
  EXPECT_EQ("已结束", FormatRemain(-1));
  EXPECT_EQ("已结束", FormatRemain(-90000));
}

}  // namespace
