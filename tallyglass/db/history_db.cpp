#include "tallyglass/db/history_db.h"

#include <QAtomicInt>
#include <QSqlError>
#include <QSqlIndex>
#include <QSqlQuery>
#include <QSqlQueryModel>
#include <QSqlRecord>
#include <QStandardPaths>
#include <QUrl>
#include <QUrlQuery>
#include <algorithm>
#include <filesystem>
#include <limits>
#include <system_error>

namespace tallyglass::db {

namespace {

QString EngineText(const QSqlError& e) {
  QString t = e.databaseText().trimmed();
  if (t.isEmpty()) t = e.driverText().trimmed();
  if (t.isEmpty()) t = e.text().trimmed();
  return t;
}

QString NextConnectionName() {
  static QAtomicInt counter;
  return QStringLiteral("tallyglass-%1").arg(counter.fetchAndAddRelaxed(1));
}

std::int32_t ClampToInt32(std::int64_t v) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, std::numeric_limits<std::int32_t>::min(),
                                                            std::numeric_limits<std::int32_t>::max()));
}

}  // namespace

QString DefaultDataDir() {
  QString dir = qEnvironmentVariable("TALLYGLASS_DATA_DIR");
  if (!dir.isEmpty()) return dir;
  return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
         QStringLiteral("/Tallyglass");
}

std::optional<PgAddress> ParsePgUrl(const QString& url) {
  QUrl u(url, QUrl::StrictMode);
  if (!u.isValid()) return std::nullopt;
  if (u.scheme() != QLatin1String("postgresql") && u.scheme() != QLatin1String("postgres"))
    return std::nullopt;
  PgAddress a;
  a.host = u.host();
  a.port = u.port(-1);
  a.user = u.userName(QUrl::FullyDecoded);
  a.password = u.password(QUrl::FullyDecoded);
  a.database = u.path(QUrl::FullyDecoded);
  if (a.database.startsWith(QLatin1Char('/'))) a.database.remove(0, 1);
  QStringList options;
  bool timeoutGiven = false;
  for (const auto& [key, value] : QUrlQuery(u).queryItems(QUrl::FullyDecoded)) {
    // A socket folder or a host list comes as ?host=...; the rest are
    // libpq keywords, passed on.
    if (key == QLatin1String("host")) {
      a.host = value;
      continue;
    }
    if (key.contains(QLatin1Char(';')) || value.contains(QLatin1Char(';'))) return std::nullopt;
    if (key == QLatin1String("connect_timeout")) timeoutGiven = true;
    options << key + QLatin1Char('=') + value;
  }
  // A server that does not answer must not freeze the start for minutes.
  if (!timeoutGiven) options << QStringLiteral("connect_timeout=10");
  a.options = options.join(QLatin1Char(';'));
  return a;
}

HistoryDb::HistoryDb() : name_(NextConnectionName()) {}

HistoryDb::~HistoryDb() {
  Close();
  if (QSqlDatabase::contains(name_)) QSqlDatabase::removeDatabase(name_);
}

QSqlDatabase HistoryDb::Database() const { return QSqlDatabase::database(name_, false); }

bool HistoryDb::IsOpen() const { return QSqlDatabase::contains(name_) && Database().isOpen(); }

void HistoryDb::Close() {
  if (!QSqlDatabase::contains(name_)) return;
  QSqlDatabase db = Database();
  if (db.isOpen()) db.close();
}

QString HistoryDb::Ident(const QString& name) const {
  return engine_ == Engine::Postgres ? QLatin1Char('"') + name + QLatin1Char('"') : name;
}

