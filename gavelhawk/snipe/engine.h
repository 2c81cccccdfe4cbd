#pragma once
// The snipe engine: owns the closing snipes' timing, reads, bids, states and
// outcomes, and the opening snipe's bid. The site clock is read on the
// engine's thread; each armed row and the opening snipe wait, read and bid
// on a thread and a warm connection of their own, so bids due together
// leave together. Nothing here waits on the window: commands come in from
// any thread; events go out from the engine's threads, one at a time (the
// window forwards them to its own thread).
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "gavelhawk/snipe/plan.h"
#include "gavelhawk/snipe/snipe_list.h"
#include "platform/http/http.h"

namespace gavelhawk::snipe {

using MonoClock = std::chrono::steady_clock;
using MonoTime = MonoClock::time_point;

// Every wait of the engine goes through this, so that tests can drive time.
class EngineClock {
 public:
  virtual ~EngineClock() = default;
  virtual MonoTime Now() = 0;
  // With `lk` held on entry and on return: waits until `until` or until
  // `wake()` holds. `cv` is notified (under lk's mutex) whenever wake() may
  // have turned true.
  virtual void WaitUntil(std::unique_lock<std::mutex>& lk, std::condition_variable& cv, MonoTime until,
                         const std::function<bool()>& wake) = 0;
};

// The steady clock; the last stretch of a wait is spun out, since a
// condition variable may wake a little late.
std::shared_ptr<EngineClock> SteadyEngineClock();

struct EngineConfig {
  std::string siteUrl;  // scheme and host, no trailing slash
  // The site clock's reads.
  std::unique_ptr<platform::http::Transport> transport;
  // A connection of its own for each armed row and the opening snipe; when
  // unset they share `transport` one request at a time.
  std::function<std::unique_ptr<platform::http::Transport>()> newTransport;
  std::shared_ptr<EngineClock> clock;               // SteadyEngineClock() when unset
  std::chrono::milliseconds requestDeadline{3000};  // clock, records, bid
  int clockReads = 3;                               // reads per clock estimate
};

// A row as the user set it up, plus its closing time read from the site: the
// list's own row (the engine reads its values and ignores the rest).
using RowSpec = SnipeItem;

// The state texts of a row skipped for its group (UTF-8).
inline constexpr const char* kStateGroupWon = "同组已得标";
inline constexpr const char* kStateGroupPending = "同组待定，未出价";
// RowEvent::skipReason of such a row.
inline constexpr const char* kSkipGroupWon = "group_won";
inline constexpr const char* kSkipGroupPending = "group_pending";

enum class Outcome { None, Won, Lost, Failed };

struct RowEvent {
  enum class Kind {
    Armed,     // waits for its bid: closingInMs, fireInMs, remain
    NotArmed,  // the site's time could not be read: state says so
    Bid,       // the bid went out (or was handed to the browser, or failed)
    Result,    // the outcome after closing
    Price,     // a records read refreshed currentPrice (warm-up)
    Skipped,   // no bid at its due moment, for its group: state, skipReason
  };
  std::uint64_t key = 0;
  std::int32_t dealId = 0;
  Kind kind = Kind::Armed;
  std::string state;        // UTF-8 state text of the row
  std::int64_t remain = 0;  // closing - site now when armed; -1 after the bid
  std::int64_t closingInMs = 0;
  std::int64_t fireInMs = 0;
  std::int64_t dueSiteMs = 0;  // Armed: when the bid is due, by the site's clock
  std::int64_t price = 0;      // the amount bid
  bool success = false;        // the site took the bid
  std::int32_t code = 0;       // the site's code of a refused bid
  bool networkError = false;   // a request failed (refused, time-out, HTTP >= 400)
  std::string reason;          // why, for networkError
  std::string handOverUrl;     // without IE mode: the bid address for the browser
  Outcome outcome = Outcome::None;
  std::int64_t finalPrice = 0;
  std::int64_t currentPrice = 0;  // the current price last read from the records, 0 when unknown
  std::string skipReason;         // Skipped: kSkipGroupWon or kSkipGroupPending
};

struct OpenEvent {
  std::string status;       // "抢拍成功", "抢拍失败" or "抢拍结束", UTF-8
  std::string handOverUrl;  // without IE mode: the address for the browser
};

struct LogLine {
  std::int64_t wallMs = 0;  // local wall time of the event
  std::string text;         // UTF-8, never a cookie
};

struct EngineEvents {
  std::function<void(const RowEvent&)> row;
  std::function<void(const OpenEvent&)> open;
  std::function<void(const LogLine&)> log;
  // Called on the row's thread some 1.5 s before its bid may leave (it leaves
  // once, never again), so that the row is kept as "bid sent" first. Runs
  // before the last wait, never between the records read and the bid.
  std::function<void(std::uint64_t key, std::int32_t dealId)> bidSending;
};

class Engine {
 public:
  Engine(EngineConfig config, EngineEvents events);
  ~Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  // Adds row `key`, or arms it afresh with new values: the site's clock is
  // read, the row waits for its warm-up and bid. Anything pending for the
  // key before is dropped.
  void Arm(std::uint64_t key, const RowSpec& setup);
  // A row whose bid went out before a restart: never bid again, only its
  // outcome is read (after closing), for a bid of `amount`.
  void AwaitOutcome(std::uint64_t key, const RowSpec& setup, std::int64_t amount);
  // Forgets the row: no further request is made for it.
  void Remove(std::uint64_t key);
  void Clear();
  // The opening snipe: GET `url` at `fireAt` (bidding itself, or handing it
  // over without IE mode). Replaces an earlier one.
  void ArmOpen(const std::string& url, MonoTime fireAt);
  void CancelOpen();
  // IE mode: the engine sends bids itself (true) or hands them over.
  void SetBidsItself(bool on);
  // Ends the request under way and every later one; the thread ends. Safe to
  // call twice; the destructor calls it.
  void Stop();

