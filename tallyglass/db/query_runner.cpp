#include "tallyglass/db/query_runner.h"

#include <sqlite3.h>

#include <QMetaObject>
#include <QObject>
#include <QSaveFile>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <algorithm>
#include <cmath>
#include <future>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "tallyglass/db/keyword_index.h"
#include "tallyglass/db/keyword_posts.h"
#include "tallyglass/db/stats.h"

namespace tallyglass::db {

namespace {

// running_ of a job that no generation stops (only the runner's end does).
constexpr std::uint64_t kKeep = std::numeric_limits<std::uint64_t>::max();

std::int32_t Clamp32(std::int64_t v) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, std::numeric_limits<std::int32_t>::min(),
                                                            std::numeric_limits<std::int32_t>::max()));
}

// The statistics and the first page's ids of a statement's rows (id, p),
// gathered as SQLite steps through them: one pass, no aggregate calls per
// row. Prices are counted per price, so memory follows the distinct prices.
struct TallySink {
  explicit TallySink(std::int64_t firstIds) : n(std::max<std::int64_t>(0, firstIds)) {}
  void Add(std::int64_t id, std::optional<std::int64_t> price) {
    ++rows;
    if (price) {
      if (count == 0 || *price > max) max = *price;
      if (count == 0 || *price < min) min = *price;
      ++count;
      sum += *price;
      ++prices[*price];
    }
    // A max-heap of the smallest ids so far.
    if (static_cast<std::int64_t>(heap.size()) < n) {
      heap.push_back(id);
      std::push_heap(heap.begin(), heap.end());
    } else if (!heap.empty() && id < heap.front()) {
      std::pop_heap(heap.begin(), heap.end());
      heap.back() = id;
      std::push_heap(heap.begin(), heap.end());
    }
  }
  // "1,2,3": the smallest ids, ascending.
  QString FirstIds() {
    std::sort(heap.begin(), heap.end());
    QString out;
    for (std::int64_t id : heap) {
      if (!out.isEmpty()) out += QLatin1Char(',');
      out += QString::number(id);
    }
    return out;
  }
  std::int64_t n;
  std::int64_t rows = 0, count = 0, max = 0, min = 0, sum = 0;
  PriceCounts prices;
  std::vector<std::int64_t> heap;
};

int NextId() {
  static std::atomic<int> counter{0};
  return ++counter;
}

// RFC 4180: a field with a comma, a quote or a line break goes in quotes,
// its quotes doubled.
QString CsvField(const QString& s) {
  if (!s.contains(QLatin1Char(',')) && !s.contains(QLatin1Char('"')) && !s.contains(QLatin1Char('\n')) &&
      !s.contains(QLatin1Char('\r')))
    return s;
  QString q = s;
  q.replace(QLatin1Char('"'), QLatin1String("\"\""));
  return QLatin1Char('"') + q + QLatin1Char('"');
}

}  // namespace

class QueryRunner::Worker {
 public:
  // Each runner's connection has a name of its own.
  explicit Worker(QueryRunner* r) : r_(r), name_(r->mainName_ + QStringLiteral("-query-%1").arg(NextId())) {}

  bool Open() {
    db_ = QSqlDatabase::cloneDatabase(r_->mainName_, name_);
    if (!db_.isValid() || !db_.open()) {
      openError_ = EngineText(db_.lastError());
      if (openError_.isEmpty()) openError_ = QStringLiteral("no database connection");
      return false;
    }
    if (r_->engine_ == Engine::Sqlite) {
      handle_ = HandleOf(db_);
      if (handle_) {
        sqlite3_progress_handler(handle_, 1000, &Worker::OnProgress, r_);
        RegisterGramTokenizer(handle_);
      }
    } else {
      QSqlQuery q(db_);
      if (q.exec(QStringLiteral("SELECT pg_backend_pid()")) && q.next()) r_->backendPid_ = q.value(0).toInt();
    }
    return true;
  }

  void Close() {
    if (db_.isValid()) db_.close();
    db_ = QSqlDatabase();
    QSqlDatabase::removeDatabase(name_);
  }

  bool Stale(std::uint64_t gen) const { return gen != 0 && (r_->stopping_ || gen < r_->latest_.load()); }

