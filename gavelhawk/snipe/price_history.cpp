#include "gavelhawk/snipe/price_history.h"

#include <QAtomicInt>
#include <QFileInfo>
#include <QHash>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QUrlQuery>
#include <algorithm>
#include <optional>

#include "platform/text/gbk.h"
#include "tallyglass/crawl/walk.h"
#include "tallyglass/db/history_db.h"
#include "tallyglass/db/stats.h"

namespace gavelhawk::snipe {

namespace {

// Statements stay well under every engine's limit of bound values.
constexpr std::size_t kTitlesPerStatement = 400;

QString EngineText(const QSqlError& e) {
  QString t = e.databaseText().trimmed();
  if (t.isEmpty()) t = e.driverText().trimmed();
  return t.isEmpty() ? e.text().trimmed() : t;
}

// Every character QString::trimmed() takes away, so that the engine trims a
// stored title exactly as the asked one is trimmed here.
const QString& WhiteSpace() {
  static const QString chars = [] {
    QString s;
    for (char16_t c = 0; c < 0xFFFF; ++c)
      if (QChar(c).isSpace()) s += QChar(c);
    return s;
  }();
  return chars;
}

// The title as Tallyglass stores it, trimmed.
QString StoredTitle(std::string_view gbk) {
  return QString::fromStdString(tallyglass::crawl::DecodeEntities(platform::text::GbkToUtf8(gbk))).trimmed();
}

// A server that does not answer holds up the lookup, never the window; still
// it should not hold it for long.
QString WithConnectTimeout(const QString& url) {
  QUrl u(url, QUrl::StrictMode);
  QUrlQuery q(u);
  if (!u.isValid() || q.hasQueryItem(QStringLiteral("connect_timeout"))) return url;
  q.addQueryItem(QStringLiteral("connect_timeout"), QStringLiteral("3"));
  u.setQuery(q);
  return u.toString(QUrl::FullyEncoded);
}

class Connection {
 public:
  Connection() {
    static QAtomicInt counter;
    name_ = QStringLiteral("gavelhawk-history-%1").arg(counter.fetchAndAddRelaxed(1));
  }
  ~Connection() {
    if (!QSqlDatabase::contains(name_)) return;
    QSqlDatabase::database(name_, false).close();
    QSqlDatabase::removeDatabase(name_);
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // False with *error empty: there is no history to read.
  bool Open(const HistorySource& source, QString* error) {
    QSqlDatabase db;
    if (source.databaseUrl.isEmpty()) {
      const QString path =
          source.dataDir + QLatin1Char('/') + QLatin1String(tallyglass::db::kDatabaseFileName);
      const QFileInfo file(path);
      if (!file.exists()) return false;
      if (!file.isFile()) {
        *error = path + QStringLiteral(": not a file");
        return false;
      }
      db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name_);
      // Tallyglass keeps its file in WAL mode, where even a read-only
      // connection leaves a -wal and a -shm file behind. Without a -wal file
      // nobody writes the database (a checkpoint of a crawl that starts
      // meanwhile shows as an error, not as wrong prices), so it is read as it
      // lies and nothing is made beside it.
      if (QFileInfo::exists(path + QStringLiteral("-wal"))) {
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=1000"));
      } else {
        db.setDatabaseName(QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded) +
                           QStringLiteral("?immutable=1"));
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_OPEN_URI"));
      }
    } else {
      const std::optional<tallyglass::db::PgAddress> a =
          tallyglass::db::ParsePgUrl(WithConnectTimeout(source.databaseUrl));
      if (!a) {
        *error = QStringLiteral("TALLYGLASS_DATABASE is not a postgresql:// address");
        return false;
      }
      pg_ = true;
      db = tallyglass::db::AddPgConnection(*a, name_);
    }
    if (!db.isValid()) {
      *error = QStringLiteral("the Qt Sql driver is not installed");
      return false;
    }
    if (!db.open()) {
      *error = EngineText(db.lastError());
      return false;
    }
    if (pg_) QSqlQuery(db).exec(QStringLiteral("SET default_transaction_read_only = on"));
    return true;
  }

  // Prices and their counts per trimmed title, for the sales since `firstDay`.
  bool Read(const QStringList& titles, std::int32_t firstDay,
            QHash<QString, tallyglass::db::PriceCounts>* out, QString* error) {
    QString marks;
    for (qsizetype i = 0; i < titles.size(); ++i) marks += i ? QStringLiteral(",?") : QStringLiteral("?");
    const QString sql =
        pg_ ? QStringLiteral(
                  "SELECT btrim(\"Title\", ?), \"trxPrice\", COUNT(*) FROM \"History\" WHERE \"bidTime\" >= "
                  "? "
                  "AND \"trxPrice\" IS NOT NULL AND btrim(\"Title\", ?) IN (%1) GROUP BY 1, 2")
            : QStringLiteral(
                  "SELECT trim(Title, ?), trxPrice, COUNT(*) FROM History WHERE bidTime >= ? "
                  "AND trxPrice IS NOT NULL AND trim(Title, ?) IN (%1) GROUP BY 1, 2");
    QSqlQuery q(QSqlDatabase::database(name_, false));
    q.setForwardOnly(true);
    if (!q.prepare(sql.arg(marks))) {
      *error = EngineText(q.lastError());
      return false;
    }
    q.addBindValue(WhiteSpace());
    q.addBindValue(firstDay);
    q.addBindValue(WhiteSpace());
    for (const QString& t : titles) q.addBindValue(t);
    if (!q.exec()) {
      *error = EngineText(q.lastError());
      return false;
    }
    while (q.next()) (*out)[q.value(0).toString()][q.value(1).toLongLong()] += q.value(2).toLongLong();
    if (q.lastError().isValid()) {
      *error = EngineText(q.lastError());
      return false;
    }
    return true;
  }

