#include "gavelhawk/snipe/engine.h"

#include <sys/prctl.h>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <string_view>

#include "gavelhawk/site/bid.h"
#include "gavelhawk/site/detail.h"
#include "platform/text/gbk.h"
#include "site/fetch.h"
#include "site/paths.h"

namespace gavelhawk::snipe {

namespace {

// The last stretch before a due moment is spun out instead of slept: just
// more than a timely wake-up takes. A longer spin uses up the thread's time
// slice on a busy machine, and a preempted spinner is late by a whole slice
// of another process (ten rows due together spin on two cores at once).
constexpr std::chrono::microseconds kSpin{200};
// Before this, a row's connection is checked and opened again when the site
// closed it; the check's own read must fit before the bid.
constexpr std::int64_t kCheckAheadMs = 1500;
// A row armed closer than this to its bid skips the warm-up.
constexpr std::int64_t kWarmupNeedsMs = 500;
// Outcome reads after closing, until the records show the auction ended.
constexpr int kOutcomeReads = 5;
constexpr std::int64_t kOutcomeRetryMs = 1000;
constexpr std::size_t kLoggedAnswer = 160;

std::int64_t WallMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::string PathOf(const std::string& url) {
  const auto scheme = url.find("://");
  const auto slash = url.find('/', scheme == std::string::npos ? 0 : scheme + 3);
  return slash == std::string::npos ? "/" : url.substr(slash);
}

std::string Ms(std::int64_t us) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f", static_cast<double>(us) / 1000.0);
  return buf;
}

class SteadyClock : public EngineClock {
 public:
  MonoTime Now() override { return MonoClock::now(); }
  void WaitUntil(std::unique_lock<std::mutex>& lk, std::condition_variable& cv, MonoTime until,
                 const std::function<bool()>& wake) override {
    if (until == MonoTime::max()) {
      cv.wait(lk, wake);
      return;
    }
    // A timed wait may end up to 50 us late by default (the timer slack):
    // this thread's ends on time.
    thread_local const bool tight = prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL) == 0;
    (void)tight;
    if (cv.wait_until(lk, until - kSpin, wake)) return;
    lk.unlock();
    // Spun without yielding: a yield on a busy machine hands the core to
    // another process for a whole time slice, milliseconds past the moment.
    // The lock is looked at only now and then, so that the other rows'
    // threads spinning beside this one do not queue on it.
    auto peekAt = MonoClock::now();
    for (MonoTime t = peekAt; t < until; t = MonoClock::now()) {
      if (t < peekAt) continue;
      peekAt = t + std::chrono::microseconds(100);
      std::lock_guard peek(*lk.mutex());
      if (wake()) break;
    }
    lk.lock();
  }
};

}  // namespace

std::shared_ptr<EngineClock> SteadyEngineClock() { return std::make_shared<SteadyClock>(); }

struct Engine::Row {
  std::uint64_t key = 0;
  std::uint64_t epoch = 0;  // Clear() calls before it was armed
  RowSpec setup;
  BidPlan plan;
  std::atomic<bool> dropped{false};
  std::shared_ptr<platform::http::Transport> transport;
  std::thread thread;
  // Restored with its bid already sent: only the outcome is read.
  bool outcomeOnly = false;
  bool taken = false;   // the site said success
  bool unsure = false;  // the bid went out but its answer was lost
  bool sent = false;    // a bid request left
  std::int64_t amount = 0;
  std::string bidState;  // the state after the bid, for a Failed outcome
  // Under groupMu_: counted in its group's holding / won.
  bool holdsGroup = false;
  bool wonGroup = false;
};

Engine::Engine(EngineConfig config, EngineEvents events)
    : config_(std::move(config)), events_(std::move(events)), clock_(config_.clock) {
  if (!clock_) clock_ = SteadyEngineClock();
  config_.clockReads = std::max(2, config_.clockReads);
  thread_ = std::thread([this] { Run(); });
}

Engine::~Engine() { Stop(); }

