#pragma once
// Price statistics that need every price: the median, and the weekly medians
// of the price chart. Prices come as counts per price, so memory grows with
// the number of distinct prices, not with the number of sales.
#include <cstdint>
#include <map>
#include <unordered_map>
#include <utility>
#include <vector>

namespace tallyglass::db {

using PriceCounts = std::unordered_map<std::int64_t, std::int64_t>;  // price -> sales at that price

// The middle price; with an even count the mean of the two middle prices,
// truncated like the average. 0 when there are no prices.
std::int32_t MedianOf(const PriceCounts& counts);

// Day number of the Monday that starts the week of `day` (day 0 was a Thursday).
std::int32_t WeekStart(std::int32_t day);

// Collects sales week by week.
class WeeklyMedians {
 public:
  void Add(std::int32_t day, std::int64_t price) { ++weeks_[WeekStart(day)][price]; }
  // (Monday's day number, median of that week), in time order.
  std::vector<std::pair<std::int32_t, std::int32_t>> Result() const;

 private:
  std::map<std::int32_t, PriceCounts> weeks_;
};

}  // namespace tallyglass::db