  // Marks the statements that follow as `gen`'s, for the cancel.
  struct Running {
    Running(QueryRunner* r, std::uint64_t gen) : r_(r) {
      std::lock_guard<std::mutex> lock(r_->runningMutex_);
      r_->running_ = gen == 0 ? kKeep : gen;
    }
    ~Running() {
      std::lock_guard<std::mutex> lock(r_->runningMutex_);
      r_->running_ = 0;
    }
    QueryRunner* r_;
  };

  QString Ident(const char* name) const {
    return r_->engine_ == Engine::Postgres ? QStringLiteral("\"%1\"").arg(QLatin1String(name))
                                           : QString::fromLatin1(name);
  }

  // Opens a forward-only statement: one row at a time, whatever the size
  // (PostgreSQL then sends rows one by one too).
  bool Exec(QSqlQuery& q, const QString& sql, const QVariantList& params, QString* error) {
    if (!openError_.isEmpty()) {
      *error = openError_;
      return false;
    }
    q.setForwardOnly(true);
    if (!q.prepare(sql)) {
      *error = Why(q);
      return false;
    }
    for (const QVariant& v : params) q.addBindValue(v);
    if (!q.exec()) {
      *error = Why(q);
      return false;
    }
    return true;
  }

  // The statement's error; a server gone leaves none on it (the connection
  // then says why).
  QString Why(const QSqlQuery& q) const {
    QString why = EngineText(q.lastError());
    if (why.isEmpty() && r_->engine_ == Engine::Postgres) why = PgConnectionError(db_);
    return why;
  }

  // The range's share of the table is estimated from the first and last
  // day (SQLite keeps no statistics of how bidTime spreads). A narrow range
  // is read through the bidTime index and sorted afterwards: ordering by the
  // bare key would make either planner walk the whole key in order to save
  // that sort. A wide range is read by a table scan in key order, so that a
  // page stops early; on SQLite "+bidTime" keeps the planner off the index.
  struct Plan {
    Statement s;
    bool sortAfter = false;
    bool narrowed = false;  // by the keyword index
    // ORDER BY of the key, with `qualifier` ("q.") in front of the column.
    QString OrderBy(const QString& key, const QString& qualifier, Engine engine) const {
      if (!sortAfter) return qualifier + key;
      return engine == Engine::Postgres ? qualifier + key + QStringLiteral(" + 0")
                                        : QStringLiteral("+") + qualifier + key;
    }
  };
  Plan Planned(const Statement& s) {
    Plan p{s};
    if (!openError_.isEmpty()) return p;
    std::optional<double> share;
    if (s.dayBound) {
      QSqlQuery q(db_);
      const QString day = Ident("bidTime"), table = Ident("History");
      if (q.exec(
              QStringLiteral("SELECT (SELECT min(%1) FROM %2),(SELECT max(%1) FROM %2)").arg(day, table)) &&
          q.next() && !q.value(0).isNull()) {
        const double first = q.value(0).toDouble(), last = q.value(1).toDouble();
        const double bound = static_cast<double>(*s.dayBound);
        share = std::clamp((last - bound) / (last - first + 1.0), 0.0, 1.0);
      }
    }
    if (share && *share < kScanShare) {
      p.sortAfter = true;
      return p;
    }
    // A wide range: the keyword index names the rows to read once it is
    // complete; until then, and without keywords, the table scan.
    if (!s.includeKeywords.isEmpty() && KeywordIndexNarrows(db_, r_->engine_) &&
        NarrowByIndex(&p.s, r_->engine_)) {
      p.narrowed = true;
      return p;
    }
    if (share && r_->engine_ == Engine::Sqlite) {
      p.s.sql.replace(QStringLiteral(" bidTime > "), QStringLiteral(" +bidTime > "));
      p.s.from.replace(QStringLiteral(" bidTime > "), QStringLiteral(" +bidTime > "));
    }
    return p;
  }

