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

}  // namespace

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

DeletePlan PlanDelete(int sel, int last) {
  DeletePlan plan;
  plan.newLast = last;
  if (sel < 0 || sel > last || last >= kSnipeSlots) return plan;
  for (int j = sel + 1; j <= last; ++j) plan.moves.push_back({j, j - 1});
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

namespace {

// Beyond 10^15 ms (some 30 000 years) a reading is garbage, and the
// arithmetic in us would overflow.
bool Usable(const ClockRead& r) {
  return r.ok && r.siteMs > 0 && r.siteMs <= 1'000'000'000'000'000 && r.receivedUs >= r.sentUs;
}

std::int64_t OffsetOf(const ClockRead& r) {
  const std::int64_t rtt = r.receivedUs - r.sentUs;
  return r.siteMs * 1000 + 500 + rtt / 2 - r.receivedUs;
}

std::int64_t Gap(std::int64_t a, std::int64_t b) { return a > b ? a - b : b - a; }

}  // namespace

ClockEstimate EstimateSiteClock(const std::vector<ClockRead>& reads) {
  struct Good {
    std::int64_t offsetUs, rttUs;
  };
  std::vector<Good> good;
  for (const ClockRead& r : reads)
    if (Usable(r)) good.push_back({OffsetOf(r), r.receivedUs - r.sentUs});
  ClockEstimate e;
  if (good.size() < 2) return e;
  const Good best = *std::min_element(good.begin(), good.end(),
                                      [](const Good& a, const Good& b) { return a.rttUs < b.rttUs; });
  std::int64_t sum = 0;
  std::int64_t n = 0;
  for (const Good& g : good) {
    if (Gap(g.offsetUs, best.offsetUs) > g.rttUs + best.rttUs + kClockToleranceMs * 1000) return e;
    if (g.rttUs > best.rttUs + kClockRttSlackUs) continue;
    // Summed as differences from the best: no overflow at any site time.
    sum += g.offsetUs - best.offsetUs;
    ++n;
  }
  e.ok = true;
  e.offsetUs = best.offsetUs + sum / n;
  e.rttUs = best.rttUs;
  e.reads = static_cast<int>(good.size());
  return e;
}

void PoolClockReads(std::vector<ClockRead>& pool, const std::vector<ClockRead>& fresh,
                    const ClockEstimate& freshEstimate) {
  if (!freshEstimate.ok) return;
  std::int64_t newest = 0;
  for (const ClockRead& r : fresh)
    if (Usable(r)) newest = std::max(newest, r.receivedUs);
  // A read of the pool agrees when its own stamp, anywhere within its round
  // trip, and the fresh estimate's can be the same clock.
  std::erase_if(pool, [&](const ClockRead& r) {
    return r.receivedUs < newest - kClockPoolUs ||
           Gap(OffsetOf(r), freshEstimate.offsetUs) >
               (r.receivedUs - r.sentUs + freshEstimate.rttUs) / 2 + 1000;
  });
  for (const ClockRead& r : fresh)
    if (Usable(r)) pool.push_back(r);
}

BidPlan PlanBid(std::int64_t endTime, std::int64_t siteNow, std::int64_t prepTime) {
  BidPlan p;
  p.remain = Sub(endTime, siteNow);
  p.armable = endTime > 0 && siteNow > 0 && p.remain > 0;
  p.dueSiteMs = Sub(Sub(endTime, prepTime), kBidLeadMs);
  p.outcomeSiteMs = Add(endTime, kOutcomeAfterMs);
  // A warm-up delay of 0 still goes out; a negative one is left out, as is
  // any warm-up of a bid that is due at once.
  if (p.dueSiteMs > siteNow && Sub(p.dueSiteMs, kWarmupAheadMs) >= siteNow) {
    p.warmup = true;
    p.warmupSiteMs = p.dueSiteMs - kWarmupAheadMs;
  }
  return p;
}

}  // namespace gavelhawk::snipe
