#pragma once
// The sales of an auction's title in Tallyglass's history, shown where the
// ceiling is typed: what the same item sold for lately. The history is read,
// never written: a missing database stays missing and shows nothing.
#include <QString>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace gavelhawk::snipe {

inline constexpr int kHistoryDays = 30;

// Where Tallyglass keeps its history.
struct HistorySource {
  QString databaseUrl;  // postgresql://...; empty: the SQLite file in dataDir
  QString dataDir;
};

// As Tallyglass takes it: TALLYGLASS_DATABASE, else TALLYGLASS_DATA_DIR, else
// its default folder (the demo's folder for a demo window).
HistorySource HistorySourceFromEnvironment(const std::function<const char*(const char*)>& getenv, bool demo);

struct PriceHistory {
  bool present = false;  // a history was read; false: show nothing
  std::int32_t median = 0;
  std::int64_t count = 0;  // sales of the title in the last kHistoryDays days
  std::string error;       // UTF-8: why a history that exists could not be read
};

// Day number (days since 1970-01-01 UTC) of a time in ms since the epoch.
std::int32_t DayNumber(std::int64_t epochMs);

// One answer per title, in order. Titles are the site's GBK bytes, compared
// with the stored ones after the same entity decoding and with white space
// trimmed at both ends; one statement answers them all.
std::vector<PriceHistory> LookUpPriceHistories(const HistorySource& source,
                                               const std::vector<std::string>& gbkTitles, std::int64_t nowMs);
PriceHistory LookUpPriceHistory(const HistorySource& source, std::string_view gbkTitle, std::int64_t nowMs);

// "历史成交：中位¥M，N次（近30天）" or "历史成交：无"; empty when nothing is
// shown. UTF-8.
std::string HistoryLabelText(const PriceHistory& h);
// "event=history id=ID median=M count=N"; empty when there are no sales.
std::string HistoryEventLine(std::int64_t dealId, const PriceHistory& h);

// Lookups off the caller's thread, in order, on one worker that opens a
// connection of its own for each lookup (no file stays held between them).
// Answers arrive on the worker thread; the caller marshals them to its own.
class PriceHistoryLookup {
 public:
  using Done = std::function<void(std::vector<PriceHistory>)>;
  explicit PriceHistoryLookup(HistorySource source);
  // Waits for the lookup that runs; those still queued are dropped unanswered.
  // Destroy it before whatever its callbacks touch.
  ~PriceHistoryLookup();
  PriceHistoryLookup(const PriceHistoryLookup&) = delete;
  PriceHistoryLookup& operator=(const PriceHistoryLookup&) = delete;

  void LookUp(std::vector<std::string> gbkTitles, std::int64_t nowMs, Done done);

 private:
  struct Request {
    std::vector<std::string> titles;
    std::int64_t nowMs = 0;
    Done done;
  };
  void Run();
  HistorySource source_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Request> queue_;
  bool stop_ = false;
  std::thread worker_;
};

}  // namespace gavelhawk::snipe
