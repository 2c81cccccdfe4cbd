#pragma once
// The search behind 刷新商品: one listing crawl at a time on threads of its
// own, the 48 hit slots it fills with the countdown of their remaining
// times, and what the window changes while it runs (the category, the
// discount limit). Lives on the window's thread: every
// callback runs there, queued from the crawl's threads.
#include <QObject>
#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "gavelhawk/search/parallel_crawl.h"
#include "platform/http/http.h"

namespace gavelhawk::search {

class SearchController : public QObject {
 public:
  enum class State { Idle, Running, Stopping };
  using Finished = std::function<void(const CrawlOutcome&)>;
  using Clock = std::function<std::int64_t()>;  // ms

  using NewTransport = std::function<std::unique_ptr<platform::http::Transport>()>;
  explicit SearchController(QObject* parent = nullptr);
  // Stops the crawl and waits for its threads; no callback runs afterwards.
  ~SearchController() override;

  // The site the next crawl reads; each of its lanes takes a transport from
  // `newTransport` (empty: a plain site transport).
  void SetSite(std::string siteUrl, NewTransport newTransport) {
    siteUrl_ = std::move(siteUrl);
    newTransport_ = std::move(newTransport);
  }
  // Told once the crawl started next is over, stopped or not.
  void SetFinished(Finished finished) { finished_ = std::move(finished); }
  // Told the slot each new hit was stored in, right after it is (the
  // results list follows it).
  std::function<void(int slot)> stored;
  // The clock the hits' remaining times count down on; the monotonic clock
  // unless set.
  void SetClock(Clock nowMs) { clock_ = std::move(nowMs); }
  // Followed by the running crawl: the category from the next page on, the
  // limit ("atof" of the combo's text) at the next decision.
  void SetCategory(int index) { live_->category = index; }
  void SetMaxDiscount(std::string_view text) { live_->maxRatio = ParseRatio(text); }

  // Idle: starts a crawl over fresh slots with the upper-cased words. Running:
  // asks it to stop (a second press). Stopping: nothing.
  void Press(const KeywordFilter& keywords);
  void Stop();

  State state() const { return state_; }
  bool Running() const { return state_ != State::Idle; }
  // The slots; 0..HitLast() hold the last crawl's hits. A crawl that found
  // nothing leaves the slots of the one before it.
  const std::array<Hit, kHitSlots>& Hits() const { return hits_; }
  std::array<Hit, kHitSlots>& Hits() { return hits_; }
  int& HitLast() { return hitLast_; }
  int HitLast() const { return hitLast_; }
  // Takes `hit` into `slot`, as a crawl's report does: the last slot is
  // `slot` now, and the hit's remaining time counts down from this moment.
  void Store(int slot, const Hit& hit);
  // Slots 0..HitLast() count their remaining times down from now.
  void CountFromNow();
  // The remaining time of the hit in `slot` as of now (GBK): the page's text
  // counted down on the clock, "已结束" once it is over; the page's text as
  // it stands when it gives no time.
  std::string RemainNow(int slot) const;

 private:
  struct Live {
    std::atomic<int> category{0};
    std::atomic<double> maxRatio{0};
  };
  void Stamp(int slot);
  std::string siteUrl_;
  NewTransport newTransport_;
  std::shared_ptr<Live> live_ = std::make_shared<Live>();
  Finished finished_;
  Clock clock_;
  State state_ = State::Idle;
  std::uint64_t run_ = 0;  // the crawl whose reports are taken; older ones are dropped
  std::array<Hit, kHitSlots> hits_{};
  // When each slot's deal closes on clock_; none when its text gives no time.
  std::array<std::optional<std::int64_t>, kHitSlots> closesAt_{};
  int hitLast_ = -1;
  std::unique_ptr<ParallelCrawl> crawl_;
};

}  // namespace gavelhawk::search