void Engine::Stop() {
  {
    std::lock_guard lk(mu_);
    if (stop_ && !thread_.joinable()) return;
    stop_ = true;
  }
  if (config_.transport) config_.transport->Cancel(true);
  cv_.notify_all();
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
  // The engine thread is gone: its rows are ours now.
  for (auto& [key, row] : rows_) dropped_.push_back(std::move(row));
  rows_.clear();
  for (auto& row : dropped_) {
    row->dropped = true;
    if (row->transport) row->transport->Cancel(true);
  }
  cv_.notify_all();
  for (auto& row : dropped_)
    if (row->thread.joinable()) row->thread.join();
  dropped_.clear();
  for (auto& t : openThreads_)
    if (t.joinable()) t.join();
  openThreads_.clear();
}

void Engine::Post(std::function<void()> command) {
  {
    std::lock_guard lk(mu_);
    if (stop_) return;
    commands_.push_back(std::move(command));
  }
  cv_.notify_all();
}

std::uint64_t Engine::Epoch() const {
  std::lock_guard lk(mu_);
  return clearEpoch_;
}

void Engine::Arm(std::uint64_t key, const RowSpec& setup) {
  Post([this, key, setup, epoch = Epoch()] {
    DropRow(key);
    auto row = std::make_unique<Row>();
    row->key = key;
    row->epoch = epoch;
    row->setup = setup;
    Log("布置 " + std::to_string(setup.nDealId) + " " + platform::text::GbkToUtf8(setup.strTitle) +
        " 最高出价 " + std::to_string(setup.nMaxPrice) + " 加价 " + std::to_string(setup.nIncrement) +
        " 准备 " + std::to_string(setup.nPrepTime) + " ms" +
        (setup.nGroup ? " 抢拍组 " + std::to_string(setup.nGroup) : ""));
    AddToGroup(*row);
    rows_[key] = std::move(row);
    clockWaiters_.push_back(key);
  });
}

void Engine::AwaitOutcome(std::uint64_t key, const RowSpec& setup, std::int64_t amount) {
  Post([this, key, setup, amount, epoch = Epoch()] {
    DropRow(key);
    auto row = std::make_unique<Row>();
    row->key = key;
    row->epoch = epoch;
    row->setup = setup;
    row->outcomeOnly = true;
    row->sent = true;
    row->unsure = true;
    row->amount = amount;
    row->bidState = site::kStateBidPlaced;
    Log("恢复已出价的 " + std::to_string(setup.nDealId) + "：不再出价，只读成交结果");
    // Its bid may have been taken: the group waits for its outcome.
    AddToGroup(*row);
    rows_[key] = std::move(row);
    clockWaiters_.push_back(key);
  });
}

void Engine::DropRow(std::uint64_t key) {
  auto it = rows_.find(key);
  if (it == rows_.end()) return;
  std::unique_ptr<Row> row = std::move(it->second);
  rows_.erase(it);
  {
    std::lock_guard lk(mu_);
    row->dropped = true;
  }
  // A row no longer in the list no longer speaks for its group.
  {
    std::lock_guard lk(groupMu_);
    if (row->setup.nGroup) {
      Group& g = groups_[row->setup.nGroup];
      if (row->holdsGroup) --g.holding;
      if (row->wonGroup) --g.won;
      row->holdsGroup = row->wonGroup = false;
    }
  }
  // A bid under way is not cut short: it may already have reached the site.
  cv_.notify_all();
  dropped_.push_back(std::move(row));
}

void Engine::AddToGroup(Row& row) {
  if (!row.setup.nGroup) return;
  std::lock_guard lk(groupMu_);
  Group& g = groups_[row.setup.nGroup];  // made here, so the due moment only looks up
  if (row.outcomeOnly) {
    ++g.holding;
    row.holdsGroup = true;
  }
}

const char* Engine::ClaimGroup(Row& row) {
  if (!row.setup.nGroup) return nullptr;
  std::lock_guard lk(groupMu_);
  const auto it = groups_.find(row.setup.nGroup);
  if (it == groups_.end()) return nullptr;
  Group& g = it->second;
  // Dropped meanwhile: DropRow's count is done or never sees this claim.
  if (row.dropped) return nullptr;
  if (g.won > 0) return kSkipGroupWon;
  // A bid in flight counts as taken: two rows due together never both bid.
  if (g.holding > 0) return kSkipGroupPending;
  ++g.holding;
  row.holdsGroup = true;
  return nullptr;
}