  // The statistics of the plan's rows, counted by the engine in one
  // statement, with the ids of the first `firstIds` rows (in key order, as
  // "1,2,3"). No row travels into the program; for keywords the index
  // decides exactly, no row of History is read either.
  struct Tally {
    PriceStats stats;
    std::int64_t rows = 0;
    QString firstIds;
  };
  static void Fill(TallySink& sink, Tally* out) {
    out->rows = sink.rows;
    PriceStats& stats = out->stats;
    stats.count = sink.count;
    if (sink.count > 0) {
      stats.max = Clamp32(sink.max);
      stats.min = Clamp32(sink.min);
      stats.avg = static_cast<std::uint32_t>(
          std::clamp<std::int64_t>(sink.sum / sink.count, 0, std::numeric_limits<std::uint32_t>::max()));
      stats.median = MedianOf(sink.prices);
    }
    out->firstIds = sink.FirstIds();
  }
  bool TallyOf(const Statement& s, const Plan& plan, int firstIds, Tally* out, QString* error) {
    if (r_->engine_ == Engine::Postgres) return PgTallyOf(s, plan, firstIds, out, error);
    if (!openError_.isEmpty() || !handle_) {
      *error = openError_.isEmpty() ? QStringLiteral("no database connection") : openError_;
      return false;
    }
    TallySink sink(firstIds);
    IndexOnly answered = IndexOnly::NotAnswered;
    if (plan.narrowed) {
      answered = IndexOnlyRows(
          handle_, s, [&](std::int64_t id, std::optional<std::int64_t> price) { sink.Add(id, price); },
          error);
      if (answered == IndexOnly::Failed) return false;
    }
    if (answered == IndexOnly::NotAnswered) {
      // Stepped here rather than through aggregates: a call per row and
      // aggregate cost more than the reading of the row itself.
      const QByteArray sql = (QStringLiteral("SELECT ProductID AS id, trxPrice AS p") + plan.s.from).toUtf8();
      sqlite3_stmt* st = nullptr;
      int rc = sqlite3_prepare_v2(handle_, sql.constData(), static_cast<int>(sql.size()), &st, nullptr);
      for (int i = 0; rc == SQLITE_OK && i < plan.s.params.size(); ++i) {
        const QVariant& v = plan.s.params[i];
        if (v.typeId() == QMetaType::Int || v.typeId() == QMetaType::LongLong) {
          rc = sqlite3_bind_int64(st, i + 1, v.toLongLong());
        } else {
          const QByteArray text = v.toString().toUtf8();
          rc =
              sqlite3_bind_text(st, i + 1, text.constData(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
        }
      }
      while (rc == SQLITE_OK || rc == SQLITE_ROW) {
        rc = sqlite3_step(st);
        if (rc != SQLITE_ROW) break;
        std::optional<std::int64_t> price;
        if (sqlite3_column_type(st, 1) != SQLITE_NULL) price = sqlite3_column_int64(st, 1);
        sink.Add(sqlite3_column_int64(st, 0), price);
      }
      if (rc != SQLITE_DONE) {
        *error = QString::fromUtf8(sqlite3_errmsg(handle_));
        sqlite3_finalize(st);
        return false;
      }
      sqlite3_finalize(st);
    }
    Fill(sink, out);
    return true;
  }

  bool PgTallyOf(const Statement& s, const Plan& plan, int firstIds, Tally* out, QString* error) {
    if (plan.narrowed) {
      TallySink sink(firstIds);
      const IndexOnly answered = PgIndexOnlyRows(
          db_, s, [&](std::int64_t id, std::optional<std::int64_t> price) { sink.Add(id, price); }, error);
      if (answered == IndexOnly::Failed) return false;
      if (answered == IndexOnly::Answered) {
        Fill(sink, out);
        return true;
      }
    }
    // Every candidate is read: where its gram decides a keyword, the title
    // needs no test.
    Statement rows = plan.s;
    if (plan.narrowed) {
      Statement exact = s;
      if (NarrowEveryRowByGin(&exact)) rows = exact;
    }
    QString sql = QStringLiteral(
        "SELECT count(*),count(p),max(p),min(p),sum(p),percentile_cont(0.5) WITHIN GROUP (ORDER BY p)");
    if (firstIds > 0)
      // "1 : n", not "1:n": Qt would take ":n" for a named placeholder.
      sql += QStringLiteral(",array_to_string((array_agg(id ORDER BY id))[1 : %1], ',')").arg(firstIds);
    sql += QStringLiteral(" FROM (SELECT \"ProductID\" AS id, \"trxPrice\" AS p%1) AS c").arg(rows.from);
    QSqlQuery q(db_);
    if (!Exec(q, sql, rows.params, error)) return false;
    if (!q.next()) {
      *error = Why(q);
      return false;
    }
    out->rows = q.value(0).toLongLong();
    PriceStats& st = out->stats;
    st.count = q.value(1).toLongLong();
    if (st.count > 0) {
      st.max = Clamp32(q.value(2).toLongLong());
      st.min = Clamp32(q.value(3).toLongLong());
      const std::int64_t avg = q.value(4).toLongLong() / st.count;
      st.avg = static_cast<std::uint32_t>(
          std::clamp<std::int64_t>(avg, 0, std::numeric_limits<std::uint32_t>::max()));
      st.median = Clamp32(static_cast<std::int64_t>(std::trunc(q.value(5).toDouble())));
    }
    if (firstIds > 0) out->firstIds = q.value(6).toString();
    return true;
  }

  // The query's first page and its statistics from one read of the
  // matching rows: the statistics and the page's ids in one pass, then the
  // page's rows by key.
  std::pair<PageResult, StatsResult> PageAndStats(std::uint64_t gen, const Statement& s, int limit) {
    std::pair<PageResult, StatsResult> out;
    PageResult& page = out.first;
    StatsResult& stats = out.second;
    auto fail = [&](const QString& error) {
      page.error = stats.error = error;
      page.cancelled = stats.cancelled = Stale(gen);
      return out;
    };
    if (Stale(gen)) return fail({});
    Running running(r_, gen);
    const Plan plan = Planned(s);
    Tally tally;
    QString error;
    if (!TallyOf(s, plan, limit, &tally, &error)) return fail(error);
    if (Stale(gen)) return fail({});
    // The statement's own columns, from the rows of those ids.
    const QString select =
        s.sql.endsWith(s.from) ? s.sql.left(s.sql.size() - s.from.size()) : QStringLiteral("SELECT *");
    const QString key = Ident("ProductID");
    const QString sql = QStringLiteral("%1 FROM %2 WHERE %3 IN (%4) ORDER BY %3")
                            .arg(select, Ident("History"), key,
                                 tally.firstIds.isEmpty() ? QStringLiteral("NULL") : tally.firstIds);
    QSqlQuery q(db_);
    if (!Exec(q, sql, {}, &error)) return fail(error);
    const QSqlRecord rec = q.record();
    for (int i = 0; i < rec.count(); ++i) page.fields << rec.fieldName(i);
    while (q.next()) {
      Row row(rec.count());
      for (int i = 0; i < rec.count(); ++i) row[i] = q.value(i);
      page.rows.push_back(std::move(row));
    }
    if (q.lastError().isValid()) return fail(Why(q));
    stats.stats = tally.stats;
    page.last = tally.rows <= limit;
    page.ok = stats.ok = true;
    return out;
  }

  PageResult Page(std::uint64_t gen, const Statement& s, const QVariant& afterKey, int limit) {
    PageResult out;
    if (Stale(gen)) {
      out.cancelled = true;
      return out;
    }
    Running running(r_, gen);
    const Plan plan = Planned(s);
    const Statement& p = plan.s;
    QString sql = QStringLiteral("SELECT * FROM (%1) AS q").arg(p.sql);
    QVariantList params = p.params;
    if (!afterKey.isNull()) {
      sql += QStringLiteral(" WHERE q.%1 > ?").arg(Ident("ProductID"));
      params << afterKey;
    }
    sql += QStringLiteral(" ORDER BY %1 LIMIT %2")
               .arg(plan.OrderBy(Ident("ProductID"), QStringLiteral("q."), r_->engine_))
               .arg(limit);
    QSqlQuery q(db_);
    if (!Exec(q, sql, params, &out.error)) {
      out.cancelled = Stale(gen);
      return out;
    }
    const QSqlRecord rec = q.record();
    for (int i = 0; i < rec.count(); ++i) out.fields << rec.fieldName(i);
    while (q.next()) {
      Row row(rec.count());
      for (int i = 0; i < rec.count(); ++i) row[i] = q.value(i);
      out.rows.push_back(std::move(row));
    }
    if (q.lastError().isValid()) {
      out.error = Why(q);
      out.cancelled = Stale(gen);
      return out;
    }
    out.last = static_cast<int>(out.rows.size()) < limit;
    out.ok = true;
    return out;
  }

  StatsResult Stats(std::uint64_t gen, const Statement& s) {
    StatsResult out;
    if (Stale(gen)) {
      out.cancelled = true;
      return out;
    }
    Running running(r_, gen);
    Tally tally;
    if (!TallyOf(s, Planned(s), 0, &tally, &out.error)) {
      out.cancelled = Stale(gen);
      return out;
    }
    out.stats = tally.stats;
    out.ok = true;
    return out;
  }

  ExportResult Export(const Statement& s, const QString& path) {
    ExportResult out;
    Running running(r_, 0);
    const Plan plan = Planned(s);
    const Statement& p = plan.s;
    QStringList names = {"ProductID", "Title", "trxPrice", "trxBuyerName", "Price", "bidTime"};
    QStringList columns;
    for (const QString& n : names) columns << Ident(n.toLatin1().constData());
    const QString sql =
        QStringLiteral("SELECT %1%2 ORDER BY %3")
            .arg(columns.join(QLatin1Char(',')), p.from, plan.OrderBy(Ident("ProductID"), {}, r_->engine_));
    QSqlQuery q(db_);
    if (!Exec(q, sql, p.params, &out.error)) return out;
    // A failed export leaves any earlier file as it was.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
      out.error = file.errorString();
      return out;
    }
    QByteArray buf("\xEF\xBB\xBF");
    buf += names.join(QLatin1Char(',')).toUtf8() + "\r\n";
    while (q.next()) {
      QStringList f;
      f << q.value(0).toString() << CsvField(q.value(1).toString()) << q.value(2).toString()
        << CsvField(q.value(3).toString()) << q.value(4).toString()
        << (q.value(5).isNull() ? QString() : DayText(q.value(5).toLongLong()));
      buf += f.join(QLatin1Char(',')).toUtf8() + "\r\n";
      ++out.rows;
      if (buf.size() > (1 << 20)) {
        if (file.write(buf) != buf.size()) break;
        buf.clear();
      }
    }
    if (q.lastError().isValid()) {
      out.error = Why(q);
      file.cancelWriting();
      return out;
    }
    if (file.write(buf) != buf.size() || !file.commit()) {
      out.error = file.errorString();
      return out;
    }
    out.ok = true;
    return out;
  }

  ChartResult Chart(std::uint64_t gen, const Statement& s) {
    ChartResult out;
    if (Stale(gen)) {
      out.cancelled = true;
      return out;
    }
    Running running(r_, gen);
    const Statement p = Planned(s).s;
    const QString sql = QStringLiteral("SELECT %1,%2%3").arg(Ident("bidTime"), Ident("trxPrice"), p.from);
    QSqlQuery q(db_);
    if (!Exec(q, sql, p.params, &out.error)) {
      out.cancelled = Stale(gen);
      return out;
    }
    // Every sale counts in the weekly medians; the points drawn are a
    // uniform sample when there are too many to see.
    WeeklyMedians weekly;
    std::mt19937_64 rng(1);
    auto& sales = out.data.sales;
    while (q.next()) {
      const std::int32_t day = Clamp32(q.value(0).toLongLong());
      const std::int64_t price = q.value(1).toLongLong();
      weekly.Add(day, price);
      out.data.lastDay = out.data.count == 0 ? day : std::max(out.data.lastDay, day);
      const std::int64_t n = out.data.count++;
      if (sales.size() < HistoryResultSet::kChartPoints) {
        sales.emplace_back(day, Clamp32(price));
      } else {
        const std::uint64_t j = rng() % static_cast<std::uint64_t>(n + 1);
        if (j < sales.size()) sales[j] = {day, Clamp32(price)};
      }
    }
    if (q.lastError().isValid()) {
      out.error = Why(q);
      out.cancelled = Stale(gen);
      return out;
    }
    std::sort(sales.begin(), sales.end());
    out.data.weeklyMedian = weekly.Result();
    out.ok = true;
    return out;
  }

 private:
  static int OnProgress(void* p) {
    auto* r = static_cast<QueryRunner*>(p);
    const std::uint64_t g = r->running_.load();
    if (g == 0) return 0;
    if (r->stopping_) return 1;
    return g != kKeep && g < r->latest_.load() ? 1 : 0;
  }

  QueryRunner* r_;
  QString name_;
  QSqlDatabase db_;
  QString openError_;
  sqlite3* handle_ = nullptr;
};

QueryRunner::QueryRunner(const HistoryDb& db)
    : mainName_(db.Database().connectionName()), engine_(db.engine()), context_(std::make_unique<QObject>()) {
  thread_ = std::thread([this] { Loop(); });
}

QueryRunner::~QueryRunner() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
    stopping_ = true;
  }
  wake_.notify_all();
  CancelRunning();
  thread_.join();
}

