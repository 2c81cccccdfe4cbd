#include "tallyglass/crawl/walker.h"

#include <algorithm>
#include <limits>

#include "tallyglass/crawl/resume.h"

namespace tallyglass::crawl {

namespace {

constexpr std::int64_t kLastId = std::numeric_limits<std::int32_t>::max();

}  // namespace

Walker::Walker(TransportFactory factory, WalkOptions options, std::int32_t lastId)
    : factory_(std::move(factory)),
      options_(std::move(options)),
      next_(std::int64_t{lastId} + 1),
      frontier_(std::int64_t{lastId} + 1),
      taken_(std::int64_t{lastId} + 1) {
  options_.inFlight = std::clamp(options_.inFlight, 1, kMaxInFlight);
}

Walker::~Walker() {
  Stop();
  for (std::thread& t : threads_) t.join();
}

void Walker::Start() {
  std::lock_guard lock(mu_);
  if (!threads_.empty()) return;
  running_ = options_.inFlight;
  for (int i = 0; i < options_.inFlight; ++i) threads_.emplace_back([this, i] { Work(i); });
}

void Walker::Stop() {
  std::lock_guard lock(mu_);
  stopping_ = true;
  for (platform::http::Transport* t : transports_) t->Cancel(true);
  cv_.notify_all();
}

std::vector<WalkStep> Walker::Take() {
  std::lock_guard lock(mu_);
  std::vector<WalkStep> out;
  out.swap(ready_);
  return out;
}

void Walker::Handled(std::int32_t id) {
  std::lock_guard lock(mu_);
  taken_ = std::max(taken_, std::int64_t{id} + 1);
  cv_.notify_all();
}

bool Walker::Finished() const {
  std::lock_guard lock(mu_);
  return ready_.empty() && (ended_ || stopping_ || running_ == 0);
}

void Walker::WaitForSteps(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mu_);
  cv_.wait_for(lock, timeout, [this] { return !ready_.empty() || ended_ || stopping_ || running_ == 0; });
}

std::int32_t Walker::today() const {
  std::lock_guard lock(mu_);
  return today_;
}

bool Walker::Backoff(std::chrono::milliseconds pause) {
  std::unique_lock lock(mu_);
  return !cv_.wait_for(lock, pause, [this] { return stopping_ || ended_; });
}

void Walker::EndLocked() {
  ended_ = true;
  // The ids past the end are of no use now.
  for (platform::http::Transport* t : transports_) t->Cancel(true);
  cv_.notify_all();
}

void Walker::Work(int index) {
  std::unique_ptr<platform::http::Transport> transport = factory_ ? factory_() : nullptr;
  {
    std::lock_guard lock(mu_);
    if (transport) {
      transports_.push_back(transport.get());
      if (stopping_ || ended_) transport->Cancel(true);
    } else if (!ended_ && !stopping_) {
      // Without a connection there is no walk: say so as a failed first id.
      ready_.push_back({static_cast<std::int32_t>(frontier_), {AuctionOutcome::Failed, {}, "no connection"}});
      EndLocked();
    }
  }
  CrawlContext context;
  context.transport = transport.get();
  context.siteUrl = options_.siteUrl;
  context.retries = options_.retries;
  context.backoff = options_.backoff;
  context.wait = [this](std::chrono::milliseconds pause) { return Backoff(pause); };

  if (transport && index == 0) {
    TodayRead t = FetchTodayChecked(context);
    std::lock_guard lock(mu_);
    if (t.fetch.failed && !t.fetch.cancelled && !stopping_) {
      ready_.push_back({static_cast<std::int32_t>(frontier_), {AuctionOutcome::Failed, {}, t.fetch.error}});
      EndLocked();
    }
    today_ = t.today;
    todayKnown_ = true;
    cv_.notify_all();
  }

  while (transport) {
    std::int64_t id = 0;
    {
      std::unique_lock lock(mu_);
      // Read ahead of what was handled, but not without bound: a slow id
      // must not let the others pile up results, and past the end of the
      // walk every id read ahead is a request for nothing. One in flight is
      // the walk of old: the next id only once the last one was handled.
      const std::int64_t window = options_.inFlight == 1 ? 1 : 2 * std::int64_t{options_.inFlight};
      cv_.wait(lock, [&] { return stopping_ || ended_ || (todayKnown_ && next_ < taken_ + window); });
      if (stopping_ || ended_ || next_ > kLastId) break;
      id = next_++;
      context.today = today_;
    }
    AuctionOutcome o = CrawlAuction(context, static_cast<std::int32_t>(id));
    std::unique_lock lock(mu_);
    if (stopping_ || ended_) break;
    done_.emplace(id, std::move(o));
    const std::size_t before = ready_.size();
    for (auto it = done_.find(frontier_); it != done_.end(); it = done_.find(frontier_)) {
      const AuctionOutcome::Kind kind = it->second.kind;
      ready_.push_back({static_cast<std::int32_t>(frontier_), std::move(it->second)});
      done_.erase(it);
      ++frontier_;
      if (kind == AuctionOutcome::EndOfWalk || kind == AuctionOutcome::Failed) {
        done_.clear();
        EndLocked();
        break;
      }
    }
    cv_.notify_all();
    const bool news = ready_.size() != before;
    lock.unlock();
    if (news && onReady) onReady();
  }

  {
    std::lock_guard lock(mu_);
    std::erase(transports_, transport.get());
    --running_;
    cv_.notify_all();
  }
  if (onReady) onReady();
}

