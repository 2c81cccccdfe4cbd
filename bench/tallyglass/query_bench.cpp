// The history query (keywords plus the statistics pass) over a generated
// history of a million rows in SQLite: latency and peak memory. The baseline
// is the engine alone answering the same conditions with aggregates in one
// statement, which is as fast as the query can be.
//
//   tallyglass_query_bench [ROWS=1000000]
#include <QCoreApplication>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QVariant>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>

#include "tallyglass/db/history_db.h"
#include "tallyglass/db/query.h"

namespace {

// Peak resident memory since the last reset, in KiB (Linux).
long PeakKiB() {
  std::ifstream f("/proc/self/status");
  std::string line;
  while (std::getline(f, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}
long CurrentKiB() {
  std::ifstream f("/proc/self/status");
  std::string line;
  while (std::getline(f, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}
void ResetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

double Since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

const char* kBrands[] = {"华为 HUAWEI", "小米 Redmi",    "Apple",      "联想 Lenovo", "戴尔 DELL",
                         "索尼 SONY",   "佳能 Canon",    "海尔 Haier", "美的 Midea",  "OPPO",
                         "vivo",        "罗技 Logitech", "飞利浦",     "九阳",        "格力"};
const char* kThings[] = {"手机", "手机壳", "笔记本", "显示器", "耳机", "鼠标",   "相机",     "冰箱",
                         "空调", "电饭煲", "手表",   "平板",   "键盘", "路由器", "电动牙刷", "吸尘器"};
const char* kWords[] = {"全新", "二手", "95新", "国行", "黑色", "白色", "银色", "128G",
                        "256G", "旗舰", "官方", "标配", "套装", "礼盒", "限量"};

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int rows = argc > 1 ? std::atoi(argv[1]) : 1000000;
  constexpr std::int32_t kToday = 16041;

  QTemporaryDir dir;
  tallyglass::db::HistoryDb db;
  if (!db.Open(dir.path(), {})) {
    std::fprintf(stderr, "database: %s\n", qPrintable(db.LastError()));
    return 1;
  }
  {
    const auto t0 = std::chrono::steady_clock::now();
    std::mt19937 rng(7);
    QSqlDatabase d = db.Database();
    d.transaction();
    QSqlQuery q(d);
    q.prepare(
        "INSERT INTO History (ProductID,Title,trxPrice,trxBuyerName,Price,bidTime) VALUES (?,?,?,?,?,?)");
    for (int i = 0; i < rows; ++i) {
      std::string title =
          std::string(kBrands[rng() % std::size(kBrands)]) + " " + kThings[rng() % std::size(kThings)];
      for (int w = 0; w < 3; ++w) title += std::string(" ") + kWords[rng() % std::size(kWords)];
      const int list = 50 + static_cast<int>(rng() % 20000);
      q.addBindValue(1000001 + i);
      q.addBindValue(QString::fromStdString(title));
      q.addBindValue(static_cast<int>(list * (0.2 + (rng() % 80) / 100.0)));
      q.addBindValue(QStringLiteral("jd_%1").arg(rng() % 50000));
      q.addBindValue(list);
      q.addBindValue(kToday - static_cast<int>(rng() % 3650));
      q.exec();
    }
    d.commit();
    std::printf("generated %d rows in %.0f ms\n", rows, Since(t0));
  }

  tallyglass::db::QueryInputs in;
  in.today = kToday;
  in.days = 5000;  // the whole history
  in.include[0] = "手机";
  in.exclude[0] = "壳";
  in.include[1] = "128G";
  const tallyglass::db::Statement s = tallyglass::db::BuildHistoryQuery(in, db.engine());

  // Baseline: the same conditions, aggregates computed by the engine.
  double baseMs;
  long long baseCount = 0;
  {
    QString sql = s.sql;
    sql.replace("SELECT ProductID,Title,trxPrice,trxBuyerName,Price",
                "SELECT count(*),max(trxPrice),min(trxPrice),avg(trxPrice)");
    const auto t0 = std::chrono::steady_clock::now();
    QSqlQuery q(db.Database());
    q.prepare(sql);
    for (const QVariant& v : s.params) q.addBindValue(v);
    q.exec();
    q.next();
    baseCount = q.value(0).toLongLong();
    baseMs = Since(t0);
  }

  const long rssBefore = CurrentKiB();
  ResetPeak();
  const auto t0 = std::chrono::steady_clock::now();
  tallyglass::db::HistoryResultSet rs(&db);
  rs.Open(s);
  const double openMs = Since(t0);
  tallyglass::db::PriceStats stats;
  rs.ComputeStatistics(&stats);
  const double totalMs = Since(t0);
  const long peak = PeakKiB();

  std::printf("query over %d rows: %lld matches (engine: %lld), max %d min %d avg %u\n", rows,
              static_cast<long long>(stats.count), baseCount, stats.max, stats.min, stats.avg);
  std::printf("  first page in the grid:    %.1f ms\n", openMs);
  std::printf("  with statistics:           %.1f ms\n", totalMs);
  std::printf("  engine aggregate baseline: %.1f ms\n", baseMs);
  std::printf("  query / baseline:          %.2f\n", baseMs > 0 ? totalMs / baseMs : 0.0);
  std::printf("  peak memory added:         %ld KiB (resident before: %ld KiB)\n", peak - rssBefore,
              rssBefore);
  return stats.count == baseCount ? 0 : 1;
}
