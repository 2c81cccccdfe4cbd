#pragma once
// The snipe list kept across restarts: $XDG_DATA_HOME/Gavelhawk/snipes.json,
// rewritten whole and atomically, and the lock that keeps two clients (the
// window, `gavelhawk snipe`) from sniping the same list at once.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "gavelhawk/snipe/snipe_list.h"

namespace gavelhawk::ui {

// State text of a row whose closing passed while the program was not running.
inline constexpr char kStateMissedWhileOff[] = "已结束(未运行)";

// The values a row may hold, in the window and in the file alike: outside
// them a bid would go out at a pointless price or after the closing.
inline constexpr std::int32_t kMinPrepTimeMs = 0;
inline constexpr std::int32_t kMaxPrepTimeMs = 3'600'000;

// The rows are kept as the list holds them (SnipeItem); a row is saved as
// waiting while its phase says so.
using SavedSnipe = SnipeItem;

// `$XDG_DATA_HOME/Gavelhawk/snipes.json` (~/.local/share when unset). The demo
// keeps its list apart: its auctions are not the site's.
std::string SavedListPath(const std::function<const char*(const char*)>& getenv, bool demo = false);

// Replaces the file with `rows` in one step: a failed write leaves the old
// file. False with `error` (UTF-8) set when it could not be written.
// `ieMode` is kept with the rows: they fire in the mode they were armed in.
bool SaveSnipes(const std::string& path, const std::vector<SavedSnipe>& rows, std::string* error = nullptr,
                bool ieMode = false);

// Keeps the waiting row of `dealId` as "bid sent" in the file before its bid
// leaves; later saves keep the mark while the row waits. Safe from any
// thread. False with `error` set when it could not be written.
bool MarkBidSent(const std::string& path, std::int32_t dealId, std::string* error = nullptr);

// Writes the list on a thread of its own, so that a slow disk never holds
// up the caller: the latest rows asked for replace any not yet written.
class ListSaver {
 public:
  // `done` runs on the saver's thread after each write; `error` as SaveSnipes.
  using Done = std::function<void(bool ok, const std::string& error)>;
  ListSaver(std::string path, Done done);
  // Writes what is still pending, then ends.
  ~ListSaver();
  ListSaver(const ListSaver&) = delete;
  ListSaver& operator=(const ListSaver&) = delete;
  void Save(std::vector<SavedSnipe> rows, bool ieMode);
  // Returns once every save asked for so far is written.
  void Wait();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

struct LoadedList {
  std::vector<SavedSnipe> rows;
  bool ieMode = false;  // IE模式 when the list was saved
  // UTF-8, for the user; empty when the list loaded (or there was none). A
  // damaged file has been renamed aside by the time this is set, so it is
  // told once.
  std::string problem;
  std::string setAside;  // where a damaged file went
  // Rows this load found closed while the program was off, by auction id.
  std::vector<std::int32_t> missed;
};

// Reads the list. A row that was waiting and closed at or before `nowMs` (ms
// since the epoch) comes back finished, as kStateMissedWhileOff: it must
// never bid.
LoadedList LoadSnipes(const std::string& path, std::int64_t nowMs);

// Held while a client uses the list; released when destroyed. A lock left by
// a copy that crashed is taken over.
class SavedListLock {
 public:
  ~SavedListLock();
  SavedListLock(const SavedListLock&) = delete;
  SavedListLock& operator=(const SavedListLock&) = delete;
  struct Impl;

 private:
  friend std::unique_ptr<SavedListLock> LockSavedList(const std::string&, std::string*);
  SavedListLock();
  std::unique_ptr<Impl> impl_;
};

// Takes the lock beside `path` (`path`.lock). Null with `refusal` (UTF-8,
// ready to show) set when another client holds it or it cannot be taken.
std::unique_ptr<SavedListLock> LockSavedList(const std::string& path, std::string* refusal);

}  // namespace gavelhawk::ui
