#include "gavelhawk/search/search_controller.h"

namespace gavelhawk::search {

SearchController::~SearchController() { crawl_.reset(); }

void SearchController::Stop() {
  if (state_ != State::Running) return;
  state_ = State::Stopping;
  crawl_->Stop();
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
          if (run != run_ || slot < 0 || slot >= kHitSlots) return;
          hits_[static_cast<std::size_t>(slot)] = hit;
          hitLast_ = slot;
          if (cb_.hit) cb_.hit(slot);
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
          if (cb_.finished) cb_.finished(out);
        },
        Qt::QueuedConnection);
  });
}

}  // namespace gavelhawk::search
