// What the user is told as the snipe list changes, what is written and when
// the machine is kept awake: the keeper given the list, on fixed clocks.
#include "gavelhawk/snipe/keeper.h"

#include <gtest/gtest.h>

#include "platform/text/gbk.h"

namespace {

using gavelhawk::snipe::Keeper;
using gavelhawk::snipe::SnipeList;
using gavelhawk::snipe::SnipePhase;
using Lines = std::vector<std::string>;

constexpr std::int64_t kSite = 1'700'000'000'000;  // the site's clock at the first arming

struct Told {
  Lines lines;  // log lines and "notify title|body", in order
  int saves = 0;
  int holds = 0;
  int releases = 0;
  Keeper::Held grant = Keeper::Held::Login1;
  std::int64_t steady = 5000;
  std::int64_t wall = kSite - 1500;  // the site runs 1.5 s ahead

  Keeper Make() {
    Keeper::Sinks s;
    s.log = [this](const std::string& l) { lines.push_back(l); };
    s.notify = [this](const std::string& t, const std::string& b) {
      lines.push_back("notify " + t + "|" + b);
    };
    s.save = [this] { ++saves; };
    s.hold = [this](const std::string& why, std::string* error) {
      ++holds;
      lines.push_back("hold " + why);
      *error = "no bus";
      return grant;
    };
    s.release = [this] { ++releases; };
    s.steadyMs = [this] { return steady; };
    s.wallMs = [this] { return wall; };
    return Keeper(std::move(s));
  }
  Lines Take() { return std::exchange(lines, {}); }
};

SnipeItem Row(std::int32_t id, SnipePhase phase, std::int64_t remain = 600000,
              const char* state = "准备竞拍") {
  SnipeItem r;
  r.nDealId = id;
  r.strTitle = platform::text::Utf8ToGbk("测试商品 " + std::to_string(id));
  r.strState = platform::text::Utf8ToGbk(state);
  r.nMaxPrice = 300;
  r.nIncrement = 2;
  r.nPrepTime = 500;
  r.nEndTime = kSite + 600000;
  r.nRemain = remain;
  r.ePhase = phase;
  r.nKey = static_cast<std::uint64_t>(id);
  // The engine has armed it once it waits: it knows when the bid is due.
  r.nDueSite = phase == SnipePhase::Waiting ? r.nEndTime - 500 : 0;
  return r;
}

SnipeList ListOf(std::vector<SnipeItem> rows) {
  SnipeList l;
  for (const SnipeItem& r : rows) l.rows[static_cast<std::size_t>(++l.last)] = r;
  return l;
}

TEST(Keeper, ArmedRowsAreLoggedAndARowThatStopsWaitingIsToldOnTheDesktop) {
  Told told;
  Keeper keeper = told.Make();
  const std::string armed1 =
      "夺宝编号 4000001 已设定抢拍：距结束 10分0秒，最高出价 300 元，加价 2 元，准备时间 500 毫秒";
  struct Step {
    const char* what;
    std::vector<SnipeItem> rows;
    Lines want;
    std::int64_t later = 0;  // by the wall clock since the first arming
  };
  const Step steps[] = {
      {"added, its closing time still being read: nothing to tell yet",
       {Row(4000001, SnipePhase::Arming, 0)},
       {"hold 还有1个商品等待竞拍", "等待竞拍期间阻止系统休眠（login1）"}},
      {"armed: the log and the site's clock",
       {Row(4000001, SnipePhase::Waiting)},
       {armed1, "站点时钟估计：比本机时钟快 1500 毫秒"}},
      {"the same list again", {Row(4000001, SnipePhase::Waiting)}, {}},
      {"a second row armed; the first is not told again",
       {Row(4000001, SnipePhase::Waiting), Row(4000002, SnipePhase::Waiting, 599000)},
       {"夺宝编号 4000002 已设定抢拍：距结束 9分59秒，最高出价 300 元，加价 2 元，准备时间 500 毫秒"},
       1000},
      {"the first armed again from a fresh read (修改商品)",
       {Row(4000001, SnipePhase::Waiting, 598000), Row(4000002, SnipePhase::Waiting, 599000)},
       {"夺宝编号 4000001 已设定抢拍：距结束 9分58秒，最高出价 300 元，加价 2 元，准备时间 500 毫秒"},
       2000},
      {"its bid went out",
       {Row(4000001, SnipePhase::BidSent, -1, "出价成功"), Row(4000002, SnipePhase::Waiting, 599000)},
       {"notify Gavelhawk|夺宝编号 4000001 测试商品 4000001：出价成功"}},
      {"the outcome of a row no longer waiting is not told twice",
       {Row(4000001, SnipePhase::Finished, -1, "竞拍成功"), Row(4000002, SnipePhase::Waiting, 599000)},
       {}},
      {"the last one removed from the engine: the machine may sleep",
       {Row(4000001, SnipePhase::Finished, -1, "竞拍成功"),
        Row(4000002, SnipePhase::Finished, 599000, "已取消")},
       {"notify Gavelhawk|夺宝编号 4000002 测试商品 4000002：已取消",
        "没有等待竞拍的商品，不再阻止系统休眠"}},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.what);
    told.wall = kSite - 1500 + s.later;
    keeper.Changed(ListOf(s.rows));
    EXPECT_EQ(s.want, told.Take());
  }
  EXPECT_EQ(1, told.holds);
  EXPECT_EQ(1, told.releases);
  EXPECT_EQ(0, told.saves) << "nothing is kept before the saved list was read";
}

