#pragma once
// The arithmetic of the snipe engine, apart from the window and the clock:
// the site clock's estimate, when a row's bid is due, when the opening
// snipe fires, and what moves on a delete.
#include <cstdint>
#include <vector>

namespace gavelhawk::snipe {

constexpr int kSnipeSlots = 10;
// The bid is due this long before closing - preparation time.
constexpr std::int64_t kBidLeadMs = 2000;
// The warm-up goes out this long before the bid is due.
constexpr std::int64_t kWarmupAheadMs = 40000;
// The longest opening-snipe delay accepted (24 days); a longer one comes
// from a broken page read.
constexpr std::int64_t kMaxTimerDelayMs = 24LL * 24 * 3600 * 1000;

struct OpenPlan {
  bool refused = false;  // the opening instant plus the lag has passed
  int delayMs = 0;
};

// The opening snipe fires `lag` ms after the opening instant. A delay no
// timer can wait (a broken page read, typically) is refused as well.
OpenPlan PlanOpen(std::int64_t lag, std::int64_t opening, std::int64_t now);

// One row moving up on a delete. It keeps its key, so the engine's timing
// of it is not touched.
struct RowMove {
  int from = 0;
  int to = 0;
};

struct DeletePlan {
  std::vector<RowMove> moves;  // in the order to carry out
  int freedIndex = -1;         // former last index: its timers stop
  int newLast = -1;
};

// Deleting row `sel` of rows 0..last: the rows below move up one. Empty plan
// (freedIndex -1) when sel names no row.
DeletePlan PlanDelete(int sel, int last);

// Index of the first of rows 0..last holding `dealId`, or -1.
int FindRow(const std::vector<std::int32_t>& dealIds, int last, std::int32_t dealId);

// Room for one more row after rows 0..last.
bool HasRoom(int last);

// --- The engine's arithmetic: site times in ms, monotonic times in us.

// One read of the site clock: when it was sent and when its answer came, on
// the monotonic clock, and the "nowMil" it gave (ok false: no answer).
struct ClockRead {
  std::int64_t sentUs = 0;
  std::int64_t receivedUs = 0;
  std::int64_t siteMs = 0;
  bool ok = false;
};

struct ClockEstimate {
  bool ok = false;
  std::int64_t offsetUs = 0;  // site time in us = monotonic us + offsetUs
  std::int64_t rttUs = 0;     // shortest round trip of the reads it rests on
  int reads = 0;              // good reads that agreed
};

// Two reads may differ by their round trips plus this much.
constexpr std::int64_t kClockToleranceMs = 2000;
// Reads whose round trip is within this of the shortest are averaged.
constexpr std::int64_t kClockRttSlackUs = 1000;
// Reads of earlier estimates are kept this long for the next one.
constexpr std::int64_t kClockPoolUs = 10'000'000;

// Cristian's method: each read's site time is taken to stand at the middle
// of its round trip, and half a ms after its whole ms (the site cuts its
// stamp down). The reads with the shortest round trips are averaged (a
// single one errs by up to a whole ms). Needs two good reads at least, and
// every good read must agree with the shortest one within both round trips
// plus kClockToleranceMs; otherwise the clock is not trusted.
ClockEstimate EstimateSiteClock(const std::vector<ClockRead>& reads);

// Adds the reads of estimate `fresh` to `pool` and drops the pool's reads
// older than kClockPoolUs before them, or at odds with them (a site clock
// that was set meanwhile): what stays bears on the next estimate, so that a
// later session of a few reads, taken on a busier line, does not move every
// waiting row's moment on its own.
void PoolClockReads(std::vector<ClockRead>& pool, const std::vector<ClockRead>& fresh,
                    const ClockEstimate& freshEstimate);

// The moments of a closing snipe by the site's clock.
struct BidPlan {
  bool armable = false;        // closing lies after the site's now
  std::int64_t remain = 0;     // closing - now
  std::int64_t dueSiteMs = 0;  // closing - preparation - kBidLeadMs
  bool warmup = false;         // a warm-up at dueSiteMs - kWarmupAheadMs
  std::int64_t warmupSiteMs = 0;
  std::int64_t outcomeSiteMs = 0;  // closing + kOutcomeAfterMs: the records are read again
};

// The records are read once more this long after closing for the outcome.
constexpr std::int64_t kOutcomeAfterMs = 1000;

BidPlan PlanBid(std::int64_t endTime, std::int64_t siteNow, std::int64_t prepTime);

}  // namespace gavelhawk::snipe