void QueryRunner::Loop() {
  Worker w(this);
  if (!w.Open()) {
    // Jobs still run: each reports the connection's error.
  }
  for (;;) {
    std::pair<std::uint64_t, Job> job;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [this] { return stop_ || !jobs_.empty(); });
      if (jobs_.empty()) break;
      job = std::move(jobs_.front());
      jobs_.pop_front();
    }
    job.second(w);
  }
  w.Close();
}

std::uint64_t QueryRunner::NewGeneration() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    latest_ = ++counter_;
  }
  CancelRunning();
  return latest_.load();
}

void QueryRunner::CancelRunning() {
  if (engine_ != Engine::Postgres) return;  // SQLite: the progress handler sees the new generation
  std::lock_guard<std::mutex> lock(runningMutex_);
  const std::uint64_t g = running_.load();
  if (g == 0 || backendPid_ == 0) return;
  if (!stopping_ && (g == kKeep || g >= latest_.load())) return;
  QSqlDatabase main = QSqlDatabase::database(mainName_, false);
  if (!main.isOpen()) return;
  QSqlQuery q(main);
  q.exec(QStringLiteral("SELECT pg_cancel_backend(%1)").arg(backendPid_.load()));
}

void QueryRunner::Post(Job job) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    jobs_.emplace_back(0, std::move(job));
  }
  wake_.notify_one();
}

