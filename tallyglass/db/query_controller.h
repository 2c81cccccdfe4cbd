#pragma once
// QueryController: what 查询 and the grid work with, apart from the window.
// It owns the window's one result set: the whole table at the start, a
// query's rows after 查询, the walk's rows when the walk refreshes. Every
// answer arrives as a signal on the caller's thread; a query replaced by a
// newer one is dropped, never waited for. QtCore and QtSql only.
#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "tallyglass/db/history_db.h"
#include "tallyglass/db/query.h"

namespace tallyglass::db {

class QueryController : public QObject {
  Q_OBJECT

 public:
  explicit QueryController(HistoryDb* db, QObject* parent = nullptr);
  ~QueryController() override;

  HistoryResultSet& results() { return *results_; }

  // What the grid holds.
  enum class State {
    Empty,       // nothing opened yet, or the open failed
    WholeTable,  // the whole table, as at the start
    Running,     // a query is on its way
    Queried,     // a query's rows and statistics are in
    Failed,      // the last query failed
  };
  State state() const { return state_; }
  // The grid's caption for the state.
  QString GridCaption() const;

  // The whole table; opened() follows.
  void OpenWholeTable();
  // The rows appended since show (the walk's refresh); nothing when nothing
  // is open.
  void Refresh();

  // Starts the query of `in`. Empty when it started; else the message
  // saying why not (no search condition), and nothing changes.
  QString Run(const QueryInputs& in);
  // The statistics of the last query (all 0 without rows), its name (the
  // keywords and the range, as the chart is titled) and its error.
  const PriceStats& stats() const { return stats_; }
  QString queryName() const { return queryName_; }
  QString error() const { return error_; }

  // The auction id of the grid's current row; empty with the message to
  // show when there is none or it is unreadable.
  std::optional<std::int32_t> CurrentProductId(QString* problem);

  // The chart's data and the CSV export of the open rows.
  void LoadChart(std::function<void(bool ok, const HistoryResultSet::ChartData& data, QString error)> done);
  void ExportCsv(const QString& path, std::function<void(bool ok, std::int64_t rows, QString error)> done);

  // The name a query goes by: its keywords, buyer and range of days.
  static QString QueryName(const QueryInputs& in);

 signals:
  void opened(bool ok);
  // Refresh's rows are in.
  void refreshed();
  void queryFinished(bool ok);
  // A page the grid scrolled to could not be read.
  void pageFailed(const QString& error);

 private:
  std::unique_ptr<HistoryResultSet> results_;
  Engine engine_ = Engine::Sqlite;
  State state_ = State::Empty;
  PriceStats stats_;
  QString queryName_;
  QString error_;
};

}  // namespace tallyglass::db
