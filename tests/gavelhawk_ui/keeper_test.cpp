// What the user is told as the snipe list changes, what is written and when
// the machine is kept awake: the keeper given the list, on fixed clocks.
#include "gavelhawk/snipe/keeper.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/text/gbk.h"

namespace {

using gavelhawk::snipe::Keeper;
using gavelhawk::snipe::SnipeList;
using gavelhawk::snipe::SnipePhase;
using Lines = std::vector<std::string>;
using P = SnipePhase;

constexpr std::int64_t kSite = 1'700'000'000'000;  // the site's clock at the first arming

// Every sink's call as a line, in order.
struct Told {
  Lines lines;
  Keeper::Held grant = Keeper::Held::Login1;
  std::int64_t steady = 5000;
  std::int64_t wall = kSite - 1500;  // the site runs 1.5 s ahead

  Keeper Make() {
    auto line = [this](std::string l) { lines.push_back(std::move(l)); };
    return Keeper(
        {.log = line,
         .notify = [=](const std::string& t, const std::string& b) { line("notify " + t + "|" + b); },
         .save = [=] { line("save"); },
         .hold =
             [=, this](const std::string& why, std::string* error) {
               line("hold " + why);
               *error = "no bus";
               return grant;
             },
         .release = [=] { line("release"); },
         .steadyMs = [this] { return steady; },
         .wallMs = [this] { return wall; }});
  }
  Lines Take() { return std::exchange(lines, {}); }
};

// Row `id` in `phase`, armed (keyed) unless key is 0; a waiting row has been
// armed by the engine, `remain` before its closing.
SnipeItem Row(std::int32_t id, P phase, std::int64_t remain = 600000, const char* state = "准备竞拍",
              std::uint64_t key = 1) {
  SnipeItem r{.nDealId = id,
              .strTitle = platform::text::Utf8ToGbk("测试商品 " + std::to_string(id)),
              .strState = platform::text::Utf8ToGbk(state),
              .nMaxPrice = 300,
              .nIncrement = 2,
              .nPrepTime = 500,
              .nEndTime = kSite + 600000,
              .nRemain = remain,
              .ePhase = phase,
              .nKey = key};
  if (phase == P::Waiting) r.nDueSite = r.nEndTime - 500;
  return r;
}

SnipeList ListOf(const std::vector<SnipeItem>& rows) {
  SnipeList l;
  for (const SnipeItem& r : rows) l.rows[static_cast<std::size_t>(++l.last)] = r;
  return l;
}

std::string Armed(std::int32_t id, const char* remain) {
  return "夺宝编号 " + std::to_string(id) + " 已设定抢拍：距结束 " + remain +
         "，最高出价 300 元，加价 2 元，准备时间 500 毫秒";
}

TEST(Keeper, ArmedRowsAreLoggedARowThatStopsWaitingIsToldAndTheSiteClockFollowed) {
  Told told;
  Keeper keeper = told.Make();
  EXPECT_FALSE(keeper.SiteNow());
  struct Step {
    const char* what;
    std::vector<SnipeItem> rows;
    Lines want;
    std::int64_t later = 0;  // by the wall clock since the first arming
  };
  const Step steps[] = {
      {"added, its closing time still being read: nothing to tell yet",
       {Row(1, P::Arming, 0)},
       {"hold 还有1个商品等待竞拍", "等待竞拍期间阻止系统休眠（login1）"}},
      {"armed", {Row(1, P::Waiting)}, {Armed(1, "10分0秒"), "站点时钟估计：比本机时钟快 1500 毫秒"}},
      {"the same list again", {Row(1, P::Waiting)}, {}},
      {"a second armed; the skew moved by less than a second",
       {Row(1, P::Waiting), Row(2, P::Waiting, 599000)},
       {Armed(2, "9分59秒")},
       500},
      {"the first armed again (修改商品) by a site clock now behind",
       {Row(1, P::Waiting, 598000), Row(2, P::Waiting, 599000)},
       {Armed(1, "9分58秒"), "站点时钟估计：比本机时钟慢 2000 毫秒"},
       5500},
      {"its bid went out",
       {Row(1, P::BidSent, -1, "出价成功"), Row(2, P::Waiting, 599000)},
       {"notify Gavelhawk|夺宝编号 1 测试商品 1：出价成功"}},
      {"a row no longer waiting is not told twice",
       {Row(1, P::Finished, -1, "竞拍成功"), Row(2, P::Waiting, 599000)},
       {}},
      {"the last one removed from the engine: the machine may sleep",
       {Row(1, P::Finished, -1, "竞拍成功"), Row(2, P::Finished, 599000, "已取消")},
       {"notify Gavelhawk|夺宝编号 2 测试商品 2：已取消", "release", "没有等待竞拍的商品，不再阻止系统休眠"}},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.what);
    told.wall = kSite - 1500 + s.later;
    keeper.Changed(ListOf(s.rows));
    EXPECT_EQ(s.want, told.Take()) << "nothing is written before the saved list was read";
  }
  // The countdown counts on from the last clock read by the steady clock.
  told.steady += 65000;
  EXPECT_EQ(kSite + 2000 + 65000, keeper.SiteNow());
}

