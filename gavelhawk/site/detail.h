#pragma once
// Reads of the auction detail page and the site clock. Every function takes
// page text (GBK, as FetchPage returns it) and returns its values.
#include <cstdint>
#include <string>
#include <string_view>

#include "site/paths.h"

namespace gavelhawk::site {

struct AuctionDetail {
  std::string title;  // GBK
  std::int32_t status = 0;
  std::int32_t lower = 0;   // smallest allowed increment, yuan
  std::int32_t higher = 0;  // largest allowed increment, yuan
};

// False when the page is shorter than ::site::kMinDetailPage.
bool IsDetailPage(std::string_view page);

// Title, status and increment bounds, cut in that order from one working text.
AuctionDetail ReadDetail(std::string_view page);

// The increment brought within the site's bounds: raised to `lower`, then
// lowered to `higher` (so with lower > higher the result is `higher`).
std::int32_t BoundIncrement(std::int32_t increment, std::int32_t lower, std::int32_t higher);

// Times in ms since 1970, read at their full width so that differences of
// two of them are exact whatever their size. A garbled value beyond
// +-kMaxTimeMs (some 31 000 years) is held there, so that a difference of two
// times, plus or minus any 32-bit delay, never overflows.
constexpr std::int64_t kMaxTimeMs = 1'000'000'000'000'000;
std::int64_t ReadEndTime(std::string_view page);  // "endTimeMili"
std::int64_t ReadNowMil(std::string_view page);   // "nowMil"

struct OpeningRead {
  std::int64_t now = 0;      // "nowMil"
  std::int64_t opening = 0;  // "startTimeMili", looked for behind "nowMil"
};
OpeningRead ReadOpening(std::string_view page);

// The remaining-time text of the snipe list, UTF-8: "%d分%d秒" with
// (ms/1000)/60 and (ms/1000)%60, or "已结束" when ms/1000 <= 0.
std::string RemainingText(std::int64_t remainMs);

}  // namespace gavelhawk::site
