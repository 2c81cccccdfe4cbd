#pragma once
// The arithmetic of the snipe engine, apart from the window: when a row's
// timers fire, when the opening snipe fires, and what moves on a delete.
#include <cstdint>
#include <vector>

namespace gavelhawk::snipe {

constexpr int kSnipeSlots = 10;
constexpr int kWarmupTimerBase = 100;
constexpr int kOpenTimerId = 999;

// The bid timer fires this long before closing - preparation time.
constexpr std::int64_t kBidLeadMs = 2000;
// The warm-up request goes out this long before the bid timer.
constexpr std::int64_t kWarmupAheadMs = 40000;
// The longest delay given to one window timer (24 days; a timer's delay is
// an int of ms). A row that closes later is woken at this delay and armed
// again from a fresh reading of the site clock instead of bidding early.
constexpr std::int64_t kMaxTimerDelayMs = 24LL * 24 * 3600 * 1000;

struct ArmPlan {
  std::int64_t remain = 0;  // closing - now, stored in the row
  int bidDelayMs = 0;       // 0: at once
  int warmupDelayMs = -1;   // -1: no warm-up
  // The bid timer only wakes the row to arm it again (closing is further
  // away than one timer can wait).
  bool rearmOnly = false;
};

// Timers of a row that closes at `endTime` by the site clock reading `now`,
// with `prepTime` ms allowed for the bid's two requests.
ArmPlan PlanArm(std::int64_t endTime, std::int64_t now, std::int64_t prepTime);

// The same decision from what a row keeps after arming: true when its bid
// timer was set only to arm it again.
bool IsRearmOnly(std::int64_t remain, std::int64_t prepTime);

struct OpenPlan {
  bool refused = false;  // the opening instant plus the lag has passed
  int delayMs = 0;
};

// The opening snipe fires `lag` ms after the opening instant. A delay no
// timer can wait (a broken page read, typically) is refused as well.
OpenPlan PlanOpen(std::int64_t lag, std::int64_t opening, std::int64_t now);

// One row moving up on a delete.
struct RowMove {
  int from = 0;
  int to = 0;
  bool rearm = false;  // waiting rows are armed under their new index
};

struct DeletePlan {
  std::vector<RowMove> moves;  // in the order to carry out
  int freedIndex = -1;         // former last index: its timers stop
  int newLast = -1;
};

// Deleting row `sel` of rows 0..last. `waiting[j]` tells whether row j still
// waits for its bid; finished rows move without being armed again, so their
// bids are never repeated. Empty plan (freedIndex -1) when sel names no row.
DeletePlan PlanDelete(int sel, int last, const std::vector<bool>& waiting);

// Index of the first of rows 0..last holding `dealId`, or -1.
int FindRow(const std::vector<std::int32_t>& dealIds, int last, std::int32_t dealId);

// Room for one more row after rows 0..last.
bool HasRoom(int last);

}  // namespace gavelhawk::snipe
