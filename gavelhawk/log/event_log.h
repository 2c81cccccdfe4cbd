#pragma once
// The program's event log: timestamped lines kept in memory for the window's
// log view and appended to $XDG_STATE_HOME/Gavelhawk/gavelhawk.log (rotated
// at 1 MB to gavelhawk.log.1). Callable from any thread. A cookie value never
// reaches it: anything that looks like one is cut out before it is kept.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace gavelhawk::log {

struct Event {
  std::int64_t wallMs = 0;  // ms since the epoch, local clock
  std::string text;         // UTF-8
};

class EventLog {
 public:
  static constexpr std::size_t kRotateBytes = 1 << 20;
  static constexpr std::size_t kKeptInMemory = 5000;

  // `filePath` empty: memory only.
  explicit EventLog(std::string filePath = {}, std::size_t rotateBytes = kRotateBytes);

  void Log(std::string_view text);
  std::vector<Event> Events() const;
  // Called (on the logging thread) with each event after it is kept; the
  // window posts it on to its own thread. Empty: nobody listens.
  void SetListener(std::function<void(const Event&)> listener);
  std::string FilePath() const;
  // Starts appending to `filePath` (empty: memory only from now on).
  void SetFile(std::string filePath);
  // Set once appending to the file failed (UTF-8); memory keeps working.
  std::string FileError() const;

 private:
  void Append(const std::string& line);
  mutable std::mutex mu_;
  std::string path_;
  std::size_t rotateBytes_;
  std::deque<Event> events_;
  std::function<void(const Event&)> listener_;
  std::string fileError_;
};

// "HH:MM:SS.mmm" of the local time.
std::string FormatTime(std::int64_t wallMs);

// Cuts out every value that follows a "cookie" key (Cookie:, Set-Cookie:,
// cookie=, "cookie": ...) up to the end of its line.
std::string StripCookies(std::string_view text);

// `$XDG_STATE_HOME/Gavelhawk/gavelhawk.log` (~/.local/state when unset).
std::string DefaultLogPath(const std::function<const char*(const char*)>& getenv);

// The program's one log. Until Install() it keeps events in memory only.
EventLog& Journal();
void Install(std::string filePath);
// Shorthands for any thread.
void Log(std::string_view text);
// Logs the notice and hands it to the desktop notifier the window installed
// (it crosses to the window's thread itself). Without one: logged only.
void Notify(std::string_view title, std::string_view body);
void SetNotifier(std::function<void(const std::string& title, const std::string& body)> notifier);

}  // namespace gavelhawk::log