WalkSession::WalkSession(db::HistoryDb* db, QString folder, TransportFactory factory, WalkOptions options,
                         std::int32_t lastId, BatchLimits limits)
    : db_(db),
      folder_(std::move(folder)),
      limits_(limits),
      walker_(std::move(factory), std::move(options), lastId),
      lastAppended_(lastId),
      currentId_(lastId) {}

WalkSession::~WalkSession() = default;

void WalkSession::Start() {
  started_ = lastCommit_ = std::chrono::steady_clock::now();
  walker_.Start();
}

void WalkSession::Stop() {
  stopRequested_ = true;
  // Asked while an id is being handled: the ones after it are not. Asked
  // from outside, the ids already read in order are still stored.
  if (pumping_) dropRest_ = true;
  walker_.Stop();
}

double WalkSession::IdsPerSecond() const {
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
  return s > 0 ? walked_ / s : 0.0;
}

bool WalkSession::Commit() {
  lastCommit_ = std::chrono::steady_clock::now();
  if (pending_.empty()) return true;
  std::size_t saved = 0;
  QString error;
  const bool ok = db::AppendBatch(db_, pending_, &saved, &error);
  if (saved > 0) {
    lastAppended_ = pending_[saved - 1].nProductId;
    stored_ += static_cast<std::int64_t>(saved);
    // Only now may endID.dat name them. A failure is retried at the next
    // commit and reported at the end.
    resumeWritten_ = WriteResumeId(folder_, lastAppended_) == SaveResult::Saved;
  }
  pending_.clear();
  if (!ok) {
    result_ = Result::DatabaseError;
    error_ = error;
  }
  return ok;
}

bool WalkSession::Pump() {
  if (over_) return true;
  bool end = false;
  pumping_ = true;
  for (WalkStep& step : walker_.Take()) {
    if (dropRest_) break;
    const AuctionOutcome::Kind kind = step.outcome.kind;
    if (kind == AuctionOutcome::Failed) {
      result_ = Result::NetworkError;
      error_ = QString::fromStdString(step.outcome.error);
      end = true;
      break;
    }
    ++walked_;
    currentId_ = step.id;
    if (kind == AuctionOutcome::Sold) pending_.push_back(std::move(step.outcome.record));
    if (kind == AuctionOutcome::Implausible) ++implausible_;
    if (onStep) onStep(step.id, kind);
    walker_.Handled(step.id);
    if (pending_.size() >= limits_.rows && !Commit()) {
      end = true;
      break;
    }
    if (kind == AuctionOutcome::EndOfWalk) {
      end = true;
      break;
    }
  }
  pumping_ = false;
  if (!pending_.empty() && std::chrono::steady_clock::now() - lastCommit_ >= limits_.time && !Commit())
    end = true;
  if (end || stopRequested_ || walker_.Finished()) {
    // A database error drops the rest; the network's and the user's stop
    // keep what was read before it.
    if (result_ != Result::DatabaseError) Commit();
    walker_.Stop();
    if (result_ == Result::Running) result_ = Result::Completed;
    over_ = true;
  }
  return over_;
}

void WalkSession::RunToEnd() {
  while (!Pump()) walker_.WaitForSteps(std::chrono::milliseconds(50));
}

}  // namespace tallyglass::crawl
