// The history query (rows for the grid plus the statistics) over a generated
// history of millions of rows: latency against the sqlite3 command-line
// tool's plain table scan of the same condition, and peak memory of the
// whole-table view and the queries, on SQLite and (through pg_server.sh) on
// PostgreSQL.
//
//   tallyglass_query_bench [--rows N] [--db FILE] [--pg-rows N] [--runs N]
//   tests/tallyglass/pg_server.sh tallyglass_query_bench --pg-rows N
//
// The SQLite file is generated once and kept (default
// /tmp/tallyglass-bench/<N>/History.sqlite), so reruns start at once.
#include <sqlite3.h>

#include <QAbstractItemModel>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "tallyglass/db/history_db.h"
// Built against the program before the keyword index too, for the figures
// before.
#if __has_include("tallyglass/db/keyword_index.h")
#include "tallyglass/db/keyword_index.h"
#include "tallyglass/db/keyword_posts.h"
#define TG_KEYWORD_INDEX 1
#endif
#include "tallyglass/db/query.h"

namespace {

using tallyglass::db::HistoryDb;
using tallyglass::db::HistoryResultSet;
using tallyglass::db::PriceStats;
using tallyglass::db::QueryInputs;

constexpr std::int32_t kToday = 16041;
constexpr int kSpanDays = 3650;  // the generated history covers ten years

long StatusKiB(const char* key) {
  std::ifstream f("/proc/self/status");
  std::string line;
  while (std::getline(f, line)) {
    if (line.rfind(key, 0) == 0) return std::atol(line.c_str() + std::string(key).size());
  }
  return -1;
}
void ResetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

double Ms(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

struct Figures {
  std::vector<double> ms;
  double Min() const { return *std::min_element(ms.begin(), ms.end()); }
  double Median() const {
    std::vector<double> s = ms;
    std::sort(s.begin(), s.end());
    return s[s.size() / 2];
  }
  double P99() const {
    std::vector<double> s = ms;
    std::sort(s.begin(), s.end());
    return s[std::min(s.size() - 1, static_cast<std::size_t>(s.size() * 0.99))];
  }
  double Max() const { return *std::max_element(ms.begin(), ms.end()); }
  void Print(const char* what) const {
    std::printf("  %-44s min %8.1f  median %8.1f  p99 %8.1f  max %8.1f ms  (%zu runs)\n", what, Min(),
                Median(), P99(), Max(), ms.size());
  }
};

Figures Time(int runs, const std::function<void()>& fn) {
  Figures f;
  for (int i = 0; i < runs; ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    fn();
    f.ms.push_back(Ms(std::chrono::steady_clock::now() - t0));
  }
  return f;
}

const char* kBrands[] = {"华为 HUAWEI", "小米 Redmi",    "Apple",      "联想 Lenovo", "戴尔 DELL",
                         "索尼 SONY",   "佳能 Canon",    "海尔 Haier", "美的 Midea",  "OPPO",
                         "vivo",        "罗技 Logitech", "飞利浦",     "九阳",        "格力"};
const char* kThings[] = {"手机", "手机壳", "笔记本", "显示器", "耳机", "鼠标",   "相机",     "冰箱",
                         "空调", "电饭煲", "手表",   "平板",   "键盘", "路由器", "电动牙刷", "吸尘器"};
const char* kWords[] = {"全新", "二手", "95新", "国行", "黑色", "白色", "银色", "128G",
                        "256G", "旗舰", "官方", "标配", "套装", "礼盒", "限量"};

// The words searched for: in 1% and in 0.01% of the titles, of one, two and
// more characters, none of their characters used elsewhere.
struct Keyword {
  const char* word;
  const char* share;
};
const Keyword kKeywords[] = {{"琴", "1%"},    {"古琴", "1%"},    {"紫砂壶", "1%"},
                             {"竿", "0.01%"}, {"鱼竿", "0.01%"}, {"青花瓷瓶", "0.01%"}};
std::string ExtraWord(std::mt19937& rng) {
  const unsigned r = rng() % 10000;
  if (r < 100) return " 古琴";
  if (r < 200) return " 紫砂壶";
  if (r == 200) return " 鱼竿";
  if (r == 201) return " 青花瓷瓶";
  return {};
}

// Ids rise with time, as the site hands them out; or, with --random-days,
// closing days that bear no relation to the ids (the worst case for the
// bidTime index: every row it names is on another page).
bool gRandomDays = false;
bool gScroll = true;
std::int32_t DayOf(long long i, long long rows, std::mt19937& rng) {
  if (gRandomDays) return kToday - static_cast<std::int32_t>(rng() % kSpanDays);
  return kToday - kSpanDays + static_cast<std::int32_t>(i * kSpanDays / rows);
}

// One transaction, one prepared insert, no journal: the generation is not
// what is measured. The index comes afterwards (HistoryDb::Open makes it).
bool GenerateSqlite(const std::string& file, long long rows) {
  sqlite3* db = nullptr;
  if (sqlite3_open(file.c_str(), &db) != SQLITE_OK) return false;
  sqlite3_exec(db, "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF", nullptr, nullptr, nullptr);
  sqlite3_exec(db,
               "CREATE TABLE History (ProductID INTEGER PRIMARY KEY, Title TEXT, trxPrice INTEGER, "
               "trxBuyerName TEXT, Price INTEGER, bidTime INTEGER)",
               nullptr, nullptr, nullptr);
  sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO History VALUES (?,?,?,?,?,?)", -1, &st, nullptr);
  std::mt19937 rng(7);
  std::string title, buyer;
  for (long long i = 0; i < rows; ++i) {
    title = std::string(kBrands[rng() % std::size(kBrands)]) + " " + kThings[rng() % std::size(kThings)];
    for (int w = 0; w < 3; ++w) title += std::string(" ") + kWords[rng() % std::size(kWords)];
    title += ExtraWord(rng);
    buyer = "jd_" + std::to_string(rng() % 50000);
    const int list = 50 + static_cast<int>(rng() % 20000);
    sqlite3_bind_int64(st, 1, 1000001 + i);
    sqlite3_bind_text(st, 2, title.c_str(), static_cast<int>(title.size()), SQLITE_TRANSIENT);
    sqlite3_bind_int(st, 3, static_cast<int>(list * (0.2 + (rng() % 80) / 100.0)));
    sqlite3_bind_text(st, 4, buyer.c_str(), static_cast<int>(buyer.size()), SQLITE_TRANSIENT);
    sqlite3_bind_int(st, 5, list);
    sqlite3_bind_int(st, 6, DayOf(i, rows, rng));
    if (sqlite3_step(st) != SQLITE_DONE) {
      std::fprintf(stderr, "insert: %s\n", sqlite3_errmsg(db));
      return false;
    }
    sqlite3_reset(st);
  }
  sqlite3_finalize(st);
  const bool ok = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
  sqlite3_close(db);
  return ok;
}

// The server makes the rows itself: no row crosses the connection.
bool GeneratePostgres(HistoryDb& db, long long rows) {
  auto list = [](const char* const* words, std::size_t n) {
    QStringList l;
    for (std::size_t i = 0; i < n; ++i) l << QStringLiteral("'%1'").arg(QString::fromUtf8(words[i]));
    return QStringLiteral("ARRAY[%1]").arg(l.join(','));
  };
  const QString brands = list(kBrands, std::size(kBrands)), things = list(kThings, std::size(kThings)),
                words = list(kWords, std::size(kWords));
  QSqlQuery q(db.Database());
  // New rows, and the keyword index made again for them.
  q.exec("DROP FUNCTION IF EXISTS tg_keyword_fresh() CASCADE");
  q.exec("DROP TABLE IF EXISTS \"HistoryKeywordState\"");
  q.exec("DROP INDEX IF EXISTS \"History_grams\"");
  q.exec("TRUNCATE \"History\"");
  const QString sql =
      QStringLiteral(
          "INSERT INTO \"History\" SELECT 1000000 + g, "
          "(%1)[1 + floor(random() * %4)::int] || ' ' || (%2)[1 + floor(random() * %5)::int] || ' ' || "
          "(%3)[1 + floor(random() * %6)::int] || ' ' || (%3)[1 + floor(random() * %6)::int] || ' ' || "
          "(%3)[1 + floor(random() * %6)::int] || (CASE floor(random() * 10000)::int / 100 WHEN 0 THEN ' "
          "古琴' "
          "WHEN 1 THEN ' 紫砂壶' ELSE '' END) || (CASE floor(random() * 10000)::int WHEN 0 THEN ' 鱼竿' WHEN "
          "1 "
          "THEN ' 青花瓷瓶' ELSE '' END), l * (0.2 + floor(random() * 80) / 100.0), "
          "'jd_' || floor(random() * 50000)::int, l, %8 "
          "FROM (SELECT g, 50 + floor(random() * 20000)::int AS l FROM generate_series(1, %7) AS g) AS s")
          .arg(brands, things, words)
          .arg(std::size(kBrands))
          .arg(std::size(kThings))
          .arg(std::size(kWords))
          .arg(rows)
          .arg(gRandomDays ? QStringLiteral("%1 - floor(random() * %2)::int").arg(kToday).arg(kSpanDays)
                           : QStringLiteral("%1 + (g - 1) * %2::bigint / %3")
                                 .arg(kToday - kSpanDays)
                                 .arg(kSpanDays)
                                 .arg(rows));
  if (!q.exec(sql)) {
    std::fprintf(stderr, "generate: %s\n", qPrintable(q.lastError().text()));
    return false;
  }
  return q.exec("ANALYZE \"History\"");
}

const char* gKeyword = "手机";
QueryInputs Inputs(int days) {
  QueryInputs in;
  in.today = kToday;
  in.days = days;
  in.include[0] = QString::fromUtf8(gKeyword);
  return in;
}

// The whole table as the window opens it: where the first page comes from
// the worker, the open returns at once and the page arrives later.
template <class ResultSet>
bool OpenWholeTable(ResultSet& rs) {
  if constexpr (requires { rs.OpenHistoryTable([](bool) {}); }) {
    std::optional<bool> opened;
    rs.OpenHistoryTable([&](bool ok) { opened = ok; });
    while (!opened) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return *opened;
  } else {
    return rs.OpenHistoryTable();
  }
}

// What the window does for 查询, on its one result set: the grid's rows and
// the statistics. Built
// against the window's older one-thread query too, for the figures before.
#if __has_include("tallyglass/db/query_runner.h")
PriceStats RunQuery(HistoryResultSet& rs, HistoryDb& db, int days) {
  HistoryResultSet::Finished got;
  bool finished = false;
  rs.Start(tallyglass::db::BuildHistoryQuery(Inputs(days), db.engine()),
           [&](const HistoryResultSet::Finished& f) {
             got = f;
             finished = true;
           });
  while (!finished) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  if (!got.ok) {
    std::fprintf(stderr, "query: %s\n", qPrintable(got.error));
    std::exit(1);
  }
  return got.stats;
}
#else
PriceStats RunQuery(HistoryResultSet& rs, HistoryDb& db, int days) {
  if (!rs.Open(tallyglass::db::BuildHistoryQuery(Inputs(days), db.engine()))) {
    std::fprintf(stderr, "query: %s\n", qPrintable(rs.LastError()));
    std::exit(1);
  }
  PriceStats s;
  if (!rs.ComputeStatistics(&s)) {
    std::fprintf(stderr, "statistics: %s\n", qPrintable(rs.LastError()));
    std::exit(1);
  }
  return s;
}
#endif

// The sqlite3 tool's plain table scan of the same condition.
double CliScanMs(const std::string& file, int days, long long* count) {
  const std::string sql = "SELECT count(*) FROM History NOT INDEXED WHERE Title like '%" +
                          std::string(gKeyword) + "%' AND bidTime > " + std::to_string(kToday - days);
  const std::string cmd = "sqlite3 '" + file + "' \"" + sql + "\"";
  const auto t0 = std::chrono::steady_clock::now();
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return -1;
  char buf[64] = {};
  if (!std::fgets(buf, sizeof buf, p)) buf[0] = 0;
  const int rc = pclose(p);
  const double ms = Ms(std::chrono::steady_clock::now() - t0);
  if (rc != 0) return -1;
  *count = std::atoll(buf);
  return ms;
}

// Peak resident memory added by opening the window's whole-table view and
// running the two queries.
#if defined(TG_KEYWORD_INDEX)
// The walk's cost of storing rows on PostgreSQL, with the triggers that mark
// them for the keyword lists and without (as before the lists): 20 000 new
// rows in batches of 100, taken out again afterwards.
void PgStore(HistoryDb& db) {
  QSqlQuery q(db.Database());
  std::mt19937 rng(7);
  auto store = [&](const char* label) {
    const std::int32_t base = 2000000000;
    const auto t0 = std::chrono::steady_clock::now();
    for (int b = 0; b < 200; ++b) {
      std::vector<tallyglass::db::HistoryRecord> batch;
      for (int i = 0; i < 100; ++i) {
        tallyglass::db::HistoryRecord r;
        r.nProductId = base + b * 100 + i;
        r.strTitle = QString::fromUtf8(kBrands[rng() % std::size(kBrands)]) + ' ' +
                     QString::fromUtf8(kThings[rng() % std::size(kThings)]) + ' ' +
                     QString::fromUtf8(kWords[rng() % std::size(kWords)]);
        r.nTrxPrice = 50 + static_cast<int>(rng() % 20000);
        r.strBuyerName = QStringLiteral("jd_1");
        r.nPrice = r.nTrxPrice;
        r.nBidTime = kToday;
        batch.push_back(r);
      }
      std::size_t saved = 0;
      QString error;
      if (!tallyglass::db::AppendBatch(&db, batch, &saved, &error)) {
        std::fprintf(stderr, "store: %s\n", qPrintable(error));
        return;
      }
    }
    std::printf("  storing 20000 rows in batches of 100, %s: %.0f us per row\n", label,
                Ms(std::chrono::steady_clock::now() - t0) * 1000.0 / 20000);
    q.exec(QStringLiteral("DELETE FROM \"History\" WHERE \"ProductID\" >= %1").arg(base));
  };
  for (int round = 0; round < 2; ++round) {
    store("marked for the keyword lists");
    // The marks of rows stored and taken out again go.
    std::int64_t moved = 0;
    QString error;
    while (tallyglass::db::MergePgFresh(db.Database(), 5000, &moved, &error) && moved > 0) {
    }
    q.exec("ALTER TABLE \"History\" DISABLE TRIGGER USER");
    store("unmarked (no keyword lists)");
    q.exec("ALTER TABLE \"History\" ENABLE TRIGGER USER");
  }
}
#endif

void Memory(HistoryDb& db, const char* engine) {
  const long before = StatusKiB("VmRSS:");
  ResetPeak();
  // The window's one result set, as it opens and then queries.
  HistoryResultSet rs(&db);
  {
    const auto t0 = std::chrono::steady_clock::now();
    if (!OpenWholeTable(rs)) {
      std::fprintf(stderr, "whole table: %s\n", qPrintable(rs.LastError()));
      std::exit(1);
    }
    const double openMs = Ms(std::chrono::steady_clock::now() - t0);
    const long afterOpen = StatusKiB("VmHWM:");
    std::printf("  %s whole-table view: %d rows in the grid after %.1f ms; peak %.1f MB (+%.1f MB)\n", engine,
                rs.Model()->rowCount(), openMs, afterOpen / 1024.0, (afterOpen - before) / 1024.0);
  }
  if (gScroll) {
    // Scrolls the grid from the first row to the last, page by page as the
    // view asks, and back to the first, reading every row shown.
    ResetPeak();
    const auto t0 = std::chrono::steady_clock::now();
    QAbstractItemModel* m = rs.Model();
    auto show = [&](int row) {
      QVariant v = m->index(row, 0).data();
      while (v.isNull()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
        v = m->index(row, 0).data();
      }
    };
    while (m->canFetchMore({}) || rs.Fetching()) {
      if (m->canFetchMore({})) m->fetchMore({});
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
      if (m->rowCount() > 0) show(m->rowCount() - 1);
    }
    const int total = m->rowCount();
    for (int row = total - 1; row >= 0; row -= 200) show(row);
    show(0);
    const long peak = StatusKiB("VmHWM:");
    std::printf("  %s scrolling the whole grid (%d rows) down and back up: %.1f s, peak %.1f MB (+%.1f MB)\n",
                engine, total, Ms(std::chrono::steady_clock::now() - t0) / 1000.0, peak / 1024.0,
                (peak - before) / 1024.0);
  }
  ResetPeak();
  RunQuery(rs, db, 5000);
  RunQuery(rs, db, 15);
  const long peak = StatusKiB("VmHWM:");
  std::printf("  %s queries (5000 and 15 days): peak %.1f MB (+%.1f MB over %.1f MB before)\n", engine,
              peak / 1024.0, (peak - before) / 1024.0, before / 1024.0);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  long long rows = 5000000, pgRows = 1000000;
  int runs = 5;
  bool pgOnly = false, pgKeep = false;
  std::string file;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto next = [&] { return i + 1 < argc ? std::string(argv[++i]) : std::string(); };
    if (a == "--rows") {
      rows = std::atoll(next().c_str());
    } else if (a == "--db") {
      file = next();
    } else if (a == "--pg-rows") {
      pgRows = std::atoll(next().c_str());
    } else if (a == "--pg-only") {
      pgOnly = true;
    } else if (a == "--pg-keep") {
      pgKeep = true;
    } else if (a == "--no-scroll") {
      gScroll = false;
    } else if (a == "--random-days") {
      gRandomDays = true;
    } else if (a == "--runs") {
      runs = std::max(1, std::atoi(next().c_str()));
    } else {
      std::printf(
          "tallyglass_query_bench [--rows N] [--db FILE] [--pg-rows N] [--runs N] [--random-days] "
          "[--no-scroll] "
          "[--pg-only] [--pg-keep]\n"
          "Keyword queries (rows for the grid plus the statistics) over a generated history of ten\n"
          "years, ids rising with the closing day (or, --random-days, closing days in no relation to\n"
          "the ids). Keywords of 1, 2 and 3+ characters in 1%% and in 0.01%% of the titles, over every\n"
          "day (5000) and over the last 15 days:\n"
          "  tool scan   the sqlite3 tool's plain table scan (NOT INDEXED, count(*)) of the same condition\n"
          "  query       the program's query with its statistics, median of --runs; first while the\n"
          "              keyword index is missing (the scan, as before the index), then from the index\n"
          "              (goal <= 50 ms and >= 20x the scan at 5 M rows)\n"
          "  same        the query's count equals the scan's\n"
          "  index       the time to build the keyword index on an existing history, and its size\n"
          "  memory      peak resident memory of the whole-table view, of scrolling the whole grid\n"
          "              down and back up (--no-scroll: not), and of the queries\n"
          "Run through tests/tallyglass/pg_server.sh to add the same on PostgreSQL (--pg-rows rows);\n"
          "--pg-keep: a server already holding --pg-rows rows keeps them (and their index).\n");
      return a == "--help" || a == "-h" ? 0 : 2;
    }
  }
  if (file.empty()) {
    file = "/tmp/tallyglass-bench/" + std::to_string(rows) + (gRandomDays ? "-random-days" : "") +
           "/History.sqlite";
  }
  const QString dir = QFileInfo(QString::fromStdString(file)).absolutePath();
  QDir().mkpath(dir);

  if (!pgOnly && !QFileInfo::exists(QString::fromStdString(file))) {
    const auto t0 = std::chrono::steady_clock::now();
    if (!GenerateSqlite(file + ".part", rows)) return 1;
    std::rename((file + ".part").c_str(), file.c_str());
    std::printf("generated %lld rows in %.0f ms: %s\n", rows, Ms(std::chrono::steady_clock::now() - t0),
                file.c_str());
  }
  if (!pgOnly)
    std::printf("SQLite, %lld rows, %s (%s)\n", rows,
                gRandomDays ? "random closing days" : "ids rising with the day", file.c_str());
  if (!pgOnly) {
    HistoryDb db;
    const auto t0 = std::chrono::steady_clock::now();
    if (!db.Open(dir, {})) {
      std::fprintf(stderr, "database: %s\n", qPrintable(db.LastError()));
      return 1;
    }
    std::printf("  open: %.0f ms\n", Ms(std::chrono::steady_clock::now() - t0));
    bool agree = true;
    // Before the index: the scan's answer, by the program and by the tool;
    // after: the index's, against the tool's scan again.
    auto pass = [&](const char* label) {
      std::printf("  %s\n  %-10s %-6s %-5s %9s %11s %11s %7s %8s\n", label, "keyword", "share", "days",
                  "matches", "tool scan", "query", "scan/q", "same");
      for (const Keyword& k : kKeywords) {
        gKeyword = k.word;
        for (int days : {5000, 15}) {
          long long scanCount = 0;
          CliScanMs(file, days, &scanCount);  // warms the page cache
          Figures scan;
          for (int i = 0; i < runs; ++i) scan.ms.push_back(CliScanMs(file, days, &scanCount));
          HistoryResultSet rs(&db);
          PriceStats st;
          Figures q = Time(runs, [&] { st = RunQuery(rs, db, days); });
          const bool same = st.count == scanCount;
          agree = agree && same;
          std::printf("  %-10s %-6s %-5d %9lld %8.1f ms %8.1f ms %7.1f %8s\n", k.word, k.share, days,
                      static_cast<long long>(st.count), scan.Median(), q.Median(), scan.Median() / q.Median(),
                      same ? "yes" : "NO");
        }
      }
    };
#if defined(TG_KEYWORD_INDEX)
    const std::int64_t before = QFileInfo(QString::fromStdString(file)).size();
    const bool indexed = tallyglass::db::KeywordIndexReady(db.Database(), db.engine());
    if (!indexed) pass("by the scan (no keyword index yet: the program before it)");
    if (!indexed) {
      const auto b0 = std::chrono::steady_clock::now();
      tallyglass::db::IndexBuilder builder(db);
      bool finished = false;
      builder.Start({[](const QString& d) { std::fprintf(stderr, "damage: %s\n", qPrintable(d)); },
                     {},
                     [&](bool ok, const QString& error) {
                       finished = true;
                       if (!ok) std::fprintf(stderr, "index: %s\n", qPrintable(error));
                     }});
      while (!finished) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
      db.Database().exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
      std::printf("  keyword index built on the worker in %.1f s (with the file's integrity check)\n",
                  Ms(std::chrono::steady_clock::now() - b0) / 1000.0);
    }
    QSqlQuery size(db.Database());
    // The index is every table named HistoryKeyword...: the grams and the
    // facts beside them.
    if (size.exec(QStringLiteral("SELECT (SELECT sum(pgsize) FROM dbstat WHERE name LIKE 'HistoryKeyword%'), "
                                 "(SELECT sum(pgsize) FROM dbstat WHERE name = 'History')")) &&
        size.next()) {
      std::printf(
          "  keyword index on disk: %.1f MB (the table History: %.1f MB); the file: %.1f MB (%.1f MB before "
          "the build)\n",
          size.value(0).toDouble() / 1048576.0, size.value(1).toDouble() / 1048576.0,
          QFileInfo(QString::fromStdString(file)).size() / 1048576.0, before / 1048576.0);
    }
    pass("from the keyword index");
#else
    pass("the program without a keyword index");
#endif
    gKeyword = "手机";
    Memory(db, "SQLite");
    if (!agree) {
      std::fprintf(stderr, "the query and the scan disagree\n");
      return 1;
    }
  }

  const QString pg = qEnvironmentVariable("TALLYGLASS_TEST_PG");
  if (pg.isEmpty()) {
    std::printf("PostgreSQL: not run (start through tests/tallyglass/pg_server.sh)\n");
    return 0;
  }
  std::printf("PostgreSQL, %lld rows, %s\n", pgRows,
              gRandomDays ? "random closing days" : "ids rising with the day");
  HistoryDb db;
  if (!db.Open(dir, pg)) {
    std::fprintf(stderr, "database: %s\n", qPrintable(db.LastError()));
    return 1;
  }
  bool kept = false;
  if (pgKeep) {
    QSqlQuery n(db.Database());
    kept = n.exec("SELECT count(*) FROM \"History\"") && n.next() && n.value(0).toLongLong() == pgRows;
  }
  if (kept) {
    std::printf("  the rows of an earlier run kept\n");
  } else {
    const auto t0 = std::chrono::steady_clock::now();
    if (!GeneratePostgres(db, pgRows)) return 1;
    std::printf("  generated in %.0f ms\n", Ms(std::chrono::steady_clock::now() - t0));
  }
  auto pgPass = [&](const char* label) {
    std::printf("  %s\n  %-10s %-6s %-5s %9s %11s %11s %8s\n", label, "keyword", "share", "days", "matches",
                "plain scan", "query", "same");
    for (const Keyword& k : kKeywords) {
      gKeyword = k.word;
      for (int days : {5000, 15}) {
        QSqlQuery scanQ(db.Database());
        long long scanCount = 0;
        Figures scan = Time(runs, [&] {
          scanQ.exec(QStringLiteral("SET enable_bitmapscan = off"));
          scanQ.exec(QStringLiteral("SELECT count(*) FROM \"History\" WHERE \"Title\" ilike '%%1%' AND "
                                    "\"bidTime\" > %2")
                         .arg(QString::fromUtf8(k.word))
                         .arg(kToday - days));
          scanQ.next();
          scanCount = scanQ.value(0).toLongLong();
          scanQ.exec(QStringLiteral("RESET enable_bitmapscan"));
        });
        HistoryResultSet rs(&db);
        PriceStats st;
        Time(1, [&] { st = RunQuery(rs, db, days); });
        Figures q = Time(runs, [&] { st = RunQuery(rs, db, days); });
        std::printf("  %-10s %-6s %-5d %9lld %8.1f ms %8.1f ms %8s\n", k.word, k.share, days,
                    static_cast<long long>(st.count), scan.Median(), q.Median(),
                    st.count == scanCount ? "yes" : "NO");
      }
    }
  };
#if defined(TG_KEYWORD_INDEX)
  if (!kept || !tallyglass::db::KeywordIndexReady(db.Database(), db.engine()))
    pgPass("by the scan (no keyword index yet)");
  if (tallyglass::db::KeywordIndexReady(db.Database(), db.engine())) {
    std::printf("  keyword index kept from an earlier run\n");
  } else {
    const auto b0 = std::chrono::steady_clock::now();
    tallyglass::db::IndexBuilder builder(db);
    bool finished = false;
    builder.Start({{},
                   [](std::int64_t done, std::int64_t total) {
                     std::fprintf(stderr, "\r  building the keyword index: %lld/%lld rows ",
                                  static_cast<long long>(done), static_cast<long long>(total));
                   },
                   [&](bool ok, const QString& error) {
                     std::fprintf(stderr, "\n");
                     finished = true;
                     if (!ok) std::fprintf(stderr, "index: %s\n", qPrintable(error));
                   }});
    while (!finished) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    std::printf("  keyword index built in %.1f s\n", Ms(std::chrono::steady_clock::now() - b0) / 1000.0);
  }
  {
    QSqlQuery size(db.Database());
    // The GIN index, then the lists beside it with their keys.
    if (size.exec("SELECT pg_relation_size('\"History_grams\"'), (SELECT sum(pg_total_relation_size(c.oid)) "
                  "FROM pg_class c WHERE c.relname IN ('HistoryKeywordPosts', 'HistoryKeywordPacks', "
                  "'HistoryKeywordFresh', 'HistoryKeywordState')), pg_relation_size('\"History\"')") &&
        size.next())
      std::printf(
          "  keyword index on disk: %.1f MB (GIN %.1f MB, lists and packs %.1f MB); the table: %.1f MB\n",
          (size.value(0).toDouble() + size.value(1).toDouble()) / 1048576.0,
          size.value(0).toDouble() / 1048576.0, size.value(1).toDouble() / 1048576.0,
          size.value(2).toDouble() / 1048576.0);
  }
  pgPass("from the keyword index");
#else
  pgPass("the program without a keyword index");
#endif
  gKeyword = "手机";
  Memory(db, "PostgreSQL");
#if defined(TG_KEYWORD_INDEX)
  PgStore(db);
#endif
  return 0;
}
