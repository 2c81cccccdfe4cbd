#include "gavelhawk/search/search_controller.h"

#include <chrono>

#include "platform/text/gbk.h"

namespace gavelhawk::search {

SearchController::SearchController(QObject* parent)
    : QObject(parent), clock_([] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
      }) {}

SearchController::~SearchController() { crawl_.reset(); }

void SearchController::Stop() {
  if (state_ != State::Running) return;
  state_ = State::Stopping;
  crawl_->Stop();
}

void SearchController::Stamp(int slot) {
  const auto i = static_cast<std::size_t>(slot);
  const std::optional<std::int64_t> seconds = ParseRemainText(hits_[i].strRemain);
  closesAt_[i] = seconds ? std::optional(clock_() + *seconds * 1000) : std::nullopt;
}

void SearchController::Store(int slot, const Hit& hit) {
  if (slot < 0 || slot >= kHitSlots) return;
  hits_[static_cast<std::size_t>(slot)] = hit;
  hitLast_ = slot;
  Stamp(slot);
  if (stored) stored(slot);
}

void SearchController::CountFromNow() {
  for (int i = 0; i <= hitLast_ && i < kHitSlots; ++i) Stamp(i);
}

std::string SearchController::RemainNow(int slot) const {
  if (slot < 0 || slot >= kHitSlots) return {};
  const auto i = static_cast<std::size_t>(slot);
  if (!closesAt_[i]) return hits_[i].strRemain;
  // Whole seconds left, rounded up: the page's own figure until a second has passed.
  const std::int64_t leftMs = *closesAt_[i] - clock_();
  if (leftMs <= 0) {
    static const std::string ended = platform::text::Utf8ToGbk("已结束");
    return ended;
  }
  return RemainText((leftMs + 999) / 1000);
}

void SearchController::Press(const KeywordFilter& keywords) {
  if (state_ != State::Idle) {
    Stop();
    return;
  }
  crawl_.reset();  // the last crawl has ended: this only joins its thread
  state_ = State::Running;
  hitLast_ = -1;
  const std::uint64_t run = ++run_;
  ParallelCrawlSetup setup;
  setup.siteUrl = siteUrl_;
  setup.newTransport = newTransport_;
  setup.categoryIndex = [live = live_] { return live->category.load(); };
  setup.maxDiscount = [live = live_] { return live->maxRatio.load(); };
  setup.store = [this, run](int slot, const Hit& hit) {
    QMetaObject::invokeMethod(
        this,
        [this, run, slot, hit] {
          if (run == run_) Store(slot, hit);
        },
        Qt::QueuedConnection);
  };
  crawl_ = std::make_unique<ParallelCrawl>(keywords, std::move(setup));
  crawl_->Start([this, run](const CrawlOutcome& out) {
    QMetaObject::invokeMethod(
        this,
        [this, run, out] {
          if (run != run_) return;
          state_ = State::Idle;
          if (finished_) finished_(out);
        },
        Qt::QueuedConnection);
  });
}

}  // namespace gavelhawk::search
