#include "gavelhawk/search/parallel_crawl.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <deque>
#include <map>

#include "gavelhawk/site/detail.h"
#include "platform/text/gbk.h"
#include "site/fetch.h"
#include "site/paths.h"

namespace gavelhawk::search {

namespace {

constexpr int kPages = (kLastCorrection - kFirstCorrection) / kCorrectionStep + 1;  // 30

enum class Kind { Listing, Detail, Records };
enum class Ask { Idle, Asked, Have };

struct Job {
  std::uint64_t ticket = 0;
  std::string url;
  std::chrono::milliseconds deadline{0};
};

struct Answer {
  std::uint64_t ticket = 0;
  ::site::PageResult result;
};

struct Candidate {
  std::int32_t id = 0;
  std::string title;
  std::string remain;
  Ask detail = Ask::Idle;
  Ask records = Ask::Idle;
  std::uint64_t detailTicket = 0;
  std::uint64_t recordsTicket = 0;
  bool conditionOk = false;
  std::string condition;
  std::int32_t listPrice = 0;
  std::int32_t current = 0;
  bool decided = false;
  bool stored = false;

  // Known not to take a slot.
  bool Miss() const { return (detail == Ask::Have && !conditionOk) || (decided && !stored); }
};

struct Page {
  Ask ask = Ask::Idle;
  int code = 0;
  std::uint64_t ticket = 0;
  bool badClock = false;
  bool failed = false;
  std::string error;
  std::vector<Candidate> deals;
};

struct Issued {
  Kind kind = Kind::Listing;
  int page = 0;
  std::size_t cand = 0;
  bool confirmed = false;  // the one-at-a-time crawl makes it too
  bool dropped = false;    // its page was asked for again under another category
};

}  // namespace

// What the crawl's thread and its lanes share.
struct detail::CrawlState {
  std::mutex mu;
  std::condition_variable jobsCv;
  std::condition_variable answersCv;
  std::deque<Job> jobs;
  std::deque<Answer> answers;
  bool quit = false;
  std::atomic<bool> stop{false};
  std::vector<platform::http::Transport*> transports;

  void CancelAll() {
    std::lock_guard lk(mu);
    for (platform::http::Transport* t : transports) t->Cancel(true);
  }
};

namespace {

using detail::CrawlState;

// One lane: its own transport, one request at a time from the queue.
void Lane(std::shared_ptr<CrawlState> st, std::function<std::unique_ptr<platform::http::Transport>()> make) {
  std::unique_ptr<platform::http::Transport> t;
  if (make) t = make();
  if (!t) t = std::make_unique<platform::http::CurlTransport>(::site::SiteHttpOptions());
  {
    std::lock_guard lk(st->mu);
    st->transports.push_back(t.get());
    if (st->quit || st->stop) t->Cancel(true);
  }
  for (;;) {
    Job job;
    {
      std::unique_lock lk(st->mu);
      st->jobsCv.wait(lk, [&] { return st->quit || !st->jobs.empty(); });
      if (st->quit) break;
      job = std::move(st->jobs.front());
      st->jobs.pop_front();
    }
    Answer a{job.ticket, ::site::FetchPageChecked(*t, job.url, job.deadline)};
    {
      std::lock_guard lk(st->mu);
      st->answers.push_back(std::move(a));
    }
    st->answersCv.notify_one();
  }
  std::lock_guard lk(st->mu);
  st->transports.erase(std::find(st->transports.begin(), st->transports.end(), t.get()));
}

// The crawl's decisions, taken on one thread in listing order.
class Crawler {
 public:
  Crawler(const KeywordFilter& keywords, const ParallelCrawlSetup& setup, CrawlState& st, int lanes)
      : keywords_(keywords), setup_(setup), st_(st), lanes_(lanes) {}

  CrawlOutcome Run() {
    for (;;) {
      Advance();
      if (finished_) break;
      if (st_.stop) {
        out_.end = CrawlEnd::Stopped;
        break;
      }
      Issue();
      if (inFlight_ == 0) break;  // nothing left to wait for (cannot happen)
      std::deque<Answer> got;
      {
        std::unique_lock lk(st_.mu);
        st_.answersCv.wait(lk, [&] { return st_.stop || !st_.answers.empty(); });
        if (st_.stop) {
          out_.end = CrawlEnd::Stopped;
          break;
        }
        got.swap(st_.answers);
      }
      for (Answer& a : got) {
        --inFlight_;
        Apply(a);
      }
    }
    return out_;
  }

 private:
  int Code() const { return CategoryCode(setup_.categoryIndex ? setup_.categoryIndex() : 0); }

  void Finish(CrawlEnd end) {
    out_.end = end;
    finished_ = true;
  }

