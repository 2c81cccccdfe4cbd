// The reads of the bid records and bid answers, the amount rule and the words
// shown for each of the site's result codes.
#include "gavelhawk/site/bid.h"

#include <gtest/gtest.h>

#include <string>

using namespace gavelhawk::site;

namespace {

TEST(CurrentPrice, FirstPriceOfTheRecordsIsTheCurrentBid) {
  // trxPrice comes first but only the lower-case key counts.
  EXPECT_EQ(120, ReadCurrentPrice(R"({"trxBuyerName":null,"trxPrice":99.00,"records":[)"
                                  R"({"price":120.00,"userNickName":"alice"},{"price":110.00}]})"));
  EXPECT_EQ(12, ReadCurrentPrice(R"({"records":[{"price":12.50}]})"));
}

TEST(CurrentPrice, NothingOrNonsenseCountsAsOne) {
  EXPECT_EQ(1, ReadCurrentPrice(""));
  EXPECT_EQ(1, ReadCurrentPrice(R"({"trxBuyerName":null,"trxPrice":1.00,"records":[]})"));
  EXPECT_EQ(1, ReadCurrentPrice(R"({"records":[{"price":0.00}]})"));
  EXPECT_EQ(1, ReadCurrentPrice(R"({"records":[{"price":-5.00}]})"));
  EXPECT_EQ(1, ReadCurrentPrice("<html>502 Bad Gateway</html>"));
}

TEST(BidAnswer, SuccessOnlyAfterTheFirstByte) {
  EXPECT_TRUE(IsBidSuccess(R"({"result":"success","code":"200"})"));
  EXPECT_FALSE(IsBidSuccess(R"({"code":"460","message":"too low"})"));
  EXPECT_FALSE(IsBidSuccess("success"));  // only at the very start
  EXPECT_FALSE(IsBidSuccess(""));
}

TEST(BidAnswer, CodeIsReadUpToTheQuote) {
  EXPECT_EQ(460, ReadResultCode(R"({"code":"460","message":"not above"})"));
  EXPECT_EQ(4203, ReadResultCode(R"({"message":"limit","code":"4203"})"));
  EXPECT_EQ(0, ReadResultCode(""));
  EXPECT_EQ(0, ReadResultCode("<html>error</html>"));
}

TEST(Amount, IncrementCappedAtTheCeiling) {
  EXPECT_EQ(15, BidAmount(12, 3, 20));
  EXPECT_EQ(20, BidAmount(19, 3, 20));
  EXPECT_EQ(20, BidAmount(20, 3, 20));  // the snipe still bids at the ceiling
  EXPECT_EQ(20, BidAmount(25, 3, 20));
  // No 32-bit wrap into a tiny bid.
  EXPECT_EQ(2147483647, BidAmount(2147483647, 2147483647, 2147483647));
}

TEST(CodeTable, UnknownCodesNameTheCode) {
  const std::string other =
      "拍卖失败,"
      "请直接在浏览器中操作，查看错误原因。\r\n并失败原因及反馈代码告诉作者，以完善软件。\r\n反馈代码：";
  EXPECT_EQ(other + "0", ManualBidMessage(0));
  EXPECT_EQ(other + "500", ManualBidMessage(500));
  EXPECT_EQ("出价失败(0)", SnipeStateText(0, 1, 5, 2));
  EXPECT_EQ("出价失败(-7)", SnipeStateText(-7, 1, 5, 2));
}

TEST(CodeTable, NotAboveCurrentSplitsOnCurrentVersusCeiling) {
  EXPECT_EQ("出价未超目前最高价", ManualBidMessage(460));
  EXPECT_EQ("出价失败(同时有人出价更高,20元)", SnipeStateText(460, 18, 20, 20));
  EXPECT_EQ("出价失败(已超最高价)", SnipeStateText(460, 20, 20, 20));
  EXPECT_EQ("出价失败(已超最高价)", SnipeStateText(460, 30, 20, 20));
}

TEST(Elapsed, SecondsAndMillisecondsModuloOneMinute) {
  EXPECT_EQ(250, ElapsedMs(10, 900, 11, 150));
  EXPECT_EQ(300, ElapsedMs(59, 800, 0, 100));
  EXPECT_EQ(0, ElapsedMs(30, 500, 30, 500));
  EXPECT_EQ(59999, ElapsedMs(0, 0, 59, 999));
  // Same second on both readings but the later millisecond is smaller: the
  // span went round the minute, it is not negative.
  EXPECT_EQ(59200, ElapsedMs(10, 900, 10, 100));
}

}  // namespace