TEST(Keeper, TheMachineIsKeptAwakeWhileARowWaitsAndARefusalIsToldOnce) {
  const std::pair<Keeper::Held, const char*> grants[] = {
      {Keeper::Held::Login1, "等待竞拍期间阻止系统休眠（login1）"},
      {Keeper::Held::ScreenSaver, "等待竞拍期间阻止屏幕保护和休眠（ScreenSaver）"},
      {Keeper::Held::None, "无法阻止系统休眠（no bus）：电脑休眠时抢拍会错过"}};
  for (const auto& [grant, said] : grants) {
    SCOPED_TRACE(said);
    Told told;
    told.grant = grant;
    Keeper keeper = told.Make();
    keeper.Changed(ListOf({Row(1, P::Arming, 0), Row(2, P::Arming, 0)}));
    EXPECT_EQ((Lines{"hold 还有2个商品等待竞拍", said}), told.Take());
    // Removed, then a second waiting spell.
    keeper.Changed(ListOf({}));
    keeper.Changed(ListOf({Row(1, P::Arming, 0)}));
    // A bus that does not answer is asked once per run, not at every change.
    const Lines again = {"release", "没有等待竞拍的商品，不再阻止系统休眠", "hold 还有1个商品等待竞拍", said};
    EXPECT_EQ(grant == Keeper::Held::None ? Lines{} : again, told.Take());
  }
}

TEST(Keeper, EachChangeAsksForAWriteAndOnlyWhatTheFileLacksIsWritten) {
  Told told;
  Keeper keeper = told.Make();
  const SnipeList one = ListOf({Row(1, P::Waiting)});
  const SnipeList two = ListOf({Row(1, P::Waiting), Row(2, P::Arming, 0, "准备竞拍", 0)});
  EXPECT_FALSE(keeper.RowsToSave(one, false)) << "before the saved list was read it is never replaced";
  keeper.KeepFrom({Row(1, P::Waiting)}, false);
  const struct {
    const char* what;
    const SnipeList& list;
    bool ieMode;
    bool failBefore;
    bool written;
  } steps[] = {
      {"what the file holds", one, false, false, false}, {"a row added", two, false, false, true},
      {"no change since", two, false, false, false},     {"IE模式 ticked", two, true, false, true},
      {"the last write failed", two, true, true, true},  {"a row removed", one, true, false, true},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.what);
    keeper.Changed(s.list);
    const Lines got = told.Take();
    EXPECT_EQ(1, std::count(got.begin(), got.end(), "save"));
    if (s.failBefore) keeper.SaveFailed();
    const auto rows = keeper.RowsToSave(s.list, s.ieMode);
    ASSERT_EQ(s.written, rows.has_value());
    if (!rows) continue;
    ASSERT_EQ(static_cast<std::size_t>(s.list.last + 1), rows->size());
    EXPECT_TRUE((*rows)[0].Waiting());
    // A row the engine does not hold is written as finished: it never waits after a restart.
    EXPECT_TRUE(rows->size() == 1 || (*rows)[1].ePhase == P::Finished);
  }
}

}  // namespace