  std::uint64_t Request(Kind kind, int page, std::size_t cand, const std::string& path,
                        std::chrono::milliseconds deadline, bool needed) {
    const std::uint64_t ticket = nextTicket_++;
    issued_[ticket] = Issued{kind, page, cand, needed, false};
    ++inFlight_;
    ++out_.requests;
    {
      std::lock_guard lk(st_.mu);
      st_.jobs.push_back(Job{ticket, setup_.siteUrl + path, deadline});
    }
    st_.jobsCv.notify_one();
    return ticket;
  }

  // A page asked for under a category that is no longer selected: its
  // answer and everything asked for its deals are thrown away.
  void Drop(int p) {
    Page& pg = pages_[p];
    auto drop = [&](std::uint64_t t) {
      if (t) issued_[t].dropped = true;
    };
    drop(pg.ticket);
    for (Candidate& c : pg.deals) {
      drop(c.detailTicket);
      drop(c.recordsTicket);
    }
    pg = Page{};
  }

  void Apply(Answer& a) {
    auto it = issued_.find(a.ticket);
    if (it == issued_.end() || it->second.dropped) return;
    const Issued& is = it->second;
    Page& pg = pages_[is.page];
    switch (is.kind) {
      case Kind::Listing:
        pg.ask = Ask::Have;
        pg.failed = a.result.failed;
        pg.error = a.result.error;
        Parse(is.page, a.result.text);
        break;
      case Kind::Detail: {
        Candidate& c = pg.deals[is.cand];
        const SearchDetail d = ReadSearchDetail(a.result.text);
        c.detail = Ask::Have;
        c.listPrice = d.listPrice;
        c.condition.assign(d.condition);
        c.conditionOk = ConditionAccepted(d.condition);
        break;
      }
      case Kind::Records: {
        Candidate& c = pg.deals[is.cand];
        c.records = Ask::Have;
        c.current = ReadCurrentPrice(a.result.text);
        break;
      }
    }
  }

  // The free filters of one listing page, as Crawl() applies them.
  void Parse(int p, const std::string& text) {
    Page& pg = pages_[p];
    ListingPage listing(text);
    const std::int64_t now = listing.ReadClock();
    if (now < 0 || now > 99999) {
      pg.badClock = true;
      return;
    }
    const int correction = kFirstCorrection + (p - 1) * kCorrectionStep;
    for (int pass = 0; pass < kDealsPerPage; ++pass) {
      std::int32_t closing = 0;
      if (!listing.NextDeal(closing)) break;
      const std::int64_t remaining = RemainingSeconds(closing, now, correction);
      if (remaining < kMinRemaining) continue;
      if (remaining > kMaxRemaining) break;
      Candidate c;
      c.remain = RemainText(remaining);
      c.id = listing.ReadDealId();
      const std::string_view title = listing.ReadTitle();
      if (!keywords_.Passes(platform::text::GbkUpperAsciiCopy(title))) continue;
      c.title.assign(title);
      pg.deals.push_back(std::move(c));
    }
  }

  // Takes every decision whose reads are in, in listing order.
  void Advance() {
    if (st_.stop) return;
    while (!finished_) {
      if (curPage_ > kPages) return Finish(CrawlEnd::AllPages);
      Page& pg = pages_[curPage_];
      if (!entered_) {
        // The category is the one selected when the crawl reaches the page.
        const int code = Code();
        if (pg.ask != Ask::Idle && pg.code != code) Drop(curPage_);
        if (pg.ask != Ask::Have) return;
        ++out_.pages;
        if (pg.failed) {
          ++out_.failedPages;
          out_.pageError = pg.error;
        }
        if (pg.badClock) return Finish(CrawlEnd::BadClock);
        entered_ = true;
        curCand_ = 0;
      }
      while (curCand_ < pg.deals.size()) {
        Candidate& c = pg.deals[curCand_];
        if (c.detail != Ask::Have) return;
        if (c.conditionOk) {
          if (c.records != Ask::Have) return;
          const double maxRatio = setup_.maxDiscount ? setup_.maxDiscount() : 0.0;
          if (PassesDiscount(maxRatio, c.current, c.listPrice)) {
            Hit hit;
            hit.nDealId = c.id;
            hit.strTitle = c.title;
            hit.strStatus = c.condition;
            hit.strRemain = c.remain;
            hit.fDiscount = DiscountOf(c.current, c.listPrice);
            hit.nCurPrice = c.current;
            hit.nListPrice = c.listPrice;
            ++out_.hitLast;
            c.stored = true;
            if (setup_.store) setup_.store(out_.hitLast, hit);
          }
        }
        c.decided = true;
        ++curCand_;
        if (out_.hitLast + 1 >= kHitSlots) return Finish(CrawlEnd::TableFull);
      }
      ++curPage_;
      entered_ = false;
    }
  }