  // The estimated site clock, ms; empty until one estimate succeeded.
  // Safe from any thread.
  std::optional<std::int64_t> SiteNow() const;

 private:
  struct Row;
  void Post(std::function<void()> command);
  void Run();
  std::int64_t MonoUs(MonoTime t) const;
  MonoTime MonoFromSite(std::int64_t siteMs) const;
  void ReadClock(const std::vector<std::uint64_t>& waiters);
  void StartRow(Row& row);
  void RowMain(Row& row);
  // Waits for site time `siteMs` (followed across new clock estimates);
  // false when the row was dropped meanwhile.
  bool WaitForSite(Row& row, std::int64_t siteMs);
  std::uint64_t Epoch() const;
  // Under mu_: Remove or Clear was called for the row.
  bool Forgotten(const Row& row) const;
  void WarmUp(Row& row);
  void FireBid(Row& row);
  // True when the outcome was told (the last read tells it in any case).
  bool ReadOutcome(Row& row, bool last);
  void OpenMain(std::string url, MonoTime fireAt, std::uint64_t generation,
                std::shared_ptr<platform::http::Transport> transport);
  std::shared_ptr<platform::http::Transport> NewConnection();
  void DropRow(std::uint64_t key);
  // At the due moment: nullptr when the row may bid (it then holds its group
  // until its outcome is known), else why not.
  const char* ClaimGroup(Row& row);
  // The row no longer holds its group; `won`: it won the group's one.
  void ReleaseGroup(Row& row, bool won);
  void AddToGroup(Row& row);
  void SkipForGroup(Row& row, const char* reason);
  void Log(const std::string& text);
  void Emit(const RowEvent& e);

  EngineConfig config_;
  EngineEvents events_;
  std::shared_ptr<EngineClock> clock_;
  mutable std::mutex mu_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> commands_;
  bool stop_ = false;
  std::atomic<bool> bidsItself_{true};
  std::atomic<bool> haveEstimate_{false};
  std::atomic<std::int64_t> offsetUs_{0};
  std::uint64_t estimateGen_ = 0;  // under mu_: counts clock estimates
  std::atomic<std::uint64_t> openGen_{0};
  std::mutex emitMu_;                        // events go out one at a time
  std::mutex sharedMu_;                      // the shared connection, without newTransport
  std::vector<std::uint64_t> clockWaiters_;  // engine thread: rows waiting for an estimate
  std::vector<ClockRead> clockPool_;         // engine thread: the reads the estimate rests on
  bool clockWanted_ = false;                 // under mu_: a fresh estimate is asked for
  std::set<std::uint64_t> removing_;         // under mu_: Remove called, not yet carried out
  std::uint64_t clearEpoch_ = 0;             // under mu_: counts Clear calls
  struct Group {
    int won = 0;      // rows told won
    int holding = 0;  // rows with a bid that may have been taken, outcome unknown
  };
  // Held for a lookup and a count only, never across a request: the due
  // moment reads it right before the records.
  std::mutex groupMu_;
  std::map<std::int32_t, Group> groups_;  // under groupMu_; entries made at arming

  // Engine thread only (rows' threads are joined on Stop).
  std::map<std::uint64_t, std::unique_ptr<Row>> rows_;
  std::vector<std::unique_ptr<Row>> dropped_;
  std::vector<std::thread> openThreads_;
  std::thread thread_;
};

}  // namespace gavelhawk::snipe