void Engine::ReleaseGroup(Row& row, bool won) {
  if (!row.setup.nGroup) return;
  std::lock_guard lk(groupMu_);
  Group& g = groups_[row.setup.nGroup];
  if (row.holdsGroup) --g.holding;
  row.holdsGroup = false;
  if (won && !row.wonGroup && !row.dropped) {
    ++g.won;
    row.wonGroup = true;
  }
}

void Engine::Remove(std::uint64_t key) {
  // Effective at once: a bid due before the command is taken never leaves.
  {
    std::lock_guard lk(mu_);
    removing_.insert(key);
  }
  cv_.notify_all();
  Post([this, key] {
    DropRow(key);
    std::lock_guard lk(mu_);
    removing_.erase(key);
  });
}

void Engine::Clear() {
  // Effective at once, as Remove is.
  {
    std::lock_guard lk(mu_);
    ++clearEpoch_;
  }
  cv_.notify_all();
  Post([this] {
    std::vector<std::uint64_t> keys;
    for (const auto& [key, row] : rows_) keys.push_back(key);
    for (std::uint64_t key : keys) DropRow(key);
  });
}

void Engine::ArmOpen(const std::string& url, MonoTime fireAt) {
  const std::uint64_t generation = ++openGen_;
  Post([this, url, fireAt, generation] {
    Log("开卖抢拍 " + PathOf(url) + " 于 " + Ms(MonoUs(fireAt) - MonoUs(clock_->Now())) + " ms 后");
    auto transport = NewConnection();
    openThreads_.emplace_back(
        [this, url, fireAt, generation, transport] { OpenMain(url, fireAt, generation, transport); });
  });
}

void Engine::CancelOpen() {
  {
    std::lock_guard lk(mu_);
    ++openGen_;
  }
  cv_.notify_all();
}

void Engine::SetBidsItself(bool on) { bidsItself_ = on; }

std::optional<std::int64_t> Engine::SiteNow() const {
  if (!haveEstimate_) return std::nullopt;
  return (MonoUs(clock_->Now()) + offsetUs_.load()) / 1000;
}

std::int64_t Engine::MonoUs(MonoTime t) const {
  return std::chrono::duration_cast<std::chrono::microseconds>(t.time_since_epoch()).count();
}

MonoTime Engine::MonoFromSite(std::int64_t siteMs) const {
  // A garbled closing time may lie anywhere: saturate instead of wrapping.
  std::int64_t us = 0;
  constexpr std::int64_t kLimitUs = std::numeric_limits<std::int64_t>::max() / 1000 / 2;  // in ns too
  if (__builtin_mul_overflow(siteMs, 1000, &us) || __builtin_sub_overflow(us, offsetUs_.load(), &us) ||
      us > kLimitUs || us < -kLimitUs)
    return siteMs > 0 ? MonoTime::max() : MonoTime::min();
  return MonoTime(std::chrono::microseconds(us));
}

void Engine::Log(const std::string& text) {
  if (!events_.log) return;
  std::lock_guard lk(emitMu_);
  events_.log(LogLine{WallMs(), text});
}

void Engine::Emit(const RowEvent& e) {
  if (!events_.row) return;
  std::lock_guard lk(emitMu_);
  events_.row(e);
}

std::shared_ptr<platform::http::Transport> Engine::NewConnection() {
  if (config_.newTransport) {
    if (auto t = config_.newTransport()) return std::shared_ptr<platform::http::Transport>(std::move(t));
  }
  // One connection for everything: requests take turns on it.
  struct Shared : platform::http::Transport {
    platform::http::Transport* t;
    std::mutex* mu;
    platform::http::Response Get(const std::string& url) override {
      std::lock_guard lk(*mu);
      return t->Get(url);
    }
    platform::http::Response Send(const std::string& url, const platform::http::RequestOptions& o) override {
      std::lock_guard lk(*mu);
      return t->Send(url, o);
    }
  };
  auto s = std::make_shared<Shared>();
  s->t = config_.transport.get();
  s->mu = &sharedMu_;
  return s;
}

void Engine::Run() {
  for (;;) {
    std::deque<std::function<void()>> commands;
    bool read = false;
    {
      std::unique_lock lk(mu_);
      cv_.wait(lk, [this] { return stop_ || !commands_.empty() || clockWanted_; });
      if (stop_) return;
      commands.swap(commands_);
      read = clockWanted_ && commands.empty();
      if (read) clockWanted_ = false;
    }
    for (auto& c : commands) c();
    if (!clockWaiters_.empty() || read) {
      std::vector<std::uint64_t> waiters;
      waiters.swap(clockWaiters_);
      ReadClock(waiters);
    }
  }
}

