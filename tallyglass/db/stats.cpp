#include "tallyglass/db/stats.h"

#include <algorithm>
#include <limits>

namespace tallyglass::db {

std::int32_t MedianOf(const PriceCounts& counts) {
  std::vector<std::pair<std::int64_t, std::int64_t>> sorted(counts.begin(), counts.end());
  std::sort(sorted.begin(), sorted.end());
  std::int64_t n = 0;
  for (const auto& [price, count] : sorted) n += count;
  if (n == 0) return 0;
  // Zero-based ranks of the two middle prices (the same one for an odd count).
  const std::int64_t lowRank = (n - 1) / 2, highRank = n / 2;
  std::int64_t seen = 0;
  std::int64_t low = 0, high = 0;
  bool haveLow = false;
  for (const auto& [price, count] : sorted) {
    if (!haveLow && lowRank < seen + count) {
      low = price;
      haveLow = true;
    }
    if (highRank < seen + count) {
      high = price;
      break;
    }
    seen += count;
  }
  // Halves first: the sum of two large prices must not overflow.
  const std::int64_t mid = low / 2 + high / 2 + (low % 2 + high % 2) / 2;
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(mid, std::numeric_limits<std::int32_t>::min(),
                                                            std::numeric_limits<std::int32_t>::max()));
}

std::int32_t WeekStart(std::int32_t day) {
  // 1970-01-05 (day 4) was a Monday; floor division keeps days before 1970 right.
  const std::int64_t offset = static_cast<std::int64_t>(day) - 4;
  std::int64_t week = offset / 7;
  if (offset % 7 < 0) --week;
  return static_cast<std::int32_t>(week * 7 + 4);
}

std::vector<std::pair<std::int32_t, std::int32_t>> WeeklyMedians::Result() const {
  std::vector<std::pair<std::int32_t, std::int32_t>> out;
  out.reserve(weeks_.size());
  for (const auto& [monday, counts] : weeks_) out.emplace_back(monday, MedianOf(counts));
  return out;
}

}  // namespace tallyglass::db
