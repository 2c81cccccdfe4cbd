#pragma once
// QueryRunner: reads the history on a worker thread with a connection of its
// own (a Qt Sql connection belongs to one thread), so that a query over
// millions of rows never holds up the window. Work comes in generations: a
// new generation stops whatever an older one still runs (SQLite: a progress
// handler; PostgreSQL: the server cancels the backend's statement) and the
// older results come back marked cancelled.
#include <QString>
#include <QVariant>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "tallyglass/db/history_db.h"
#include "tallyglass/db/rows_model.h"

class QObject;

namespace tallyglass::db {

struct PageResult {
  bool ok = false;
  bool cancelled = false;
  QString error;
  QStringList fields;
  std::vector<Row> rows;
  bool last = true;
};

struct StatsResult {
  bool ok = false;
  bool cancelled = false;
  QString error;
  PriceStats stats;
};

struct ExportResult {
  bool ok = false;
  QString error;
  std::int64_t rows = 0;
};

struct ChartResult {
  bool ok = false;
  bool cancelled = false;
  QString error;
  HistoryResultSet::ChartData data;
};

class QueryRunner {
 public:
  // Rows per page of the grid.
  static constexpr int kPageRows = 400;
  // From this share of the table on, a range is read by a table scan. Where
  // ids rise with the closing day the index stays cheaper up to about half
  // the table; where they do not, it costs up to 19 times a scan per row.
  static constexpr double kScanShare = 0.25;

  // Made on the caller's thread, whose connection `db` is; results come back
  // there through its event loop.
  explicit QueryRunner(const HistoryDb& db);
  ~QueryRunner();
  QueryRunner(const QueryRunner&) = delete;
  QueryRunner& operator=(const QueryRunner&) = delete;

  // Starts a generation; everything of the older ones stops.
  std::uint64_t NewGeneration();
  std::uint64_t Generation() const { return latest_.load(); }

  // Rows of `s` with a key above `afterKey` (null: from the first), in key
  // order, at most `limit`.
  void Page(std::uint64_t gen, const Statement& s, const QVariant& afterKey, int limit,
            std::function<void(PageResult)> done);
  // What the window's query needs: the first page of rows, then the
  // statistics (from the page when it holds every row, else counted by the
  // engine).
  void Query(std::uint64_t gen, const Statement& s, std::function<void(PageResult)> onPage,
             std::function<void(StatsResult)> onStats);
  // Count, highest, lowest, average and median of trxPrice, in the database.
  void Stats(std::uint64_t gen, const Statement& s, std::function<void(StatsResult)> done);
  StatsResult StatsNow(std::uint64_t gen, const Statement& s);
  // Every matching row into a CSV file (UTF-8 with BOM, a header line).
  // Not stopped by a new generation: the user asked for the file.
  void Export(const Statement& s, const QString& path, std::function<void(ExportResult)> done);
  void Chart(std::uint64_t gen, const Statement& s, std::function<void(ChartResult)> done);

  class Worker;

 private:
  using Job = std::function<void(Worker&)>;
  void Post(Job job);
  void Loop();
  void CancelRunning();
  // Runs `fn` on the caller's thread through its event loop.
  void Deliver(std::function<void()> fn);

  QString mainName_;
  Engine engine_;
  std::unique_ptr<QObject> context_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::pair<std::uint64_t, Job>> jobs_;
  bool stop_ = false;
  std::atomic<std::uint64_t> latest_{0};
  std::atomic<bool> stopping_{false};
  std::uint64_t counter_ = 0;
  // Generation of the statement under way; 0 when none, or one no
  // generation stops.
  std::atomic<std::uint64_t> running_{0};
  std::mutex runningMutex_;  // running_ changes and the server-side cancel
  std::atomic<int> backendPid_{0};
  std::thread thread_;
  friend class Worker;
};

}  // namespace tallyglass::db