void Engine::ReadClock(const std::vector<std::uint64_t>& waiters) {
  std::vector<ClockRead> reads;
  const std::string url = config_.siteUrl + ::site::DetailPath(::site::kClockDealId);
  std::vector<std::string> lines;
  for (int i = 0; i < config_.clockReads; ++i) {
    {
      std::lock_guard lk(mu_);
      if (stop_) return;
    }
    ClockRead read;
    read.sentUs = MonoUs(clock_->Now());
    ::site::PageResult r = ::site::FetchPageChecked(*config_.transport, url, config_.requestDeadline);
    read.receivedUs = MonoUs(clock_->Now());
    read.siteMs = r.failed ? 0 : site::ReadNowMil(r.text);
    read.ok = !r.failed && read.siteMs > 0;
    lines.push_back("时钟 " + PathOf(url) + " 往返 " + Ms(read.receivedUs - read.sentUs) + " ms" +
                    (r.failed ? " 失败：" + r.error : ""));
    reads.push_back(read);
  }
  for (const std::string& l : lines) Log(l);
  ClockEstimate e = EstimateSiteClock(reads);
  if (e.ok) {
    // The reads of the last few estimates count as well.
    PoolClockReads(clockPool_, reads, e);
    if (const ClockEstimate pooled = EstimateSiteClock(clockPool_); pooled.ok) e = pooled;
  }
  if (e.ok) {
    {
      std::lock_guard lk(mu_);
      offsetUs_ = e.offsetUs;
      haveEstimate_ = true;
      ++estimateGen_;
    }
    cv_.notify_all();
    Log("站点时钟 " + std::to_string(*SiteNow()) + "（" + std::to_string(e.reads) + " 次读取一致，最短往返 " +
        Ms(e.rttUs) + " ms）");
  } else {
    std::string values;
    for (const ClockRead& r : reads) values += " " + (r.ok ? std::to_string(r.siteMs) : std::string("-"));
    Log("站点时钟读取不一致或失败：" + values);
  }
  for (std::uint64_t key : waiters) {
    auto it = rows_.find(key);
    if (it == rows_.end() || it->second->thread.joinable()) continue;
    Row& row = *it->second;
    if (e.ok && row.outcomeOnly) {
      row.plan = PlanBid(row.setup.nEndTime, *SiteNow(), row.setup.nPrepTime);
      row.plan.outcomeSiteMs = row.setup.nEndTime + kOutcomeAfterMs;
      StartRow(row);
      continue;
    }
    if (e.ok) {
      const std::int64_t now = *SiteNow();
      row.plan = PlanBid(row.setup.nEndTime, now, row.setup.nPrepTime);
      if (row.plan.armable) {
        StartRow(row);
        continue;
      }
      // A closing time at or before the site's now is a misread (or an
      // auction already over): no bid at a meaningless time.
      Log("不布置 " + std::to_string(row.setup.nDealId) + "：截止 " + std::to_string(row.setup.nEndTime) +
          " 不在站点时间 " + std::to_string(now) + " 之后");
    }
    RowEvent ev;
    ev.key = row.key;
    ev.dealId = row.setup.nDealId;
    ev.kind = RowEvent::Kind::NotArmed;
    ev.state = site::kStateNoSiteTime;
    ev.remain = -1;
    Emit(ev);
    DropRow(key);
  }
}

void Engine::StartRow(Row& row) {
  row.transport = NewConnection();
  if (!row.outcomeOnly) {
    const std::int64_t now = *SiteNow();
    RowEvent ev;
    ev.key = row.key;
    ev.dealId = row.setup.nDealId;
    ev.kind = RowEvent::Kind::Armed;
    ev.state = site::kStateWaiting;
    ev.remain = row.plan.remain;
    ev.closingInMs = row.plan.remain;
    ev.fireInMs = std::max<std::int64_t>(0, row.plan.dueSiteMs - now);
    ev.dueSiteMs = row.plan.dueSiteMs;
    Log("已布置 " + std::to_string(row.setup.nDealId) + "：距截止 " + std::to_string(ev.closingInMs) +
        " ms，" + std::to_string(ev.fireInMs) + " ms 后出价" +
        (row.plan.warmup ? "，预热于 " + std::to_string(row.plan.warmupSiteMs - now) + " ms 后" : ""));
    Emit(ev);
  }
  Row* r = &row;
  row.thread = std::thread([this, r] { RowMain(*r); });
}

