// When a snipe row's timers fire, when the opening snipe fires, and what
// happens to the rows below a deleted one.
#include "gavelhawk/snipe/plan.h"

#include <gtest/gtest.h>

using namespace gavelhawk::snipe;

namespace {

constexpr std::int64_t kNow = 1386012345678;  // a 13-digit site time

TEST(Arm, SixtySecondsBeforeClosing) {
  ArmPlan p = PlanArm(kNow + 60000, kNow, 1000);
  EXPECT_EQ(60000, p.remain);
  EXPECT_EQ(57000, p.bidDelayMs);
  EXPECT_EQ(17000, p.warmupDelayMs);
  EXPECT_FALSE(p.rearmOnly);
}

TEST(Arm, NoWarmupWhenItWouldBeLate) {
  ArmPlan p = PlanArm(kNow + 30000, kNow, 1000);
  EXPECT_EQ(27000, p.bidDelayMs);
  EXPECT_EQ(-1, p.warmupDelayMs);
  // Exactly 40 s ahead of the bid: the warm-up goes out at once.
  p = PlanArm(kNow + 43000, kNow, 1000);
  EXPECT_EQ(40000, p.bidDelayMs);
  EXPECT_EQ(0, p.warmupDelayMs);
}

TEST(Arm, TooCloseOrOverBidsAtOnce) {
  ArmPlan p = PlanArm(kNow + 2500, kNow, 1000);
  EXPECT_EQ(2500, p.remain);
  EXPECT_EQ(0, p.bidDelayMs);
  EXPECT_EQ(-1, p.warmupDelayMs);
  p = PlanArm(kNow + 3000, kNow, 1000);  // lead - 2000 == 0
  EXPECT_EQ(0, p.bidDelayMs);
  p = PlanArm(kNow - 5000, kNow, 1000);  // already closed
  EXPECT_EQ(-5000, p.remain);
  EXPECT_EQ(0, p.bidDelayMs);
  EXPECT_EQ(-1, p.warmupDelayMs);
  // A closing time that failed to read (0) is in the past.
  EXPECT_EQ(0, PlanArm(0, kNow, 1000).bidDelayMs);
}

TEST(Arm, NegativePreparationMovesTheBidLater) {
  ArmPlan p = PlanArm(kNow + 10000, kNow, -500);
  EXPECT_EQ(8500, p.bidDelayMs);
}

TEST(Arm, DifferencesAcrossABillionBoundaryAreExact) {
  // Closing and now on either side of a multiple of 10^9 ms.
  ArmPlan p = PlanArm(1387000005000, 1386999995000, 1000);
  EXPECT_EQ(10000, p.remain);
  EXPECT_EQ(7000, p.bidDelayMs);
}

TEST(Arm, FarAwayClosingWaitsAndArmsAgainInsteadOfBidding) {
  const std::int64_t thirtyDays = 30LL * 24 * 3600 * 1000;
  ArmPlan p = PlanArm(kNow + thirtyDays, kNow, 1000);
  EXPECT_EQ(thirtyDays, p.remain);
  EXPECT_TRUE(p.rearmOnly);
  EXPECT_EQ(kMaxTimerDelayMs, p.bidDelayMs);
  EXPECT_EQ(-1, p.warmupDelayMs);
  EXPECT_TRUE(IsRearmOnly(p.remain, 1000));
  // A site clock that failed to read (0) gives a closing decades away.
  ArmPlan broken = PlanArm(kNow, 0, 1000);
  EXPECT_TRUE(broken.rearmOnly);
  EXPECT_GT(broken.bidDelayMs, 0);
  // Just within one timer's reach it is an ordinary bid timer.
  ArmPlan near = PlanArm(kNow + kMaxTimerDelayMs + 3000, kNow, 1000);
  EXPECT_FALSE(near.rearmOnly);
  EXPECT_EQ(kMaxTimerDelayMs, near.bidDelayMs);
  EXPECT_FALSE(IsRearmOnly(near.remain, 1000));
}

TEST(Arm, ExtremeValuesDoNotWrap) {
  ArmPlan p = PlanArm(INT64_MAX, INT64_MIN, INT32_MIN);
  EXPECT_TRUE(p.rearmOnly);
  p = PlanArm(INT64_MIN, INT64_MAX, INT32_MAX);
  EXPECT_EQ(0, p.bidDelayMs);
  EXPECT_FALSE(p.rearmOnly);
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

TEST(Delete, FirstOfThreeMovesBothUp) {
  DeletePlan p = PlanDelete(0, 2, {true, true, true});
  ASSERT_EQ(2u, p.moves.size());
  EXPECT_EQ(1, p.moves[0].from);
  EXPECT_EQ(0, p.moves[0].to);
  EXPECT_TRUE(p.moves[0].rearm);
  EXPECT_EQ(2, p.moves[1].from);
  EXPECT_EQ(1, p.moves[1].to);
  EXPECT_TRUE(p.moves[1].rearm);
  EXPECT_EQ(2, p.freedIndex);
  EXPECT_EQ(1, p.newLast);
}

TEST(Delete, FinishedRowsMoveWithoutArming) {
  DeletePlan p = PlanDelete(0, 2, {true, false, true});
  ASSERT_EQ(2u, p.moves.size());
  EXPECT_FALSE(p.moves[0].rearm);  // its bid went out: never again
  EXPECT_TRUE(p.moves[1].rearm);
}

TEST(Delete, LastRowMovesNothing) {
  DeletePlan p = PlanDelete(2, 2, {true, true, true});
  EXPECT_TRUE(p.moves.empty());
  EXPECT_EQ(2, p.freedIndex);
  EXPECT_EQ(1, p.newLast);
  p = PlanDelete(0, 0, {true});
  EXPECT_EQ(0, p.freedIndex);
  EXPECT_EQ(-1, p.newLast);
}

TEST(Delete, NoRowSelectedDoesNothing) {
  for (int sel : {-1, 3, 10}) {
    DeletePlan p = PlanDelete(sel, 2, {true, true, true});
    EXPECT_TRUE(p.moves.empty());
    EXPECT_EQ(-1, p.freedIndex);
    EXPECT_EQ(2, p.newLast);
  }
  DeletePlan empty = PlanDelete(-1, -1, {});
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
