#include "gavelhawk/site/detail.h"

#include <algorithm>

#include "site/cut.h"
#include "site/paths.h"

namespace gavelhawk::site {

using ::site::CutAfter;
using ::site::ParseLong;
using ::site::ReadNumber;
using ::site::TextBefore;
namespace {

// The documented cuts of the times skip the key plus five bytes, so they keep
// only the low 9 of the 13 digits and a difference breaks where the two values
// straddle a multiple of 10^9 ms. Skipping the key and its one separator byte
// reads the whole value instead.
std::int64_t ReadTime(std::string_view& w, std::string_view key, std::string_view delimiter) {
  CutAfter(w, key, static_cast<std::ptrdiff_t>(key.size()) + 1);
  return std::clamp(ParseLong(TextBefore(w, delimiter)), -kMaxTimeMs, kMaxTimeMs);
}

}  // namespace

bool IsDetailPage(std::string_view page) { return page.size() >= ::site::kMinDetailPage; }

AuctionDetail ReadDetail(std::string_view page) {
  AuctionDetail d;
  std::string_view w = page;
  CutAfter(w, "title", 7);
  // The title ends 35 bytes before the next "title"; w itself is not cut there.
  std::size_t next = w.find("title");
  if (next != std::string_view::npos && next > 35) d.title.assign(w.substr(0, next - 35));
  CutAfter(w, "auctionStatus", 16);
  d.status = ReadNumber(w, ";");
  CutAfter(w, "priceLowerOffset", 20);
  d.lower = ReadNumber(w, ".");
  CutAfter(w, "priceHigherOffset", 21);
  d.higher = ReadNumber(w, ".");
  return d;
}

std::int32_t BoundIncrement(std::int32_t increment, std::int32_t lower, std::int32_t higher) {
  if (increment < lower) increment = lower;
  if (increment > higher) increment = higher;
  return increment;
}

std::int64_t ReadEndTime(std::string_view page) { return ReadTime(page, "endTimeMili", "}"); }

std::int64_t ReadNowMil(std::string_view page) { return ReadTime(page, "nowMil", ";"); }

OpeningRead ReadOpening(std::string_view page) {
  OpeningRead r;
  r.now = ReadTime(page, "nowMil", ";");
  r.opening = ReadTime(page, "startTimeMili", "}");
  return r;
}

std::string RemainingText(std::int64_t remainMs) {
  std::int64_t seconds = remainMs / 1000;
  if (seconds <= 0) return "已结束";
  return std::to_string(seconds / 60) + "分" + std::to_string(seconds % 60) + "秒";
}

}  // namespace gavelhawk::site
