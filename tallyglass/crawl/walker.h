#pragma once
// The history walk with several auction ids in flight. Workers read ids
// ahead, each on its own connection; the results are handed on strictly in
// id order, so the stop rules, the rows and endID.dat are those of a walk
// that reads one id at a time. WalkSession commits them in batches on the
// thread that owns the database connection.
#include <QString>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/http/http.h"
#include "tallyglass/crawl/walk.h"
#include "tallyglass/db/history_db.h"

namespace tallyglass::crawl {

using TransportFactory = std::function<std::unique_ptr<platform::http::Transport>()>;

// Ids in flight when TALLYGLASS_IN_FLIGHT does not say.
inline constexpr int kDefaultInFlight = 8;
inline constexpr int kMaxInFlight = 64;

struct WalkOptions {
  std::string siteUrl;  // scheme and host, no trailing slash
  int inFlight = kDefaultInFlight;
  int retries = 3;
  std::chrono::milliseconds backoff{250};
};

struct WalkStep {
  std::int32_t id = 0;
  AuctionOutcome outcome;
};

// The readers. Today is read from the home page first; a home page that
// cannot be fetched ends the walk with a Failed step for the first id.
class Walker {
 public:
  Walker(TransportFactory factory, WalkOptions options, std::int32_t lastId);
  ~Walker();
  Walker(const Walker&) = delete;
  Walker& operator=(const Walker&) = delete;

  void Start();
  // Any thread. Requests under way are cancelled; what was not handed on
  // yet is dropped.
  void Stop();
  // The steps read since the last call, in id order without gaps. The walk
  // ends with a step of kind EndOfWalk or Failed, after which none follow.
  std::vector<WalkStep> Take();
  // The step of `id` was dealt with: the readers may go further.
  void Handled(std::int32_t id);
  // Nothing more will come.
  bool Finished() const;
  // Called on a reader's thread when steps are ready to take or the walk
  // finished. Set before Start().
  std::function<void()> onReady;
  // Waits until a step can be taken or the walk finished.
  void WaitForSteps(std::chrono::milliseconds timeout);
  std::int32_t today() const;

 private:
  void Work(int index);
  bool Backoff(std::chrono::milliseconds pause);
  void EndLocked();

  TransportFactory factory_;
  WalkOptions options_;
  mutable std::mutex mu_;
  std::condition_variable cv_;
  std::vector<std::thread> threads_;
  std::vector<platform::http::Transport*> transports_;  // live ones, for Stop
  bool todayKnown_ = false;
  std::int32_t today_ = 0;
  std::int64_t next_ = 0;      // the next id to hand to a worker
  std::int64_t frontier_ = 0;  // the next id to hand on in order
  std::int64_t taken_ = 0;     // the first id not yet dealt with by the taker
  std::map<std::int64_t, AuctionOutcome> done_;
  std::vector<WalkStep> ready_;
  bool stopping_ = false;
  bool ended_ = false;  // the end step was handed on
  int running_ = 0;
};

// Batch limits of the commits: whichever comes first.
struct BatchLimits {
  std::size_t rows = 200;
  std::chrono::milliseconds time{1000};
};

// One walk from `lastId` + 1 into `db`, with endID.dat in `folder` written
// after each commit, so that it never names an id whose row is not
// committed. Pump() runs on the database connection's thread.
class WalkSession {
 public:
  WalkSession(db::HistoryDb* db, QString folder, TransportFactory factory, WalkOptions options,
              std::int32_t lastId, BatchLimits limits = {});
  ~WalkSession();

  void Start();
  // The user's stop: the ids read in order so far are stored, the rest
  // dropped (they are read again by the next walk).
  void Stop();
  // Handles the steps read since the last call and commits when a batch is
  // due. True once the walk is over and everything is committed.
  bool Pump();
  // Pumps until the walk is over (tests, benchmarks).
  void RunToEnd();
  // Called on a reader's thread when Pump() has something to do. Set before
  // Start().
  void SetOnReady(std::function<void()> f) { walker_.onReady = std::move(f); }

  // Called for every id handled in order (not for a failed one); may call
  // Stop(), which drops the ids after it.
  std::function<void(std::int32_t id, AuctionOutcome::Kind kind)> onStep;

  enum class Result { Running, Completed, NetworkError, DatabaseError };
  Result result() const { return result_; }
  QString error() const { return error_; }
  std::int32_t lastAppended() const { return lastAppended_; }
  // Whether endID.dat was written after the last commit.
  bool resumeFileWritten() const { return resumeWritten_; }

  std::int64_t walked() const { return walked_; }
  std::int64_t stored() const { return stored_; }
  std::int64_t implausible() const { return implausible_; }
  std::int32_t currentId() const { return currentId_; }
  double IdsPerSecond() const;

 private:
  bool Commit();

  db::HistoryDb* db_;
  QString folder_;
  BatchLimits limits_;
  Walker walker_;
  std::vector<db::HistoryRecord> pending_;
  std::chrono::steady_clock::time_point started_, lastCommit_;
  bool stopRequested_ = false;
  bool pumping_ = false, dropRest_ = false;
  bool over_ = false;
  Result result_ = Result::Running;
  QString error_;
  std::int32_t lastAppended_;
  bool resumeWritten_ = true;
  std::int64_t walked_ = 0, stored_ = 0, implausible_ = 0;
  std::int32_t currentId_;
};

}  // namespace tallyglass::crawl
