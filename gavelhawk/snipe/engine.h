#pragma once
// The snipe engine: owns the closing snipes' timing, reads, bids, states and
// outcomes, and the opening snipe's bid, on a thread of its own with its own
// warm connection to the site. Nothing here waits on the window: commands
// come in from any thread and are queued; events go out from the engine's
// thread (the window forwards them to its own thread).
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
#include <string>
#include <thread>
#include <vector>

#include "gavelhawk/snipe/plan.h"
#include "platform/http/http.h"

namespace gavelhawk::snipe {

using MonoClock = std::chrono::steady_clock;
using MonoTime = MonoClock::time_point;

struct EngineConfig {
  std::string siteUrl;  // scheme and host, no trailing slash
  std::unique_ptr<platform::http::Transport> transport;
  // The monotonic clock every wait is measured on; tests may shift it.
  std::function<MonoTime()> now;
  std::chrono::milliseconds requestDeadline{3000};  // clock, records, bid
  int clockReads = 3;                               // reads per clock estimate
};

// A row as the user set it up, plus its closing time read from the site.
struct RowSpec {
  std::int32_t dealId = 0;
  std::string title;  // GBK, for the log only
  std::int32_t maxPrice = 0;
  std::int32_t increment = 0;
  std::int32_t prepTime = 0;
  std::int64_t endTime = 0;  // site ms
};

enum class Outcome { None, Won, Lost, Failed };

struct RowEvent {
  enum class Kind {
    Armed,     // waits for its bid: closingInMs, fireInMs, remain
    NotArmed,  // the site's time could not be read: state says so
    Bid,       // the bid went out (or was handed to the browser, or failed)
    Result,    // the outcome after closing
    Price,     // a records read refreshed currentPrice (warm-up)
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
  struct ClockSession;
  void Post(std::function<void()> command);
  void Run();
  // Runs one job that is due; otherwise sets `wake` to when one will be.
  bool RunDueWork(MonoTime now, MonoTime& wake);
  std::int64_t MonoUs(MonoTime t) const;
  MonoTime MonoFromSite(std::int64_t siteMs) const;
  void StartClockSession(std::optional<std::uint64_t> waiter);
  void ClockStep();
  void FinishClockSession();
  void ArmOnEstimate(Row& row);
  void Warmup(Row& row);
  void FireBid(Row& row);
  void ReadOutcome(Row& row);
  void FireOpen();
  struct Fetched {
    bool failed = false;
    std::string error;
    std::string text;
  };
  Fetched Fetch(const std::string& url, const char* what);
  void Log(const std::string& text);
  void Emit(const RowEvent& e);

  EngineConfig config_;
  EngineEvents events_;
  mutable std::mutex mu_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> commands_;
  bool stop_ = false;
  std::atomic<bool> bidsItself_{true};
  std::atomic<bool> haveEstimate_{false};
  std::atomic<std::int64_t> offsetUs_{0};
  std::atomic<bool> stopped_{false};

  // Engine thread only.
  std::map<std::uint64_t, std::unique_ptr<Row>> rows_;
  std::deque<std::unique_ptr<ClockSession>> sessions_;
  std::optional<std::string> openUrl_;
  MonoTime openAt_{};
  std::thread thread_;
};

}  // namespace gavelhawk::snipe
