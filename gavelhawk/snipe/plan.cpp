#include "gavelhawk/snipe/plan.h"

#include <algorithm>
#include <limits>

namespace gavelhawk::snipe {

namespace {

// Saturating arithmetic: the site's values are read at full width and a
// broken page can give anything.
std::int64_t Sub(std::int64_t a, std::int64_t b) {
  std::int64_t r = 0;
  if (__builtin_sub_overflow(a, b, &r))
    return b < 0 ? std::numeric_limits<std::int64_t>::max() : std::numeric_limits<std::int64_t>::min();
  return r;
}

std::int64_t Add(std::int64_t a, std::int64_t b) {
  std::int64_t r = 0;
  if (__builtin_add_overflow(a, b, &r))
    return b > 0 ? std::numeric_limits<std::int64_t>::max() : std::numeric_limits<std::int64_t>::min();
  return r;
}

std::int64_t BidDelay(std::int64_t remain, std::int64_t prepTime) {
  return Sub(Sub(remain, prepTime), kBidLeadMs);
}

}  // namespace

ArmPlan PlanArm(std::int64_t endTime, std::int64_t now, std::int64_t prepTime) {
  ArmPlan plan;
  plan.remain = Sub(endTime, now);
  std::int64_t bid = BidDelay(plan.remain, prepTime);
  if (bid <= 0) return plan;  // at once, no warm-up
  if (bid > kMaxTimerDelayMs) {
    plan.bidDelayMs = static_cast<int>(kMaxTimerDelayMs);
    plan.rearmOnly = true;
    return plan;
  }
  plan.bidDelayMs = static_cast<int>(bid);
  std::int64_t warmup = bid - kWarmupAheadMs;
  if (warmup >= 0) plan.warmupDelayMs = static_cast<int>(warmup);
  return plan;
}

bool IsRearmOnly(std::int64_t remain, std::int64_t prepTime) {
  return BidDelay(remain, prepTime) > kMaxTimerDelayMs;
}

OpenPlan PlanOpen(std::int64_t lag, std::int64_t opening, std::int64_t now) {
  OpenPlan plan;
  std::int64_t delay = Add(lag, Sub(opening, now));
  if (delay < 0 || delay > kMaxTimerDelayMs) {
    plan.refused = true;
    return plan;
  }
  plan.delayMs = static_cast<int>(delay);
  return plan;
}

DeletePlan PlanDelete(int sel, int last, const std::vector<bool>& waiting) {
  DeletePlan plan;
  plan.newLast = last;
  if (sel < 0 || sel > last || last >= kSnipeSlots) return plan;
  for (int j = sel + 1; j <= last; ++j) {
    bool w = j < static_cast<int>(waiting.size()) && waiting[static_cast<std::size_t>(j)];
    plan.moves.push_back({j, j - 1, w});
  }
  plan.freedIndex = last;
  plan.newLast = last - 1;
  return plan;
}

int FindRow(const std::vector<std::int32_t>& dealIds, int last, std::int32_t dealId) {
  int end = std::min(last + 1, static_cast<int>(dealIds.size()));
  for (int i = 0; i < end; ++i)
    if (dealIds[static_cast<std::size_t>(i)] == dealId) return i;
  return -1;
}

bool HasRoom(int last) { return last + 1 < kSnipeSlots; }

}  // namespace gavelhawk::snipe
