#include "tallyglass/db/history_db.h"

#include <QAtomicInt>
#include <QSqlError>
#include <QSqlIndex>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStandardPaths>
#include <QUrl>
#include <QUrlQuery>
#include <algorithm>
#include <filesystem>
#include <limits>
#include <system_error>

#include "tallyglass/db/keyword_index.h"
#include "tallyglass/db/query_runner.h"
#include "tallyglass/db/rows_model.h"

namespace tallyglass::db {

QString EngineText(const QSqlError& e) {
  QString t = e.databaseText().trimmed();
  if (t.isEmpty()) t = e.driverText().trimmed();
  if (t.isEmpty()) t = e.text().trimmed();
  return t;
}

namespace {

QString NextConnectionName() {
  static QAtomicInt counter;
  return QStringLiteral("tallyglass-%1").arg(counter.fetchAndAddRelaxed(1));
}

}  // namespace

QString DefaultDataDir() {
  QString dir = qEnvironmentVariable("TALLYGLASS_DATA_DIR");
  if (!dir.isEmpty()) return dir;
  return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
         QStringLiteral("/Tallyglass");
}

QString DemoDataDir() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
         QStringLiteral("/Tallyglass-demo");
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

QSqlDatabase AddPgConnection(const PgAddress& a, const QString& connectionName) {
  QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connectionName);
  db.setHostName(a.host);
  if (a.port > 0) db.setPort(a.port);
  db.setUserName(a.user);
  db.setPassword(a.password);
  db.setDatabaseName(a.database);
  db.setConnectOptions(a.options);
  return db;
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
    db = AddPgConnection(*a, name_);
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
  // The walk's rows go into the keyword index on this connection.
  if (engine_ == Engine::Sqlite) RegisterGramTokenizer(db);
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
  // The first read finds a file that is no database; the whole file's
  // check runs on a worker once the window shows (IndexBuilder).
  if (!q.exec(QStringLiteral("SELECT count(*) FROM sqlite_schema"))) {
    lastError_ = QStringLiteral("%1: %2").arg(path, EngineText(q.lastError()));
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
  // A new history starts with its keyword index; an existing one gets it
  // from the builder, after the file's check.
  if (engine_ == Engine::Sqlite && !existed && !CreateKeywordIndex(db, true, &lastError_)) return false;
  if (existed && !keyed) {
    // A table made elsewhere may lack the key that keeps one row per
    // auction. Old duplicates make this fail; the table still works.
    q.exec(QStringLiteral("CREATE UNIQUE INDEX IF NOT EXISTS %1 ON %2 (%3)")
               .arg(Ident(QStringLiteral("History_ProductID")), Ident(QStringLiteral("History")),
                    Ident(QStringLiteral("ProductID"))));
  }
  return true;
}

HistoryResultSet::HistoryResultSet(HistoryDb* db) : db_(db), model_(std::make_unique<HistoryRowsModel>()) {
  model_->requestPage = [this](const QVariant&) { RequestPage(); };
  model_->requestBlock = [this](int block, const QVariant& after) {
    if (!runner_ || !open_) return;
    const std::uint64_t gen = generation_;
    runner_->Page(gen, statement_, after, HistoryRowsModel::kBlockRows, [this, gen, block](PageResult page) {
      if (gen != generation_ || page.cancelled || !page.ok) return;
      model_->BlockArrived(block, std::move(page.rows));
    });
  };
}

// The runners go first: their results, still queued, then never arrive.
HistoryResultSet::~HistoryResultSet() {
  exportRunner_.reset();
  runner_.reset();
}

QAbstractItemModel* HistoryResultSet::Model() const { return model_.get(); }

QStringList HistoryResultSet::FieldNames() const { return model_->Fields(); }

void HistoryResultSet::SetCurrentRow(int row) {
  if (row < 0 || row >= model_->rowCount()) row = -1;
  if (row == current_) return;
  current_ = row;
  if (onCurrentRowChanged) onCurrentRowChanged(current_);
}

void HistoryResultSet::Close() {
  // Whatever still runs for the old statement stops and never shows.
  if (runner_) generation_ = runner_->NewGeneration();
  running_ = false;
  model_->Clear();
  open_ = false;
  statement_ = {};
  SetCurrentRow(-1);
}

void HistoryResultSet::Exec(const Statement& statement, std::function<void(bool ok)> done) {
  Close();
  lastError_.clear();
  if (!db_ || !db_->IsOpen()) {
    lastError_ = QStringLiteral("no database connection");
    if (done) done(false);
    return;
  }
  if (!runner_) runner_ = std::make_unique<QueryRunner>(*db_);
  const std::uint64_t gen = generation_ = runner_->NewGeneration();
  statement_ = statement;
  running_ = true;
  runner_->Page(gen, statement, {}, QueryRunner::kPageRows, [this, gen, done](PageResult page) {
    // Replaced meanwhile: the newer statement's answer is the one to show.
    if (gen != generation_ || page.cancelled) return;
    running_ = false;
    if (!page.ok) {
      lastError_ = page.error;
      statement_ = {};
      if (done) done(false);
      return;
    }
    model_->Reset(page.fields);
    model_->AppendPage(std::move(page.rows), page.last);
    open_ = true;
    // The first row is current, as a freshly opened result set's is.
    SetCurrentRow(model_->rowCount() > 0 ? 0 : -1);
    if (done) done(true);
  });
}

void HistoryResultSet::Start(const Statement& statement, std::function<void(const Finished&)> onFinished) {
  Close();
  lastError_.clear();
  if (!db_ || !db_->IsOpen()) {
    lastError_ = QStringLiteral("no database connection");
    onFinished({false, lastError_, {}});
    return;
  }
  if (!runner_) runner_ = std::make_unique<QueryRunner>(*db_);
  const std::uint64_t gen = generation_ = runner_->NewGeneration();
  statement_ = statement;
  running_ = true;
  auto failed = std::make_shared<bool>(false);
  // Rows first, so that the grid fills while the statistics are counted.
  runner_->Query(
      gen, statement,
      [this, gen, failed, onFinished](PageResult page) {
        if (gen != generation_ || page.cancelled) return;
        if (!page.ok) {
          *failed = true;
          running_ = false;
          lastError_ = page.error;
          onFinished({false, page.error, {}});
          return;
        }
        model_->Reset(page.fields);
        model_->AppendPage(std::move(page.rows), page.last);
        open_ = true;
      },
      [this, gen, failed, onFinished](StatsResult stats) {
        if (gen != generation_ || stats.cancelled || *failed) return;
        running_ = false;
        if (!stats.ok) {
          lastError_ = stats.error;
          onFinished({false, stats.error, {}});
          return;
        }
        onFinished({true, {}, stats.stats});
      });
}

bool HistoryResultSet::Running() const { return running_; }

bool HistoryResultSet::Fetching() const { return model_->Fetching(); }

void HistoryResultSet::RequestPage() {
  if (!runner_ || !open_) {
    model_->PageFailed();
    return;
  }
  const std::uint64_t gen = generation_;
  const QVariant after = model_->KeyAt(model_->rowCount() - 1);
  runner_->Page(gen, statement_, after, QueryRunner::kPageRows, [this, gen](PageResult page) {
    if (gen != generation_ || page.cancelled) return;
    if (!page.ok) {
      lastError_ = page.error;
      model_->PageFailed();
      if (onPageError) onPageError(page.error);
      return;
    }
    model_->AppendPage(std::move(page.rows), page.last);
  });
}

void HistoryResultSet::OpenHistoryTable(std::function<void(bool ok)> done) {
  const QString table = db_ ? db_->Ident(QStringLiteral("History")) : QStringLiteral("History");
  Statement s;
  s.from = QStringLiteral(" FROM %1").arg(table);
  s.sql = QStringLiteral("SELECT *") + s.from;
  Exec(s, std::move(done));
}

void HistoryResultSet::Open(const Statement& statement, std::function<void(bool ok)> done) {
  Exec(statement, std::move(done));
}

bool HistoryResultSet::Requery(std::function<void(bool ok)> done) {
  if (!open_) return false;
  Statement s = statement_;
  Exec(s, std::move(done));
  return true;
}

std::optional<QVariant> HistoryResultSet::Collect(const QString& column) {
  lastError_.clear();
  const Row* row = model_->RowAt(current_);
  if (!row) {
    lastError_ = QStringLiteral("no current row");
    return std::nullopt;
  }
  const int i = static_cast<int>(model_->Fields().indexOf(column));
  if (i < 0 || i >= row->size()) {
    lastError_ = QStringLiteral("no column %1").arg(column);
    return std::nullopt;
  }
  return (*row)[i];
}

bool HistoryResultSet::ComputeStatistics(PriceStats* out) {
  lastError_.clear();
  *out = {};
  if (!open_ || !runner_) {
    lastError_ = QStringLiteral("no open result");
    return false;
  }
  // The engine counts; no row travels into the program.
  StatsResult r = runner_->StatsNow(generation_, statement_);
  if (!r.ok) {
    lastError_ = r.cancelled ? QStringLiteral("cancelled") : r.error;
    return false;
  }
  *out = r.stats;
  SetCurrentRow(-1);
  return true;
}

void HistoryResultSet::ExportCsv(const QString& path,
                                 std::function<void(bool ok, std::int64_t rows, QString error)> done) {
  if (!runner_ || statement_.from.isEmpty()) {
    done(false, 0, QStringLiteral("no open result"));
    return;
  }
  if (!exportRunner_) exportRunner_ = std::make_unique<QueryRunner>(*db_);
  exportRunner_->Export(statement_, path, [done](ExportResult r) { done(r.ok, r.rows, r.error); });
}

void HistoryResultSet::LoadChart(std::function<void(bool ok, const ChartData& data, QString error)> done) {
  if (!runner_ || statement_.from.isEmpty()) {
    done(false, {}, QStringLiteral("no open result"));
    return;
  }
  const std::uint64_t gen = generation_;
  runner_->Chart(gen, statement_, [this, gen, done](ChartResult r) {
    if (gen != generation_ || r.cancelled) return;
    done(r.ok, r.data, r.error);
  });
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
  // The row and its keywords are stored together or not at all.
  QSqlQuery sp(db_->Database());
  if (!pg && !sp.exec(QStringLiteral("SAVEPOINT tg_append"))) {
    lastError_ = EngineText(sp.lastError());
    return false;
  }
  auto release = [&](bool ok) {
    if (pg) return;
    if (!ok) sp.exec(QStringLiteral("ROLLBACK TO tg_append"));
    sp.exec(QStringLiteral("RELEASE tg_append"));
  };
  QSqlQuery q(db_->Database());
  if (!q.prepare(sql)) {
    lastError_ = EngineText(q.lastError());
    release(false);
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
  bool ok = q.exec();
  if (!ok) lastError_ = EngineText(q.lastError());
  const bool added = ok && q.numRowsAffected() > 0;
  if (added && !IndexStoredRow(db_, r.nProductId, text(r.strTitle), &lastError_)) ok = false;
  q.finish();
  release(ok);
  if (!ok) return false;
  if (stored) *stored = added;
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