bool HistoryDb::Open(const QString& dataDir, const QString& databaseUrl) {
  Close();
  if (QSqlDatabase::contains(name_)) QSqlDatabase::removeDatabase(name_);
  lastError_.clear();

  // The folder holds endID.dat in either case.
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(dataDir.toStdString()), ec);
  if (ec) {
    lastError_ = QStringLiteral("%1: %2").arg(dataDir, QString::fromLocal8Bit(ec.message()));
    return false;
  }

  QSqlDatabase db;
  if (databaseUrl.isEmpty()) {
    engine_ = Engine::Sqlite;
    db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name_);
    db.setDatabaseName(dataDir + QLatin1Char('/') + QLatin1String(kDatabaseFileName));
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
  } else {
    std::optional<PgAddress> a = ParsePgUrl(databaseUrl);
    if (!a) {
      lastError_ = QStringLiteral("TALLYGLASS_DATABASE is not a postgresql:// address");
      return false;
    }
    engine_ = Engine::Postgres;
    db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name_);
    db.setHostName(a->host);
    if (a->port > 0) db.setPort(a->port);
    db.setUserName(a->user);
    db.setPassword(a->password);
    db.setDatabaseName(a->database);
    db.setConnectOptions(a->options);
  }
  if (!db.isValid()) {
    lastError_ = EngineText(db.lastError());
    if (lastError_.isEmpty()) lastError_ = QStringLiteral("the Qt Sql driver is not installed");
    return false;
  }
  if (!db.open()) {
    lastError_ = EngineText(db.lastError());
    return false;
  }
  // SQLite opens any file lazily; the first statement is what finds out that
  // it is not a database.
  if (!CreateMissing()) {
    if (engine_ == Engine::Sqlite) lastError_ = db.databaseName() + QStringLiteral(": ") + lastError_;
    db.close();
    return false;
  }
  if (engine_ == Engine::Sqlite && !CheckSqliteFile(db.databaseName())) {
    db.close();
    return false;
  }
  return true;
}

bool HistoryDb::CheckSqliteFile(const QString& path) {
  QSqlQuery q(Database());
  // Damage is found now, naming the file, not at the first query.
  if (!q.exec(QStringLiteral("PRAGMA quick_check"))) {
    lastError_ = QStringLiteral("%1: %2").arg(path, EngineText(q.lastError()));
    return false;
  }
  QStringList problems;
  while (q.next()) {
    const QString line = q.value(0).toString();
    if (line != QLatin1String("ok")) problems << line;
  }
  if (!problems.isEmpty()) {
    lastError_ =
        QStringLiteral("%1: quick_check: %2").arg(path, problems.mid(0, 5).join(QStringLiteral("; ")));
    return false;
  }
  // The walk commits in batches; a write-ahead log keeps readers and the
  // writer out of each other's way and costs one sync per commit.
  q.exec(QStringLiteral("PRAGMA journal_mode=WAL"));
  return true;
}

bool HistoryDb::CreateMissing() {
  QSqlDatabase db = Database();
  QSqlQuery q(db);
  // The server's notices ("already exists, skipping") are no news.
  if (engine_ == Engine::Postgres) q.exec(QStringLiteral("SET client_min_messages TO WARNING"));
  const bool existed = db.tables().contains(QStringLiteral("History"), Qt::CaseInsensitive);
  if (!existed && db.lastError().isValid()) {
    lastError_ = EngineText(db.lastError());
    return false;
  }
  const QString create =
      engine_ == Engine::Postgres
          ? QStringLiteral(
                "CREATE TABLE IF NOT EXISTS \"History\" (\"ProductID\" integer PRIMARY KEY, \"Title\" text, "
                "\"trxPrice\" integer, \"trxBuyerName\" text, \"Price\" integer, \"bidTime\" integer)")
          : QStringLiteral(
                "CREATE TABLE IF NOT EXISTS History (ProductID INTEGER PRIMARY KEY, Title TEXT, trxPrice "
                "INTEGER, trxBuyerName TEXT, Price INTEGER, bidTime INTEGER)");
  if (!q.exec(create)) {
    lastError_ = EngineText(q.lastError());
    return false;
  }
  if (!q.exec(QStringLiteral("CREATE INDEX IF NOT EXISTS %1 ON %2 (%3)")
                  .arg(Ident(QStringLiteral("History_bidTime")), Ident(QStringLiteral("History")),
                       Ident(QStringLiteral("bidTime"))))) {
    lastError_ = EngineText(q.lastError());
    return false;
  }
  QSqlIndex key = db.primaryIndex(Ident(QStringLiteral("History")));
  const bool keyed =
      key.count() == 1 && key.fieldName(0).compare(QLatin1String("ProductID"), Qt::CaseInsensitive) == 0;
  if (existed && !keyed) {
    // A table made elsewhere may lack the key that keeps one row per
    // auction. Old duplicates make this fail; the table still works.
    q.exec(QStringLiteral("CREATE UNIQUE INDEX IF NOT EXISTS %1 ON %2 (%3)")
               .arg(Ident(QStringLiteral("History_ProductID")), Ident(QStringLiteral("History")),
                    Ident(QStringLiteral("ProductID"))));
  }
  return true;
}