bool Engine::Forgotten(const Row& row) const { return removing_.count(row.key) || row.epoch != clearEpoch_; }

bool Engine::WaitForSite(Row& row, std::int64_t siteMs) {
  std::unique_lock lk(mu_);
  for (;;) {
    if (Forgotten(row)) row.dropped = true;
    if (stop_ || row.dropped) return false;
    const MonoTime at = MonoFromSite(siteMs);
    if (clock_->Now() >= at) return true;
    // A new clock estimate moves the moment: wait again on it.
    const std::uint64_t gen = estimateGen_;
    clock_->WaitUntil(lk, cv_, at,
                      [&] { return stop_ || row.dropped.load() || Forgotten(row) || estimateGen_ != gen; });
    if (Forgotten(row)) row.dropped = true;
  }
}

void Engine::RowMain(Row& row) {
  if (!row.outcomeOnly) {
    // A connection of its own, opened well ahead of the bid (at the warm-up
    // moment, or now when the bid is nearer than that).
    const std::int64_t warmAt = row.plan.warmup ? row.plan.warmupSiteMs : 0;
    if (row.plan.dueSiteMs - std::max(warmAt, *SiteNow()) >= kWarmupNeedsMs) {
      if (warmAt && !WaitForSite(row, warmAt)) return;
      WarmUp(row);
      if (row.plan.warmup) {
        std::lock_guard lk(mu_);
        clockWanted_ = true;
      }
      cv_.notify_all();
    }
    // A connection the site has closed meanwhile is opened again now, not at
    // the bid.
    if (!WaitForSite(row, row.plan.dueSiteMs - kCheckAheadMs)) return;
    if (*SiteNow() < row.plan.dueSiteMs - kWarmupNeedsMs && !row.transport->ConnectionAlive()) {
      Log("连接已断开，重新预热 " + std::to_string(row.setup.nDealId));
      WarmUp(row);
    }
    // Kept as "bid sent" now, well ahead: a slow disk cannot hold up the bid.
    if (bidsItself_ && events_.bidSending) events_.bidSending(row.key, row.setup.nDealId);
    if (!WaitForSite(row, row.plan.dueSiteMs)) return;
    if (const char* skip = ClaimGroup(row)) {
      SkipForGroup(row, skip);
      return;
    }
    FireBid(row);
    // Only a bid the site may have taken keeps the group waiting.
    if (!row.taken && !row.unsure) ReleaseGroup(row, false);
    if (!bidsItself_ || !row.sent) return;
  }
  // The outcome: read after closing until the records show the auction
  // ended, a few times at most.
  for (int i = 0; i < kOutcomeReads; ++i) {
    if (!WaitForSite(row, row.plan.outcomeSiteMs + i * kOutcomeRetryMs)) return;
    if (ReadOutcome(row, i == kOutcomeReads - 1)) return;
  }
}

void Engine::SkipForGroup(Row& row, const char* reason) {
  const bool won = std::string_view(reason) == kSkipGroupWon;
  RowEvent ev;
  ev.key = row.key;
  ev.dealId = row.setup.nDealId;
  ev.kind = RowEvent::Kind::Skipped;
  ev.remain = -1;
  ev.state = won ? kStateGroupWon : kStateGroupPending;
  ev.skipReason = reason;
  Log("不出价 " + std::to_string(row.setup.nDealId) + "：抢拍组 " + std::to_string(row.setup.nGroup) +
      (won ? " 已有得标" : " 有已出价的商品尚未结束"));
  if (!row.dropped) Emit(ev);
}

