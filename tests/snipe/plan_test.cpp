// When a snipe row's bid is due, the site clock's estimate, when the opening
// snipe fires, and what happens to the rows below a deleted one.
#include "gavelhawk/snipe/plan.h"

#include <gtest/gtest.h>

#include "gavelhawk/snipe/engine.h"
#include "gavelhawk/snipe/snipe_list.h"

using namespace gavelhawk::snipe;

namespace {

constexpr std::int64_t kNow = 1386012345678;  // a 13-digit site time

TEST(Bid, DueAndWarmupBySiteTime) {
  constexpr std::int64_t kThirtyDays = 30LL * 24 * 3600 * 1000;
  struct Case {
    const char* what;
    std::int64_t end, now, prep;
    bool armable;
    std::int64_t remain, dueIn;
    bool warmup;
    std::int64_t warmupIn;
  };
  const Case cases[] = {
      {"60 s, prep 1000", kNow + 60000, kNow, 1000, true, 60000, 57000, true, 17000},
      {"30 s: the warm-up would be late", kNow + 30000, kNow, 1000, true, 30000, 27000, false, 0},
      {"43 s: the warm-up at once", kNow + 43000, kNow, 1000, true, 43000, 40000, true, 0},
      {"2.5 s: due at once", kNow + 2500, kNow, 1000, true, 2500, -500, false, 0},
      {"negative preparation: later", kNow + 10000, kNow, -500, true, 10000, 8500, false, 0},
      {"across 10^9 ms", 1387000005000, 1386999995000, 1000, true, 10000, 7000, false, 0},
      {"30 days away", kNow + kThirtyDays, kNow, 1000, true, kThirtyDays, kThirtyDays - 3000, true,
       kThirtyDays - 43000},
      {"closed 5 s ago: not armed", kNow - 5000, kNow, 1000, false, -5000, -8000, false, 0},
      {"closing at now: not armed", kNow, kNow, 1000, false, 0, -3000, false, 0},
      {"closing unread (0): not armed", 0, kNow, 1000, false, -kNow, -kNow - 3000, false, 0},
  };
  for (const Case& c : cases) {
    const BidPlan p = PlanBid(c.end, c.now, c.prep);
    EXPECT_EQ(c.armable, p.armable) << c.what;
    EXPECT_EQ(c.remain, p.remain) << c.what;
    EXPECT_EQ(c.dueIn, p.dueSiteMs - c.now) << c.what;
    EXPECT_EQ(c.warmup, p.warmup) << c.what;
    if (c.warmup) {
      EXPECT_EQ(c.warmupIn, p.warmupSiteMs - c.now) << c.what;
    }
    EXPECT_EQ(c.end + 1000, p.outcomeSiteMs) << c.what;
  }
  // Extreme values saturate instead of wrapping.
  EXPECT_FALSE(PlanBid(INT64_MIN, INT64_MAX, INT32_MAX).armable);
  EXPECT_TRUE(PlanBid(INT64_MAX, 1, INT32_MIN).armable);
}

// Reads as (sent us, received us, nowMil); ms of site time at us of
// monotonic time 0 is kNow. A stamp is cut down to its ms: the estimate puts
// it half a ms later.
ClockRead Read(std::int64_t sent, std::int64_t received, std::int64_t site) {
  return ClockRead{sent, received, site, true};
}

TEST(SiteClock, ShortestRoundTripsAreAveragedAndEveryReadMustAgree) {
  struct Case {
    const char* what;
    std::vector<ClockRead> reads;
    bool ok;
    std::int64_t offsetUs;
  };
  const std::int64_t k = kNow * 1000;
  const Case cases[] = {
      // 40 ms, 10 ms and 30 ms round trips: the 10 ms one, plus 5 ms.
      {"three agree",
       {Read(0, 40000, kNow + 20), Read(100000, 110000, kNow + 105), Read(200000, 230000, kNow + 215)},
       true,
       k + 105000 + 500 + 5000 - 110000},
      // k + 500 and k + 300.
      {"round trips within a ms are averaged",
       {Read(0, 10000, kNow + 5), Read(100000, 110400, kNow + 105), Read(200000, 230000, kNow + 215)},
       true,
       k + 400},
      {"one good read is not enough", {Read(0, 10000, kNow + 5), ClockRead{}, ClockRead{}}, false, 0},
      {"an hour apart",
       {Read(0, 10000, kNow + 5), Read(20000, 30000, kNow + 25 + 3600000), Read(40000, 50000, kNow + 45)},
       false,
       0},
      {"14 digits", {Read(0, 10000, kNow + 5), Read(20000, 30000, kNow * 10)}, false, 0},
      {"1.9 s apart is within the tolerance",
       {Read(0, 10000, kNow + 5), Read(20000, 32000, kNow + 26 + 1900)},
       true,
       k + 500},
      {"a zero reading is no reading", {Read(0, 10000, kNow + 5), Read(20000, 30000, 0)}, false, 0},
  };
  for (const Case& c : cases) {
    const ClockEstimate e = EstimateSiteClock(c.reads);
    EXPECT_EQ(c.ok, e.ok) << c.what;
    if (c.ok) {
      EXPECT_EQ(c.offsetUs, e.offsetUs) << c.what;
    }
  }
}

TEST(SiteClock, EarlierReadsCountUntilTooOldOrAtOdds) {
  // The pool holds one read of a 10 ms round trip (offset k + 500); a fresh
  // estimate of 20 ms round trips follows `after` us later, its site time
  // `skewMs` off.
  struct Case {
    const char* what;
    std::int64_t after;
    std::int64_t skewMs;
    std::int64_t offsetUs;  // of the estimate on the pool
  };
  const std::int64_t k = kNow * 1000;
  const Case cases[] = {
      {"a shorter earlier round trip wins", 5000000, 5, k + 500},
      {"within both round trips it agrees", 5000000, 16, k + 500},
      {"a site clock set meanwhile", 5000000, 50, k + 50000 + 500},
      {"older than 10 s", 10100000, 5, k + 5000 + 500},
  };
  for (const Case& c : cases) {
    std::vector<ClockRead> pool;
    const std::vector<ClockRead> first = {Read(0, 10000, kNow + 5), Read(20000, 40000, kNow + 30)};
    PoolClockReads(pool, first, EstimateSiteClock(first));
    const std::int64_t t = c.after;
    const std::int64_t site = kNow + t / 1000 + c.skewMs;
    const std::vector<ClockRead> fresh = {Read(t, t + 20000, site + 10),
                                          Read(t + 30000, t + 50000, site + 40)};
    PoolClockReads(pool, fresh, EstimateSiteClock(fresh));
    const ClockEstimate e = EstimateSiteClock(pool);
    EXPECT_TRUE(e.ok) << c.what;
    EXPECT_EQ(c.offsetUs, e.offsetUs) << c.what;
  }
}

TEST(Open, FiresLagAfterTheOpening) {
  OpenPlan p = PlanOpen(100, kNow + 5000, kNow);
  EXPECT_FALSE(p.refused);
  EXPECT_EQ(5100, p.delayMs);
  // Unreadable page: both times 0, so only the lag remains.
  p = PlanOpen(100, 0, 0);
  EXPECT_FALSE(p.refused);
  EXPECT_EQ(100, p.delayMs);
  p = PlanOpen(100, kNow - 100, kNow);  // exactly now
  EXPECT_FALSE(p.refused);
  EXPECT_EQ(0, p.delayMs);
}

TEST(Open, PassedOrUnreachableIsRefused) {
  EXPECT_TRUE(PlanOpen(100, kNow - 200, kNow).refused);
  // Opening time missing behind a readable clock: far in the past.
  EXPECT_TRUE(PlanOpen(100, 0, kNow).refused);
  // Clock missing: decades ahead, beyond any timer; no bid at a wrong time.
  EXPECT_TRUE(PlanOpen(100, kNow, 0).refused);
}

TEST(Delete, RowsBelowMoveUpOne) {
  DeletePlan p = PlanDelete(0, 2);
  ASSERT_EQ(2u, p.moves.size());
  EXPECT_EQ(1, p.moves[0].from);
  EXPECT_EQ(0, p.moves[0].to);
  EXPECT_EQ(2, p.moves[1].from);
  EXPECT_EQ(1, p.moves[1].to);
  EXPECT_EQ(2, p.freedIndex);
  EXPECT_EQ(1, p.newLast);
}

TEST(Delete, LastRowMovesNothing) {
  DeletePlan p = PlanDelete(2, 2);
  EXPECT_TRUE(p.moves.empty());
  EXPECT_EQ(2, p.freedIndex);
  EXPECT_EQ(1, p.newLast);
  p = PlanDelete(0, 0);
  EXPECT_EQ(0, p.freedIndex);
  EXPECT_EQ(-1, p.newLast);
}

TEST(Delete, NoRowSelectedDoesNothing) {
  for (int sel : {-1, 3, 10}) {
    DeletePlan p = PlanDelete(sel, 2);
    EXPECT_TRUE(p.moves.empty());
    EXPECT_EQ(-1, p.freedIndex);
    EXPECT_EQ(2, p.newLast);
  }
  DeletePlan empty = PlanDelete(-1, -1);
  EXPECT_EQ(-1, empty.freedIndex);
  EXPECT_EQ(-1, empty.newLast);
}

TEST(List, DuplicateFoundOnlyAmongUsedRows) {
  std::vector<std::int32_t> ids = {5, 7, 5, 9, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(0, FindRow(ids, 3, 5));  // first match wins
  EXPECT_EQ(3, FindRow(ids, 3, 9));
  EXPECT_EQ(-1, FindRow(ids, 2, 9));  // slot 3 is not in use
  EXPECT_EQ(-1, FindRow(ids, -1, 5));
  EXPECT_EQ(-1, FindRow(ids, 3, 0));
}

TEST(List, TenRowsAtMost) {
  EXPECT_TRUE(HasRoom(-1));
  EXPECT_TRUE(HasRoom(8));
  EXPECT_FALSE(HasRoom(9));
}

}  // namespace

// The list model: each engine event lands in the row armed as its key, sets
// the row's phase (waiting is read from it, never from the text) and names
// the row that changed.
TEST(SnipeListModel, EventsSetThePhaseOfTheirRowAndNameIt) {
  using Kind = RowEvent::Kind;
  struct Case {
    Kind kind;
    bool success;
    Outcome outcome;
    SnipePhase phase;
    std::int64_t price;  // the row's current price after the event
  };
  const Case cases[] = {{Kind::Armed, false, Outcome::None, SnipePhase::Waiting, 0},
                        {Kind::Price, false, Outcome::None, SnipePhase::Waiting, 40},
                        {Kind::Bid, true, Outcome::None, SnipePhase::BidSent, 41},
                        {Kind::Result, false, Outcome::Won, SnipePhase::Finished, 45},
                        {Kind::Bid, false, Outcome::None, SnipePhase::Finished, 41},  // refused
                        {Kind::NotArmed, false, Outcome::None, SnipePhase::Finished, 0}};
  for (const Case& c : cases) {
    SnipeList list;
    list.last = 1;
    list.rows[1].nKey = 7;
    list.rows[1].ePhase = c.kind == Kind::Armed ? SnipePhase::Arming : SnipePhase::Waiting;
    std::vector<int> told;
    list.changed = [&](int i) { told.push_back(i); };
    RowEvent e;
    e.key = 7;
    e.kind = c.kind;
    e.success = c.success;
    e.outcome = c.outcome;
    e.state = "准备竞拍";  // the text says nothing about waiting
    e.currentPrice = c.kind == Kind::Result ? 0 : c.price;
    e.finalPrice = 45;  // only a known outcome's final price is taken
    EXPECT_EQ(1, list.Apply(e));
    EXPECT_EQ(c.phase, list.Row(1).ePhase) << static_cast<int>(c.kind);
    EXPECT_EQ(c.price, list.Row(1).nCurPrice) << static_cast<int>(c.kind);
    EXPECT_EQ(std::vector<int>{1}, told);
    EXPECT_EQ(c.phase == SnipePhase::Waiting ? 1 : 0, list.WaitingCount());
    e.key = 8;  // a row no longer armed: nothing changes
    EXPECT_EQ(-1, list.Apply(e));
    EXPECT_EQ(1u, told.size());
  }
}