void PriceStatsAccumulator::Add(std::int64_t price) {
  if (count_ == 0) {
    max_ = min_ = price;
  } else {
    max_ = std::max(max_, price);
    min_ = std::min(min_, price);
  }
  sum_ += price;
  ++count_;
}

PriceStats PriceStatsAccumulator::Result() const {
  PriceStats s;
  s.count = count_;
  if (count_ == 0) return s;
  s.max = ClampToInt32(max_);
  s.min = ClampToInt32(min_);
  std::int64_t avg = sum_ / count_;
  s.avg =
      static_cast<std::uint32_t>(std::clamp<std::int64_t>(avg, 0, std::numeric_limits<std::uint32_t>::max()));
  return s;
}

HistoryResultSet::HistoryResultSet(HistoryDb* db) : db_(db), model_(std::make_unique<QSqlQueryModel>()) {}

HistoryResultSet::~HistoryResultSet() = default;

QAbstractItemModel* HistoryResultSet::Model() const { return model_.get(); }

QStringList HistoryResultSet::FieldNames() const {
  QStringList names;
  QSqlRecord r = model_->record();
  for (int i = 0; i < r.count(); ++i) names << r.fieldName(i);
  return names;
}

void HistoryResultSet::SetCurrentRow(int row) {
  if (row < 0 || row >= model_->rowCount()) row = -1;
  if (row == current_) return;
  current_ = row;
  if (onCurrentRowChanged) onCurrentRowChanged(current_);
}

void HistoryResultSet::Close() {
  model_->clear();
  open_ = false;
  statement_ = {};
  SetCurrentRow(-1);
}

bool HistoryResultSet::Exec(const Statement& statement) {
  Close();
  lastError_.clear();
  if (!db_ || !db_->IsOpen()) {
    lastError_ = QStringLiteral("no database connection");
    return false;
  }
  QSqlQuery q(db_->Database());
  if (!q.prepare(statement.sql)) {
    lastError_ = EngineText(q.lastError());
    return false;
  }
  for (const QVariant& v : statement.params) q.addBindValue(v);
  if (!q.exec()) {
    lastError_ = EngineText(q.lastError());
    return false;
  }
  model_->setQuery(std::move(q));
  if (model_->lastError().isValid()) {
    lastError_ = EngineText(model_->lastError());
    model_->clear();
    return false;
  }
  statement_ = statement;
  open_ = true;
  // The first row is current, as a freshly opened result set's is.
  SetCurrentRow(model_->rowCount() > 0 ? 0 : -1);
  return true;
}

bool HistoryResultSet::OpenHistoryTable() {
  QString sql =
      QStringLiteral("SELECT * FROM %1").arg(db_ ? db_->Ident(QStringLiteral("History")) : "History");
  return Exec({sql, {}});
}

bool HistoryResultSet::Open(const Statement& statement) { return Exec(statement); }

bool HistoryResultSet::Requery() {
  if (!open_) return false;
  Statement s = statement_;
  return Exec(s);
}

std::optional<QVariant> HistoryResultSet::Collect(const QString& column) {
  lastError_.clear();
  if (current_ < 0) {
    lastError_ = QStringLiteral("no current row");
    return std::nullopt;
  }
  QSqlRecord r = model_->record(current_);
  int i = r.indexOf(column);
  if (i < 0) {
    lastError_ = QStringLiteral("no column %1").arg(column);
    return std::nullopt;
  }
  return r.value(i);
}

