#pragma once
// Reading the bid records and the bid answer, the amount of a bid, and the
// words shown for each of the site's result codes. Texts are UTF-8.
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/http/http.h"

namespace gavelhawk::site {

// Codes with a path of their own.
constexpr std::int32_t kCodeNotLoggedIn = 403;
constexpr std::int32_t kCodeNotAboveCurrent = 460;

// Messages of the manual bid that are not result codes.
extern const char kMsgBidPlaced[];       // 出价成功
extern const char kMsgNoSuchAuction[];   // 商品不存在或拍卖已结束
extern const char kMsgAlreadyTooHigh[];  // 出价失败,当前出价已过高
extern const char kMsgNetworkError[];    // "网络错误：", followed by the reason
// State texts of a snipe row.
extern const char kStateWaiting[];     // 准备竞拍
extern const char kStateBidPlaced[];   // 出价成功
extern const char kStateHandedOver[];  // 出价结束 (bid address given to the browser)
extern const char kStateNoSiteTime[];  // 未能读取站点时间 (not armed: no closing time or site clock)
extern const char kStateNetworkError[];  // 网络错误 (a read or the bid failed as a request)
extern const char kStateWon[];           // 已得标

// "未得标(成交价P)": the bid was taken but the auction closed at `finalPrice`.
std::string LostStateText(std::int64_t finalPrice);

// "结果未确认(当前价P)": the records did not show the auction ended.
std::string UnconfirmedStateText(std::int64_t current);

// A bid-records answer as the snipe reads it. Anything but the site's JSON
// with a readable price (a failed request, a redirect, a busy page, a cut
// answer) is a failed read, with `error` saying why (UTF-8).
struct RecordsRead {
  bool ok = false;
  std::string error;
  std::int64_t current = 0;     // the highest bid, else the price shown
  bool ended = false;           // a buyer is named: the auction is over
  std::int64_t finalPrice = 0;  // "trxPrice"
};
RecordsRead ReadRecords(const platform::http::Response& r);

// A bid answer. Anything but the site's JSON with a result is a failed bid;
// `mayBeTaken` when the request may have reached the site all the same.
struct BidAnswerRead {
  bool failed = false;
  std::string error;  // UTF-8
  bool mayBeTaken = false;
  bool success = false;
  std::int32_t code = 0;
};
BidAnswerRead ReadBidAnswer(const platform::http::Response& r);

// The first "price" of the bid records, whole yuan. An empty or broken
// answer, and any value below 1, count as 1.
std::int32_t ReadCurrentPrice(std::string_view records);

// The bid answer holds "success" somewhere after its first byte.
bool IsBidSuccess(std::string_view answer);

// The "code" value of a refused bid, read up to the next double quote; 0
// when there is none.
std::int32_t ReadResultCode(std::string_view answer);

// current + increment, but never above the ceiling. Computed in 64 bits so
// that no pair of 32-bit inputs overflows.
std::int64_t BidAmount(std::int64_t current, std::int64_t increment, std::int64_t ceiling);

// What the manual bid shows in its message box for a refused bid.
std::string ManualBidMessage(std::int32_t code);

// The state text a closing snipe gives its row for a refused bid. `current`
// and `ceiling` decide the two readings of 460; `amount` is the bid just sent.
std::string SnipeStateText(std::int32_t code, std::int64_t current, std::int64_t ceiling,
                           std::int64_t amount);

// Milliseconds from t1 to t2 when only the seconds within the minute and the
// milliseconds of each are known: the span modulo one minute, 0..59999.
int ElapsedMs(int second1, int millisecond1, int second2, int millisecond2);

}  // namespace gavelhawk::site
