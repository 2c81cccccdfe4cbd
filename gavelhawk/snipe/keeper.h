#pragma once
// What follows each change of the snipe list while the user looks away: the
// log line when a row is armed, the notice when a row stops waiting, the
// site clock's skew, the saved list and the machine kept awake. Given the
// list after each change; what it decides goes out through its sinks.
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "gavelhawk/snipe/snipe_list.h"

namespace gavelhawk::snipe {

// The row is armed in the engine and waits for its bid.
inline bool WaitsForBid(const SnipeItem& row) { return row.nKey != 0 && row.Waiting(); }
int WaitingForBid(const SnipeList& list);

class Keeper {
 public:
  // What keeps the machine awake; None: nothing granted it.
  enum class Held { None, Login1, ScreenSaver };
  struct Sinks {
    std::function<void(const std::string& line)> log;  // UTF-8
    std::function<void(const std::string& title, const std::string& body)> notify;
    // The list should be written: the caller writes it a moment later, once,
    // asking RowsToSave.
    std::function<void()> save;
    // Empty: the machine may sleep. `error` says why nothing was granted.
    std::function<Held(const std::string& why, std::string* error)> hold;
    std::function<void()> release;
    // ms; default to the steady clock and the wall clock.
    std::function<std::int64_t()> steadyMs;
    std::function<std::int64_t()> wallMs;
  };
  explicit Keeper(Sinks sinks);

  // The list after a change (rows armed, changed, finished, gone).
  void Changed(const SnipeList& list);
  // Changes are written from now on; `saved` is what the file holds.
  void KeepFrom(std::vector<SnipeItem> saved, bool ieMode);
  bool Keeping() const { return keeping_; }
  // What to write now, or nothing when the file already holds it. A row
  // not armed is written as finished: it does not wait.
  std::optional<std::vector<SnipeItem>> RowsToSave(const SnipeList& list, bool ieMode);
  // The last write failed: the next asks again even without a change.
  void SaveFailed() { saveFailed_ = true; }
  // The site's clock estimated from the last clock read of an arming; empty
  // while none is known.
  std::optional<std::int64_t> SiteNow() const;

 private:
  void FollowClock(std::int64_t siteMs);
  void FollowWaiting(int waiting);

  Sinks sinks_;
  struct Seen {
    bool waiting = false;
    std::int64_t endTime = 0;
    std::int64_t remain = 0;
  };
  std::map<std::int32_t, Seen> seen_;     // each row at the last change, by auction id
  std::optional<std::int64_t> offsetMs_;  // site ms - steady ms
  std::optional<std::int64_t> loggedSkew_;
  bool keeping_ = false;
  std::vector<SnipeItem> lastSaved_;
  bool lastIEMode_ = false;
  bool saveFailed_ = false;
  bool held_ = false;
  bool holdTried_ = false;  // asked once per run: a bus that does not answer must not hold every change
};

}  // namespace gavelhawk::snipe
