#include "gavelhawk/snipe/engine.h"

#include <algorithm>
#include <cstdio>
#include <limits>

#include "gavelhawk/site/bid.h"
#include "gavelhawk/site/detail.h"
#include "site/fetch.h"
#include "platform/text/gbk.h"

namespace gavelhawk::snipe {

namespace {

// Non-urgent work (clock reads, warm-ups, outcomes) starts only when it
// cannot hold up a due bid: it may take up to one request deadline.
constexpr std::chrono::milliseconds kGuard{20};
// The last stretch before a bid is spun out instead of slept: a condition
// variable may wake a little late.
constexpr std::chrono::microseconds kSpin{2000};
constexpr std::chrono::milliseconds kOutcomeRetry{2000};
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

}  // namespace

struct Engine::Row {
  enum class Phase { Arming, Waiting, AwaitOutcome, Done };
  std::uint64_t key = 0;
  RowSpec setup;
  Phase phase = Phase::Arming;
  BidPlan plan;
  bool warmupDone = false;
  bool taken = false;
  std::int64_t amount = 0;
  int outcomeTries = 0;
  MonoTime outcomeNotBefore{};
};

struct Engine::ClockSession {
  std::vector<ClockRead> reads;
  std::vector<std::uint64_t> waiters;  // rows being armed on this estimate
  bool started = false;
};

Engine::Engine(EngineConfig config, EngineEvents events)
    : config_(std::move(config)), events_(std::move(events)) {
  if (!config_.now) config_.now = [] { return MonoClock::now(); };
  config_.clockReads = std::max(2, config_.clockReads);
  thread_ = std::thread([this] { Run(); });
}

Engine::~Engine() { Stop(); }

void Engine::Stop() {
  {
    std::lock_guard lk(mu_);
    stop_ = true;
  }
  if (config_.transport) config_.transport->Cancel(true);
  cv_.notify_all();
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void Engine::Post(std::function<void()> command) {
  {
    std::lock_guard lk(mu_);
    if (stop_) return;
    commands_.push_back(std::move(command));
  }
  cv_.notify_all();
}

void Engine::Arm(std::uint64_t key, const RowSpec& setup) {
  Post([this, key, setup] {
    auto row = std::make_unique<Row>();
    row->key = key;
    row->setup = setup;
    Log("布置 " + std::to_string(setup.dealId) + " " + platform::text::GbkToUtf8(setup.title) + " 最高出价 " +
        std::to_string(setup.maxPrice) + " 加价 " + std::to_string(setup.increment) + " 准备 " +
        std::to_string(setup.prepTime) + " ms");
    rows_[key] = std::move(row);
    StartClockSession(key);
  });
}

void Engine::Remove(std::uint64_t key) {
  Post([this, key] { rows_.erase(key); });
}

void Engine::Clear() {
  Post([this] { rows_.clear(); });
}

void Engine::ArmOpen(const std::string& url, MonoTime fireAt) {
  Post([this, url, fireAt] {
    openUrl_ = url;
    openAt_ = fireAt;
    Log("开卖抢拍 " + PathOf(url) + " 于 " + Ms(MonoUs(fireAt) - MonoUs(config_.now())) + " ms 后");
  });
}

void Engine::CancelOpen() {
  Post([this] { openUrl_.reset(); });
}

void Engine::SetBidsItself(bool on) { bidsItself_ = on; }

std::optional<std::int64_t> Engine::SiteNow() const {
  if (!haveEstimate_) return std::nullopt;
  return (MonoUs(config_.now()) + offsetUs_.load()) / 1000;
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
  if (events_.log) events_.log(LogLine{WallMs(), text});
}

void Engine::Emit(const RowEvent& e) {
  if (events_.row) events_.row(e);
}

Engine::Fetched Engine::Fetch(const std::string& url, const char* what) {
  const MonoTime t0 = config_.now();
  ::site::PageResult r = ::site::FetchPageChecked(*config_.transport, url, config_.requestDeadline);
  const std::int64_t rtt = MonoUs(config_.now()) - MonoUs(t0);
  Fetched f{r.failed, r.error, std::move(r.text)};
  std::string line = std::string(what) + " " + PathOf(url) + " 往返 " + Ms(rtt) + " ms";
  if (f.failed) line += " 失败：" + f.error;
  Log(line);
  return f;
}

void Engine::Run() {
  for (;;) {
    std::deque<std::function<void()>> commands;
    {
      std::lock_guard lk(mu_);
      if (stop_) return;
      commands.swap(commands_);
    }
    for (auto& c : commands) c();
    if (!commands.empty()) continue;

    MonoTime wake = MonoTime::max();
    const MonoTime now = config_.now();
    if (RunDueWork(now, wake)) continue;

    const auto left = wake == MonoTime::max() ? std::chrono::hours(24) : wake - now;
    std::unique_lock lk(mu_);
    if (stop_) return;
    if (!commands_.empty()) continue;
    if (left > kSpin) {
      cv_.wait_for(lk, left - kSpin / 2, [this] { return stop_ || !commands_.empty(); });
      continue;
    }
    lk.unlock();
    while (config_.now() < wake) {
      std::this_thread::yield();
      std::lock_guard peek(mu_);
      if (stop_ || !commands_.empty()) break;
    }
  }
}

bool Engine::RunDueWork(MonoTime now, MonoTime& wake) {
  // The most urgent bid: a closing snipe or the opening snipe.
  Row* bid = nullptr;
  MonoTime bidAt = MonoTime::max();
  for (auto& [key, row] : rows_) {
    if (row->phase != Row::Phase::Waiting) continue;
    const MonoTime at = MonoFromSite(row->plan.dueSiteMs);
    if (at < bidAt) {
      bidAt = at;
      bid = row.get();
    }
  }
  bool open = false;
  if (openUrl_ && openAt_ < bidAt) {
    bidAt = openAt_;
    open = true;
  }
  if (bidAt <= now) {
    if (open) {
      FireOpen();
    } else {
      FireBid(*bid);
    }
    return true;
  }

  // Work that may wait: clock reads first (a row is being armed), then
  // warm-ups and outcomes by their time.
  const auto budget = config_.requestDeadline + kGuard;
  MonoTime otherAt = MonoTime::max();
  std::function<void()> other;
  if (!sessions_.empty()) {
    otherAt = now;
    other = [this] { ClockStep(); };
  }
  for (auto& [key, row] : rows_) {
    Row* r = row.get();
    MonoTime at = MonoTime::max();
    std::function<void()> job;
    if (r->phase == Row::Phase::Waiting && r->plan.warmup && !r->warmupDone) {
      at = MonoFromSite(r->plan.warmupSiteMs);
      job = [this, r] { Warmup(*r); };
    } else if (r->phase == Row::Phase::AwaitOutcome) {
      at = std::max(MonoFromSite(r->plan.outcomeSiteMs), r->outcomeNotBefore);
      job = [this, r] { ReadOutcome(*r); };
    }
    if (job && at < otherAt) {
      otherAt = at;
      other = std::move(job);
    }
  }
  if (other && otherAt <= now && (bidAt == MonoTime::max() || now + budget <= bidAt)) {
    other();
    return true;
  }
  wake = bidAt;
  if (other && otherAt <= bidAt - budget) wake = std::min(wake, otherAt);
  return false;
}

void Engine::StartClockSession(std::optional<std::uint64_t> waiter) {
  // A session that has not sent its first read yet serves a new waiter too.
  if (sessions_.empty() || sessions_.back()->started) sessions_.push_back(std::make_unique<ClockSession>());
  if (waiter) sessions_.back()->waiters.push_back(*waiter);
}

void Engine::ClockStep() {
  ClockSession& s = *sessions_.front();
  s.started = true;
  ClockRead read;
  read.sentUs = MonoUs(config_.now());
  Fetched f = Fetch(config_.siteUrl + ::site::DetailPath(::site::kClockDealId), "时钟");
  read.receivedUs = MonoUs(config_.now());
  read.siteMs = f.failed ? 0 : site::ReadNowMil(f.text);
  read.ok = !f.failed && read.siteMs > 0;
  s.reads.push_back(read);
  if (static_cast<int>(s.reads.size()) >= config_.clockReads) FinishClockSession();
}

void Engine::FinishClockSession() {
  std::unique_ptr<ClockSession> s = std::move(sessions_.front());
  sessions_.pop_front();
  const ClockEstimate e = EstimateSiteClock(s->reads);
  if (e.ok) {
    offsetUs_ = e.offsetUs;
    haveEstimate_ = true;
    Log("站点时钟 " + std::to_string(*SiteNow()) + "（" + std::to_string(e.reads) + " 次读取一致，最短往返 " +
        Ms(e.rttUs) + " ms）");
  } else {
    std::string values;
    for (const ClockRead& r : s->reads) values += " " + (r.ok ? std::to_string(r.siteMs) : std::string("-"));
    Log("站点时钟读取不一致或失败：" + values);
  }
  for (std::uint64_t key : s->waiters) {
    auto it = rows_.find(key);
    if (it == rows_.end() || it->second->phase != Row::Phase::Arming) continue;
    Row& row = *it->second;
    if (e.ok) {
      ArmOnEstimate(row);
      continue;
    }
    row.phase = Row::Phase::Done;
    RowEvent ev;
    ev.key = row.key;
    ev.dealId = row.setup.dealId;
    ev.kind = RowEvent::Kind::NotArmed;
    ev.state = site::kStateNoSiteTime;
    ev.remain = -1;
    Emit(ev);
  }
}

void Engine::ArmOnEstimate(Row& row) {
  const std::int64_t now = *SiteNow();
  row.plan = PlanBid(row.setup.endTime, now, row.setup.prepTime);
  RowEvent ev;
  ev.key = row.key;
  ev.dealId = row.setup.dealId;
  if (!row.plan.armable) {
    // A closing time at or before the site's now is a misread (or an auction
    // already over): no bid at a meaningless time.
    Log("不布置 " + std::to_string(row.setup.dealId) + "：截止 " + std::to_string(row.setup.endTime) +
        " 不在站点时间 " + std::to_string(now) + " 之后");
    row.phase = Row::Phase::Done;
    ev.kind = RowEvent::Kind::NotArmed;
    ev.state = site::kStateNoSiteTime;
    ev.remain = -1;
    Emit(ev);
    return;
  }
  row.phase = Row::Phase::Waiting;
  ev.kind = RowEvent::Kind::Armed;
  ev.state = site::kStateWaiting;
  ev.remain = row.plan.remain;
  ev.closingInMs = row.plan.remain;
  ev.fireInMs = std::max<std::int64_t>(0, row.plan.dueSiteMs - now);
  ev.dueSiteMs = row.plan.dueSiteMs;
  Log("已布置 " + std::to_string(row.setup.dealId) + "：距截止 " + std::to_string(ev.closingInMs) + " ms，" +
      std::to_string(ev.fireInMs) + " ms 后出价" +
      (row.plan.warmup ? "，预热于 " + std::to_string(row.plan.warmupSiteMs - now) + " ms 后" : ""));
  Emit(ev);
}

void Engine::Warmup(Row& row) {
  row.warmupDone = true;
  // The bid-records read the bid makes anyway: it opens the connection and
  // never bids.
  Fetch(config_.siteUrl + ::site::BidRecordsPath(row.setup.dealId), "预热");
  StartClockSession(std::nullopt);
}

void Engine::FireBid(Row& row) {
  const bool itself = bidsItself_;
  RowEvent ev;
  ev.key = row.key;
  ev.dealId = row.setup.dealId;
  ev.kind = RowEvent::Kind::Bid;
  ev.remain = -1;
  Fetched records = Fetch(config_.siteUrl + ::site::BidRecordsPath(row.setup.dealId), "出价记录");
  if (records.failed) {
    // Without the current price there is no sound amount to bid.
    ev.networkError = true;
    ev.reason = records.error;
    ev.state = site::kStateNetworkError;
  } else {
    const std::int64_t current = site::ReadCurrentPrice(records.text);
    // No test against the ceiling: at or above it the bid still goes out, at
    // the ceiling.
    row.amount = site::BidAmount(current, row.setup.increment, row.setup.maxPrice);
    ev.price = row.amount;
    Log("当前价 " + std::to_string(current) + "，出价 " + std::to_string(row.amount));
    const std::string url = config_.siteUrl + ::site::BidPath(row.setup.dealId, row.amount);
    if (!itself) {
      ev.handOverUrl = url;
      ev.state = site::kStateHandedOver;
      Log("出价 " + std::to_string(row.setup.dealId) + " " + std::to_string(row.amount) + " 交给浏览器");
    } else {
      Fetched answer = Fetch(url, "出价");
      if (answer.failed) {
        ev.networkError = true;
        ev.reason = answer.error;
        ev.state = site::kStateNetworkError;
      } else {
        ev.success = site::IsBidSuccess(answer.text);
        ev.code = ev.success ? 0 : site::ReadResultCode(answer.text);
        ev.state = ev.success ? std::string(site::kStateBidPlaced)
                              : site::SnipeStateText(ev.code, current, row.setup.maxPrice, row.amount);
        Log("回答 " + std::to_string(row.setup.dealId) + "：" +
            platform::text::GbkToUtf8(answer.text.substr(0, kLoggedAnswer)));
      }
    }
  }
  row.taken = ev.success;
  Log("结果 " + std::to_string(row.setup.dealId) + "：" + ev.state);
  // Without IE mode nothing more is known; otherwise the outcome is read
  // after closing.
  row.phase = itself ? Row::Phase::AwaitOutcome : Row::Phase::Done;
  Emit(ev);
}

void Engine::ReadOutcome(Row& row) {
  Fetched records = Fetch(config_.siteUrl + ::site::BidRecordsPath(row.setup.dealId), "成交记录");
  RowEvent ev;
  ev.key = row.key;
  ev.dealId = row.setup.dealId;
  ev.kind = RowEvent::Kind::Result;
  ev.remain = -1;
  if (records.failed && ++row.outcomeTries < 2) {
    row.outcomeNotBefore = config_.now() + kOutcomeRetry;
    return;
  }
  row.phase = Row::Phase::Done;
  if (records.failed) {
    ev.outcome = Outcome::Failed;
    ev.networkError = true;
    ev.reason = records.error;
  } else {
    ev.finalPrice = site::ReadCurrentPrice(records.text);
    if (!row.taken) {
      ev.outcome = Outcome::Failed;
    } else if (ev.finalPrice == row.amount) {
      ev.outcome = Outcome::Won;
      ev.state = site::kStateWon;
    } else {
      ev.outcome = Outcome::Lost;
      ev.state = site::LostStateText(ev.finalPrice);
    }
  }
  ev.price = row.amount;
  Log("成交 " + std::to_string(row.setup.dealId) + "：" +
      (ev.state.empty() ? "成交价 " + std::to_string(ev.finalPrice) : ev.state));
  Emit(ev);
}

void Engine::FireOpen() {
  const std::string url = *openUrl_;
  openUrl_.reset();
  OpenEvent ev;
  if (bidsItself_) {
    Fetched answer = Fetch(url, "开卖出价");
    ev.status = !answer.failed && site::IsBidSuccess(answer.text) ? "抢拍成功" : "抢拍失败";
  } else {
    ev.handOverUrl = url;
    ev.status = "抢拍结束";
  }
  Log("开卖抢拍：" + ev.status);
  if (events_.open) events_.open(ev);
}

}  // namespace gavelhawk::snipe