 private:
  QString name_;
  bool pg_ = false;
};

}  // namespace

HistorySource HistorySourceFromEnvironment(const std::function<const char*(const char*)>& getenv, bool demo) {
  HistorySource s;
  const auto env = [&](const char* name) {
    const char* v = getenv(name);
    return v ? QString::fromLocal8Bit(v) : QString();
  };
  s.databaseUrl = env("TALLYGLASS_DATABASE");
  s.dataDir = env("TALLYGLASS_DATA_DIR");
  if (s.dataDir.isEmpty())
    s.dataDir = demo ? tallyglass::db::DemoDataDir() : tallyglass::db::DefaultDataDir();
  return s;
}

std::int32_t DayNumber(std::int64_t epochMs) {
  constexpr std::int64_t kDayMs = 86'400'000;
  std::int64_t day = epochMs / kDayMs;
  if (epochMs % kDayMs < 0) --day;
  return static_cast<std::int32_t>(day);
}

std::vector<PriceHistory> LookUpPriceHistories(const HistorySource& source,
                                               const std::vector<std::string>& gbkTitles,
                                               std::int64_t nowMs) {
  std::vector<PriceHistory> answers(gbkTitles.size());
  QStringList titles;
  for (const std::string& t : gbkTitles) titles << StoredTitle(t);
  // An empty title is a page that was not read, not an item.
  QStringList asked;
  for (const QString& t : titles)
    if (!t.isEmpty() && !asked.contains(t)) asked << t;
  if (asked.isEmpty()) return answers;

  Connection c;
  QString error;
  QHash<QString, tallyglass::db::PriceCounts> counts;
  bool ok = c.Open(source, &error);
  for (qsizetype i = 0; ok && i < asked.size(); i += kTitlesPerStatement)
    ok = c.Read(asked.mid(i, kTitlesPerStatement), DayNumber(nowMs) - kHistoryDays, &counts, &error);
  for (std::size_t i = 0; i < answers.size(); ++i) {
    PriceHistory& h = answers[i];
    if (titles[static_cast<qsizetype>(i)].isEmpty()) continue;
    if (!ok) {
      h.error = error.toStdString();
      continue;
    }
    h.present = true;
    const auto found = counts.constFind(titles[static_cast<qsizetype>(i)]);
    if (found == counts.constEnd()) continue;
    for (const auto& [price, n] : *found) h.count += n;
    h.median = tallyglass::db::MedianOf(*found);
  }
  return answers;
}

PriceHistory LookUpPriceHistory(const HistorySource& source, std::string_view gbkTitle, std::int64_t nowMs) {
  return LookUpPriceHistories(source, {std::string(gbkTitle)}, nowMs).front();
}

std::string HistoryLabelText(const PriceHistory& h) {
  if (!h.present) return {};
  if (h.count == 0) return "历史成交：无";
  return "历史成交：中位¥" + std::to_string(h.median) + "，" + std::to_string(h.count) + "次（近" +
         std::to_string(kHistoryDays) + "天）";
}

std::string HistoryEventLine(std::int64_t dealId, const PriceHistory& h) {
  if (!h.present || h.count == 0) return {};
  return "event=history id=" + std::to_string(dealId) + " median=" + std::to_string(h.median) +
         " count=" + std::to_string(h.count);
}

PriceHistoryLookup::PriceHistoryLookup(HistorySource source)
    : source_(std::move(source)), worker_([this] { Run(); }) {}

PriceHistoryLookup::~PriceHistoryLookup() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
    queue_.clear();
  }
  wake_.notify_one();
  worker_.join();
}

void PriceHistoryLookup::LookUp(std::vector<std::string> gbkTitles, std::int64_t nowMs, Done done) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back({std::move(gbkTitles), nowMs, std::move(done)});
  }
  wake_.notify_one();
}

void PriceHistoryLookup::Run() {
  for (;;) {
    Request r;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [this] { return stop_ || !queue_.empty(); });
      if (stop_) return;
      r = std::move(queue_.front());
      queue_.pop_front();
    }
    std::vector<PriceHistory> answers = LookUpPriceHistories(source_, r.titles, r.nowMs);
    if (r.done) r.done(std::move(answers));
  }
}

}  // namespace gavelhawk::snipe