  // Asks for what comes next in listing order, as far as free lanes allow.
  // A request the one-at-a-time crawl is sure to make is always asked for;
  // one it might not make (a page behind one not yet read, a deal that may
  // come after the 48th hit) only while fewer than kMaxExtraRequests such
  // have been made, so that never more than that are made in vain.
  void Issue() {
    if (st_.stop) return;
    int unsure = 0;
    int possible = 0;       // hits there can be before the point looked at
    bool reachable = true;  // every page before it is read, its clock good
    const int code = Code();
    auto confirm = [&](std::uint64_t t, bool needed) {
      if (!t) return;
      Issued& is = issued_[t];
      if (needed) is.confirmed = true;
    };
    // First bring what is known up to date, then count the unsure ones.
    for (int p = 1; p <= kPages; ++p) {
      Page& pg = pages_[p];
      const bool pageNeeded = reachable && possible < kHitSlots;
      confirm(pg.ticket, pageNeeded);
      if (pg.ask != Ask::Have || pg.badClock) {
        reachable = false;
        continue;
      }
      for (Candidate& c : pg.deals) {
        const bool needed = pageNeeded && possible < kHitSlots;
        confirm(c.detailTicket, needed);
        confirm(c.recordsTicket, needed);
        if (!c.Miss()) ++possible;
      }
    }
    for (const auto& [t, is] : issued_)
      if (!is.confirmed) ++unsure;

    auto may = [&](bool needed) {
      if (inFlight_ >= lanes_) return false;
      if (needed) return true;
      if (unsure >= kMaxExtraRequests) return false;
      ++unsure;
      return true;
    };
    possible = 0;
    reachable = true;
    for (int p = 1; p <= kPages && inFlight_ < lanes_; ++p) {
      Page& pg = pages_[p];
      const bool pageNeeded = reachable && possible < kHitSlots;
      if (pg.ask == Ask::Idle) {
        if (may(pageNeeded)) {
          pg.ask = Ask::Asked;
          pg.code = code;
          pg.ticket =
              Request(Kind::Listing, p, 0, ::site::ListingPath(code, p), ::site::PageDeadline(), pageNeeded);
        }
        reachable = false;
        continue;
      }
      if (pg.ask == Ask::Asked) {
        reachable = false;
        continue;
      }
      if (pg.badClock) break;  // the crawl ends there
      for (std::size_t k = 0; k < pg.deals.size(); ++k) {
        Candidate& c = pg.deals[k];
        const bool needed = pageNeeded && possible < kHitSlots;
        if (c.detail == Ask::Idle) {
          if (may(needed)) {
            c.detail = Ask::Asked;
            c.detailTicket =
                Request(Kind::Detail, p, k, ::site::DetailPath(c.id), ::site::PageDeadline(), needed);
          }
        } else if (c.detail == Ask::Have && c.conditionOk && c.records == Ask::Idle) {
          if (may(needed)) {
            c.records = Ask::Asked;
            c.recordsTicket =
                Request(Kind::Records, p, k, ::site::BidRecordsPath(c.id), ::site::RequestDeadline(), needed);
          }
        }
        if (!c.Miss()) ++possible;
      }
    }
  }

  const KeywordFilter& keywords_;
  const ParallelCrawlSetup& setup_;
  CrawlState& st_;
  const int lanes_;
  std::array<Page, kPages + 1> pages_{};  // 1..30
  std::map<std::uint64_t, Issued> issued_;
  std::uint64_t nextTicket_ = 1;
  int inFlight_ = 0;
  int curPage_ = 1;
  bool entered_ = false;
  std::size_t curCand_ = 0;
  bool finished_ = false;
  CrawlOutcome out_;
};

}  // namespace

ParallelCrawl::ParallelCrawl(KeywordFilter keywords, ParallelCrawlSetup setup)
    : keywords_(std::move(keywords)), setup_(std::move(setup)), state_(std::make_shared<CrawlState>()) {}

ParallelCrawl::~ParallelCrawl() {
  Stop();
  if (runner_.joinable()) runner_.join();
}

CrawlOutcome ParallelCrawl::Run() {
  const int lanes = std::clamp(setup_.inFlight, 1, 32);
  std::vector<std::thread> threads;
  for (int i = 0; i < lanes; ++i) threads.emplace_back(Lane, state_, setup_.newTransport);
  CrawlOutcome out = Crawler(keywords_, setup_, *state_, lanes).Run();
  {
    std::lock_guard lk(state_->mu);
    state_->quit = true;
  }
  state_->jobsCv.notify_all();
  // Requests still under way are of no use any more.
  state_->CancelAll();
  for (std::thread& t : threads) t.join();
  return out;
}

void ParallelCrawl::Start(std::function<void(const CrawlOutcome&)> done) {
  runner_ = std::thread([this, done = std::move(done)] {
    const CrawlOutcome out = Run();
    if (done) done(out);
  });
}

void ParallelCrawl::Stop() {
  {
    std::lock_guard lk(state_->mu);
    state_->stop = true;
  }
  state_->answersCv.notify_all();
  state_->CancelAll();
}

}  // namespace gavelhawk::search