void Engine::WarmUp(Row& row) {
  // The records read the bid makes anyway: it opens the connection and
  // never bids.
  const MonoTime t0 = clock_->Now();
  const std::string url = config_.siteUrl + ::site::BidRecordsPath(row.setup.nDealId);
  platform::http::RequestOptions o;
  o.deadline = config_.requestDeadline;
  o.followRedirects = false;
  const site::RecordsRead rec = site::ReadRecords(row.transport->Send(url, o));
  Log("预热 " + PathOf(url) + " 往返 " + Ms(MonoUs(clock_->Now()) - MonoUs(t0)) + " ms" +
      (rec.ok ? "" : " 失败：" + rec.error));
  if (!rec.ok || row.dropped) return;
  RowEvent ev;
  ev.key = row.key;
  ev.dealId = row.setup.nDealId;
  ev.kind = RowEvent::Kind::Price;
  ev.remain = row.setup.nEndTime - SiteNow().value_or(row.setup.nEndTime);
  ev.currentPrice = rec.current;
  Emit(ev);
}

void Engine::FireBid(Row& row) {
  const bool itself = bidsItself_;
  RowEvent ev;
  ev.key = row.key;
  ev.dealId = row.setup.nDealId;
  ev.kind = RowEvent::Kind::Bid;
  ev.remain = -1;
  platform::http::RequestOptions o;
  o.deadline = config_.requestDeadline;
  o.followRedirects = false;
  // From here to the bid request: no log line, no file, no long lock. What
  // is to be told is kept and told after the bid has left.
  const MonoTime t0 = clock_->Now();
  const std::string recordsUrl = config_.siteUrl + ::site::BidRecordsPath(row.setup.nDealId);
  const site::RecordsRead rec = site::ReadRecords(row.transport->Send(recordsUrl, o));
  const MonoTime t1 = clock_->Now();
  std::string bidUrl;
  platform::http::Response answer;
  MonoTime t2 = t1;
  if (rec.ok) {
    row.amount = site::BidAmount(rec.current, row.setup.nIncrement, row.setup.nMaxPrice);
    bidUrl = config_.siteUrl + ::site::BidPath(row.setup.nDealId, row.amount);
    // The last look before the price leaves: never above the ceiling, never
    // a price that is no price.
    if (itself && row.amount >= 1 && row.amount <= row.setup.nMaxPrice) {
      platform::http::RequestOptions b = o;
      b.resend = false;
      row.sent = true;
      answer = row.transport->Send(bidUrl, b);
      t2 = clock_->Now();
    }
  }
  Log("出价记录 " + PathOf(recordsUrl) + " 往返 " + Ms(MonoUs(t1) - MonoUs(t0)) + " ms" +
      (rec.ok ? "" : " 失败：" + rec.error));
  ev.currentPrice = rec.ok ? rec.current : 0;
  if (!rec.ok) {
    // Without the current price there is no sound amount to bid.
    ev.networkError = true;
    ev.reason = rec.error;
    ev.state = std::string(site::kMsgNetworkError) + rec.error;
  } else if (!itself) {
    ev.price = row.amount;
    ev.handOverUrl = bidUrl;
    ev.state = site::kStateHandedOver;
    Log("出价 " + std::to_string(row.setup.nDealId) + " " + std::to_string(row.amount) + " 交给浏览器");
  } else if (!row.sent) {
    ev.price = row.amount;
    ev.networkError = true;
    ev.reason = "出价 " + std::to_string(row.amount) + " 不在 1 至最高出价 " +
                std::to_string(row.setup.nMaxPrice) + " 之间";
    ev.state = std::string(site::kMsgNetworkError) + ev.reason;
  } else {
    ev.price = row.amount;
    Log("当前价 " + std::to_string(rec.current) + "，出价 " + std::to_string(row.amount));
    const site::BidAnswerRead a = site::ReadBidAnswer(answer);
    Log("出价 " + PathOf(bidUrl) + " 往返 " + Ms(MonoUs(t2) - MonoUs(t1)) + " ms" +
        (a.failed ? " 失败：" + a.error : ""));
    if (!answer.body.empty())
      Log("回答 " + std::to_string(row.setup.nDealId) + "：" +
          platform::text::GbkToUtf8(::site::ToPageText(answer.body.substr(0, kLoggedAnswer))));
    if (a.failed) {
      ev.networkError = true;
      ev.reason = a.error;
      ev.state = std::string(site::kMsgNetworkError) + a.error;
      // Whether the site took it is read from the records after closing.
      row.unsure = a.mayBeTaken;
    } else {
      ev.success = a.success;
      ev.code = a.code;
      ev.state = a.success ? std::string(site::kStateBidPlaced)
                           : site::SnipeStateText(a.code, rec.current, row.setup.nMaxPrice, row.amount);
    }
  }
  row.taken = ev.success;
  row.bidState = ev.state;
  Log("结果 " + std::to_string(row.setup.nDealId) + "：" + ev.state);
  if (!row.dropped) Emit(ev);
}