void QueryRunner::Deliver(std::function<void()> fn) {
  QMetaObject::invokeMethod(context_.get(), std::move(fn), Qt::QueuedConnection);
}

void QueryRunner::Page(std::uint64_t gen, const Statement& s, const QVariant& afterKey, int limit,
                       std::function<void(PageResult)> done) {
  Post([this, gen, s, afterKey, limit, done = std::move(done)](Worker& w) {
    auto r = std::make_shared<PageResult>(w.Page(gen, s, afterKey, limit));
    Deliver([done, r] { done(std::move(*r)); });
  });
}

void QueryRunner::Query(std::uint64_t gen, const Statement& s, std::function<void(PageResult)> onPage,
                        std::function<void(StatsResult)> onStats) {
  Post([this, gen, s, onPage = std::move(onPage), onStats = std::move(onStats)](Worker& w) {
    auto both = std::make_shared<std::pair<PageResult, StatsResult>>(w.PageAndStats(gen, s, kPageRows));
    Deliver([onPage, onStats, both] {
      onPage(std::move(both->first));
      onStats(std::move(both->second));
    });
  });
}

void QueryRunner::Stats(std::uint64_t gen, const Statement& s, std::function<void(StatsResult)> done) {
  Post([this, gen, s, done = std::move(done)](Worker& w) {
    auto r = std::make_shared<StatsResult>(w.Stats(gen, s));
    Deliver([done, r] { done(std::move(*r)); });
  });
}

StatsResult QueryRunner::StatsNow(std::uint64_t gen, const Statement& s) {
  std::promise<StatsResult> p;
  Post([&](Worker& w) { p.set_value(w.Stats(gen, s)); });
  return p.get_future().get();
}

void QueryRunner::Export(const Statement& s, const QString& path, std::function<void(ExportResult)> done) {
  Post([this, s, path, done = std::move(done)](Worker& w) {
    auto r = std::make_shared<ExportResult>(w.Export(s, path));
    Deliver([done, r] { done(std::move(*r)); });
  });
}

void QueryRunner::Chart(std::uint64_t gen, const Statement& s, std::function<void(ChartResult)> done) {
  Post([this, gen, s, done = std::move(done)](Worker& w) {
    auto r = std::make_shared<ChartResult>(w.Chart(gen, s));
    Deliver([done, r] { done(std::move(*r)); });
  });
}

}  // namespace tallyglass::db
