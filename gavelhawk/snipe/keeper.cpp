#include "gavelhawk/snipe/keeper.h"

#include <chrono>
#include <cstdlib>
#include <tuple>

#include "gavelhawk/app/exchange.h"
#include "platform/text/gbk.h"

namespace gavelhawk::snipe {

namespace {

std::int64_t Now(std::chrono::steady_clock) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}
std::int64_t Now(std::chrono::system_clock) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

bool SameRows(const std::vector<SnipeItem>& a, const std::vector<SnipeItem>& b) {
  auto key = [](const SnipeItem& r) {
    return std::make_tuple(r.nDealId, r.strTitle, r.strState, r.nMaxPrice, r.nIncrement, r.nPrepTime,
                           r.nEndTime, r.nGroup, r.Waiting());
  };
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [&](const SnipeItem& x, const SnipeItem& y) { return key(x) == key(y); });
}

std::string Id(std::int32_t dealId) { return "夺宝编号 " + std::to_string(dealId); }

}  // namespace

int WaitingForBid(const SnipeList& list) {
  int n = 0;
  for (int i = 0; i <= list.last && i < kListRows; ++i) n += WaitsForBid(list.Row(i)) ? 1 : 0;
  return n;
}

Keeper::Keeper(Sinks sinks) : sinks_(std::move(sinks)) {
  if (!sinks_.steadyMs) sinks_.steadyMs = [] { return Now(std::chrono::steady_clock{}); };
  if (!sinks_.wallMs) sinks_.wallMs = [] { return Now(std::chrono::system_clock{}); };
}

void Keeper::Changed(const SnipeList& list) {
  std::map<std::int32_t, Seen> seen;
  std::int64_t lastClockRead = 0;
  for (int i = 0; i <= list.last && i < kListRows; ++i) {
    const SnipeItem& s = list.Row(i);
    const bool waiting = WaitsForBid(s);
    const auto before = seen_.find(s.nDealId);
    const bool wasWaiting = before != seen_.end() && before->second.waiting;
    // Told once the engine has armed the row (it knows when the bid is due);
    // before that nRemain holds no clock reading.
    if (waiting && s.nDueSite != 0 &&
        (!wasWaiting || before->second.endTime != s.nEndTime || before->second.remain != s.nRemain)) {
      // Armed just now: nEndTime - nRemain is the site clock it read.
      lastClockRead = std::max(lastClockRead, s.nEndTime - s.nRemain);
      if (sinks_.log) {
        sinks_.log(Id(s.nDealId) + " 已设定抢拍：距结束 " + gavelhawk::ui::FormatRemain(s.nRemain) +
                   "，最高出价 " + std::to_string(s.nMaxPrice) + " 元，加价 " + std::to_string(s.nIncrement) +
                   " 元，准备时间 " + std::to_string(s.nPrepTime) + " 毫秒");
      }
    } else if (!waiting && wasWaiting && sinks_.notify) {
      sinks_.notify("Gavelhawk", Id(s.nDealId) + " " + platform::text::GbkToUtf8(s.strTitle) + "：" +
                                     platform::text::GbkToUtf8(s.strState));
    }
    seen[s.nDealId] = {waiting, s.nEndTime, s.nRemain};
  }
  seen_ = std::move(seen);
  if (lastClockRead > 0) FollowClock(lastClockRead);
  if (keeping_ && sinks_.save) sinks_.save();
  FollowWaiting(WaitingForBid(list));
}

void Keeper::FollowClock(std::int64_t siteMs) {
  offsetMs_ = siteMs - sinks_.steadyMs();
  const std::int64_t skew = siteMs - sinks_.wallMs();
  if (loggedSkew_ && std::llabs(*loggedSkew_ - skew) < 1000) return;
  loggedSkew_ = skew;
  if (sinks_.log) {
    sinks_.log(std::string("站点时钟估计：比本机时钟") + (skew >= 0 ? "快" : "慢") + " " +
               std::to_string(std::llabs(skew)) + " 毫秒");
  }
}

void Keeper::FollowWaiting(int waiting) {
  if (!sinks_.hold) return;
  if (waiting > 0 && !held_ && !holdTried_) {
    std::string error;
    const Held held = sinks_.hold("还有" + std::to_string(waiting) + "个商品等待竞拍", &error);
    std::string line;
    if (held == Held::None) {
      holdTried_ = true;
      line = "无法阻止系统休眠（" + error + "）：电脑休眠时抢拍会错过";
    } else {
      held_ = true;
      line = held == Held::Login1 ? "等待竞拍期间阻止系统休眠（login1）"
                                  : "等待竞拍期间阻止屏幕保护和休眠（ScreenSaver）";
    }
    if (sinks_.log) sinks_.log(line);
  } else if (waiting == 0 && held_) {
    held_ = false;
    if (sinks_.release) sinks_.release();
    if (sinks_.log) sinks_.log("没有等待竞拍的商品，不再阻止系统休眠");
  }
}

void Keeper::KeepFrom(std::vector<SnipeItem> saved, bool ieMode) {
  keeping_ = true;
  lastSaved_ = std::move(saved);
  lastIEMode_ = ieMode;
}

std::optional<std::vector<SnipeItem>> Keeper::RowsToSave(const SnipeList& list, bool ieMode) {
  if (!keeping_) return std::nullopt;
  std::vector<SnipeItem> rows(list.rows.begin(), list.rows.begin() + std::max(0, list.last + 1));
  for (SnipeItem& r : rows)
    if (!r.nKey && r.Waiting()) r.ePhase = SnipePhase::Finished;
  if (!saveFailed_ && lastIEMode_ == ieMode && SameRows(lastSaved_, rows)) return std::nullopt;
  lastSaved_ = rows;
  lastIEMode_ = ieMode;
  saveFailed_ = false;
  return rows;
}

std::optional<std::int64_t> Keeper::SiteNow() const {
  if (!offsetMs_) return std::nullopt;
  return sinks_.steadyMs() + *offsetMs_;
}

}  // namespace gavelhawk::snipe