bool Engine::ReadOutcome(Row& row, bool last) {
  platform::http::RequestOptions o;
  o.deadline = config_.requestDeadline;
  o.followRedirects = false;
  const std::string url = config_.siteUrl + ::site::BidRecordsPath(row.setup.nDealId);
  const MonoTime t0 = clock_->Now();
  const site::RecordsRead rec = site::ReadRecords(row.transport->Send(url, o));
  Log("成交记录 " + PathOf(url) + " 往返 " + Ms(MonoUs(clock_->Now()) - MonoUs(t0)) + " ms" +
      (rec.ok ? (rec.ended ? "" : "，尚未结束") : " 失败：" + rec.error));
  if (!last && (!rec.ok || !rec.ended)) return false;
  RowEvent ev;
  ev.key = row.key;
  ev.dealId = row.setup.nDealId;
  ev.kind = RowEvent::Kind::Result;
  ev.remain = -1;
  ev.price = row.amount;
  ev.currentPrice = rec.ok ? rec.current : 0;
  if (!rec.ok) {
    ev.outcome = Outcome::Failed;
    ev.networkError = true;
    ev.reason = rec.error;
    ev.state = row.taken || row.unsure ? std::string(site::kMsgNetworkError) + rec.error : row.bidState;
  } else {
    ev.finalPrice = rec.ended ? rec.finalPrice : rec.current;
    // Two bids cannot stand at one price: a closed auction's price equal to
    // the bid we sent is our bid.
    const bool ours = rec.ended && (row.taken || row.unsure) && rec.finalPrice == row.amount;
    if (row.amount == 0) {
      // Restored after its bid left: the amount sent is not known, so
      // neither is whether it won.
      ev.outcome = Outcome::Failed;
      ev.state = site::UnconfirmedStateText(ev.finalPrice);
    } else if (ours) {
      ev.outcome = Outcome::Won;
      ev.state = site::kStateWon;
    } else if (!rec.ended) {
      ev.outcome = Outcome::Failed;
      ev.state = site::UnconfirmedStateText(rec.current);
    } else if (row.taken || row.unsure) {
      ev.outcome = Outcome::Lost;
      ev.state = site::LostStateText(ev.finalPrice);
    } else {
      ev.outcome = Outcome::Failed;
      ev.state = row.bidState;
    }
  }
  // Told before the event, so that whatever the event sets off sees the group
  // as it now is. An outcome still unknown keeps the group waiting: never
  // two wins in one group.
  if (ev.outcome == Outcome::Won)
    ReleaseGroup(row, true);
  else if (ev.outcome != Outcome::Failed || (!row.taken && !row.unsure))
    ReleaseGroup(row, false);
  Log("成交 " + std::to_string(row.setup.nDealId) + "：" + ev.state + "，成交价 " +
      std::to_string(ev.finalPrice));
  if (!row.dropped) Emit(ev);
  return true;
}

void Engine::OpenMain(std::string url, MonoTime fireAt, std::uint64_t generation,
                      std::shared_ptr<platform::http::Transport> transport) {
  {
    std::unique_lock lk(mu_);
    clock_->WaitUntil(lk, cv_, fireAt, [&] { return stop_ || openGen_ != generation; });
    if (stop_ || openGen_ != generation) return;
  }
  OpenEvent ev;
  if (bidsItself_) {
    platform::http::RequestOptions o;
    o.deadline = config_.requestDeadline;
    o.followRedirects = false;
    o.resend = false;
    const site::BidAnswerRead a = site::ReadBidAnswer(transport->Send(url, o));
    ev.status = !a.failed && a.success ? "抢拍成功" : "抢拍失败";
  } else {
    ev.handOverUrl = url;
    ev.status = "抢拍结束";
  }
  Log("开卖抢拍：" + ev.status);
  // Cancelled while the bid was under way: nothing more is told.
  if (openGen_ != generation || !events_.open) return;
  std::lock_guard lk(emitMu_);
  events_.open(ev);
}

}  // namespace gavelhawk::snipe