bool HistoryResultSet::ComputeStatistics(PriceStats* out) {
  lastError_.clear();
  *out = {};
  if (!open_ || !db_ || !db_->IsOpen()) {
    lastError_ = QStringLiteral("no open result");
    return false;
  }
  // A forward-only pass holds one row at a time, whatever the result's size.
  QSqlQuery q(db_->Database());
  q.setForwardOnly(true);
  if (!q.prepare(statement_.sql)) {
    lastError_ = EngineText(q.lastError());
    return false;
  }
  for (const QVariant& v : statement_.params) q.addBindValue(v);
  if (!q.exec()) {
    lastError_ = EngineText(q.lastError());
    return false;
  }
  int field = q.record().indexOf(QStringLiteral("trxPrice"));
  if (field < 0) {
    lastError_ = QStringLiteral("no column trxPrice");
    return false;
  }
  PriceStatsAccumulator acc;
  while (q.next()) acc.Add(q.value(field).toLongLong());
  if (q.lastError().isValid()) {
    lastError_ = EngineText(q.lastError());
    return false;
  }
  *out = acc.Result();
  SetCurrentRow(-1);
  return true;
}

bool HistoryResultSet::Append(const HistoryRecord& r, bool* stored) {
  lastError_.clear();
  if (stored) *stored = false;
  if (!db_ || !db_->IsOpen()) {
    lastError_ = QStringLiteral("no database connection");
    return false;
  }
  const bool pg = db_->engine() == Engine::Postgres;
  QString columns = QStringList{db_->Ident("ProductID"),    db_->Ident("Title"), db_->Ident("trxPrice"),
                                db_->Ident("trxBuyerName"), db_->Ident("Price"), db_->Ident("bidTime")}
                        .join(QLatin1Char(','));
  QString sql = pg ? QStringLiteral("INSERT INTO %1 (%2) VALUES (?,?,?,?,?,?) ON CONFLICT DO NOTHING")
                   : QStringLiteral("INSERT OR IGNORE INTO %1 (%2) VALUES (?,?,?,?,?,?)");
  sql = sql.arg(db_->Ident("History"), columns);
  QSqlQuery q(db_->Database());
  if (!q.prepare(sql)) {
    lastError_ = EngineText(q.lastError());
    return false;
  }
  q.addBindValue(r.nProductId);
  // A null QString would be stored as NULL, which no LIKE matches.
  auto text = [](const QString& s) { return s.isNull() ? QStringLiteral("") : s; };
  q.addBindValue(text(r.strTitle));
  q.addBindValue(r.nTrxPrice);
  q.addBindValue(text(r.strBuyerName));
  q.addBindValue(r.nPrice);
  q.addBindValue(r.nBidTime);
  if (!q.exec()) {
    lastError_ = EngineText(q.lastError());
    return false;
  }
  if (stored) *stored = q.numRowsAffected() > 0;
  return true;
}

bool AppendBatch(HistoryDb* db, const std::vector<HistoryRecord>& rows, std::size_t* saved, QString* error) {
  *saved = 0;
  error->clear();
  if (rows.empty()) return true;
  if (!db || !db->IsOpen()) {
    *error = QStringLiteral("no database connection");
    return false;
  }
  HistoryResultSet writer(db);
  QSqlDatabase d = db->Database();
  if (d.transaction()) {
    bool ok = true;
    for (const HistoryRecord& r : rows) {
      if (!writer.Append(r)) {
        ok = false;
        break;
      }
    }
    if (ok && d.commit()) {
      *saved = rows.size();
      return true;
    }
    d.rollback();
  }
  for (const HistoryRecord& r : rows) {
    if (!writer.Append(r)) {
      *error = writer.LastError();
      return false;
    }
    ++*saved;
  }
  return true;
}

std::optional<std::int32_t> LargestProductId(HistoryDb* db, QString* error) {
  error->clear();
  if (!db || !db->IsOpen()) {
    *error = QStringLiteral("no database connection");
    return std::nullopt;
  }
  QSqlQuery q(db->Database());
  if (!q.exec(QStringLiteral("SELECT MAX(%1) FROM %2")
                  .arg(db->Ident(QStringLiteral("ProductID")), db->Ident(QStringLiteral("History"))))) {
    *error = EngineText(q.lastError());
    return std::nullopt;
  }
  if (!q.next() || q.value(0).isNull()) return std::nullopt;
  return q.value(0).toInt();
}

}  // namespace tallyglass::db