TEST(Keeper, TheMachineIsKeptAwakeWhileARowWaitsAndARefusalIsToldOnce) {
  struct Case {
    Keeper::Held grant;
    Lines want;
    int holds;  // after a second waiting spell
  };
  const Case cases[] = {
      {Keeper::Held::Login1, {"hold 还有2个商品等待竞拍", "等待竞拍期间阻止系统休眠（login1）"}, 2},
      {Keeper::Held::ScreenSaver,
       {"hold 还有2个商品等待竞拍", "等待竞拍期间阻止屏幕保护和休眠（ScreenSaver）"},
       2},
      // A bus that does not answer is asked once per run, not at every change.
      {Keeper::Held::None,
       {"hold 还有2个商品等待竞拍", "无法阻止系统休眠（no bus）：电脑休眠时抢拍会错过"},
       1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.grant));
    Told told;
    told.grant = c.grant;
    Keeper keeper = told.Make();
    keeper.Changed(ListOf({Row(1, SnipePhase::Arming, 0), Row(2, SnipePhase::Arming, 0)}));
    EXPECT_EQ(c.want, told.Take());
    SnipeItem unarmed = Row(1, SnipePhase::Arming, 0);
    unarmed.nKey = 0;  // not in the engine: it does not wait
    keeper.Changed(ListOf({unarmed}));
    keeper.Changed(ListOf({Row(1, SnipePhase::Arming, 0)}));
    EXPECT_EQ(c.holds, told.holds);
    EXPECT_EQ(c.holds - 1, told.releases);
  }
}

TEST(Keeper, TheSiteClockIsEstimatedFromEachArmingAndItsSkewLoggedWhenItMoves) {
  Told told;
  Keeper keeper = told.Make();
  EXPECT_FALSE(keeper.SiteNow().has_value());
  struct Arming {
    std::int64_t remain;  // the clock read is the closing time less this
    std::int64_t wall;
    Lines want;
  };
  const Arming armings[] = {
      {600000, kSite - 1500, {"站点时钟估计：比本机时钟快 1500 毫秒"}},
      {599000, kSite - 1000, {}},  // moved by 500 ms: not logged again
      {598000, kSite + 4000, {"站点时钟估计：比本机时钟慢 2000 毫秒"}},
  };
  for (const Arming& a : armings) {
    SCOPED_TRACE(a.remain);
    told.wall = a.wall;
    keeper.Changed(ListOf({Row(7, SnipePhase::Waiting, a.remain)}));
    Lines skew;
    for (const std::string& l : told.Take())
      if (l.starts_with("站点时钟估计")) skew.push_back(l);
    EXPECT_EQ(a.want, skew);
  }
  // The countdown counts on from the last read by the steady clock.
  told.steady += 65000;
  EXPECT_EQ(kSite + 600000 - 598000 + 65000, keeper.SiteNow());
}

TEST(Keeper, EachChangeAsksForAWriteAndOnlyWhatTheFileLacksIsWritten) {
  Told told;
  Keeper keeper = told.Make();
  const SnipeList one = ListOf({Row(1, SnipePhase::Waiting)});
  keeper.Changed(one);
  EXPECT_EQ(0, told.saves);
  EXPECT_FALSE(keeper.RowsToSave(one, false)) << "before the saved list was read it is never replaced";

  keeper.KeepFrom({Row(1, SnipePhase::Waiting)}, false);
  SnipeItem unarmed = Row(2, SnipePhase::Arming, 0);
  unarmed.nKey = 0;
  const SnipeList two = ListOf({Row(1, SnipePhase::Waiting), unarmed});
  struct Step {
    const char* what;
    const SnipeList& list;
    bool ieMode;
    bool failBefore;
    bool written;
  };
  const Step steps[] = {
      {"what the file holds", one, false, false, false}, {"a row added", two, false, false, true},
      {"no change since", two, false, false, false},     {"IE模式 ticked", two, true, false, true},
      {"the last write failed", two, true, true, true},  {"a row removed", one, true, false, true},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.what);
    const int before = told.saves;
    keeper.Changed(s.list);
    EXPECT_EQ(before + 1, told.saves);
    if (s.failBefore) keeper.SaveFailed();
    const auto rows = keeper.RowsToSave(s.list, s.ieMode);
    ASSERT_EQ(s.written, rows.has_value());
    if (!rows) continue;
    ASSERT_EQ(static_cast<std::size_t>(s.list.last + 1), rows->size());
    EXPECT_TRUE((*rows)[0].Waiting());
    // A row the engine does not hold is written as finished: it never waits after a restart.
    if (rows->size() > 1) {
      EXPECT_EQ(SnipePhase::Finished, (*rows)[1].ePhase);
    }
  }
}

}  // namespace
