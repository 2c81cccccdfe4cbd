#include "tallyglass/db/keyword_index.h"

#include <sqlite3.h>

#include <QMetaObject>
#include <QObject>
#include <QSet>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "tallyglass/db/keyword_facts.h"
#include "tallyglass/db/keyword_posts.h"

namespace tallyglass::db {

sqlite3* HandleOf(const QSqlDatabase& db) {
  if (!db.driver()) return nullptr;
  QVariant h = db.driver()->handle();
  if (!h.isValid() || qstrcmp(h.typeName(), "sqlite3*") != 0) return nullptr;
  return *static_cast<sqlite3* const*>(h.constData());
}

namespace {

// The longest gram in the index: SQLite's, and PostgreSQL's (tg_grams).
constexpr int kMaxGram = 3;
constexpr int kPgMaxGram = 2;

// The tokenizer: every character of a title, every pair and every triple of
// neighbours (ForEachTitleGram). A query string of up to three characters is
// one gram; a longer one its triples.
int GramsTokenize(Fts5Tokenizer*, void* ctx, int flags, const char* text, int size,
                  int (*token)(void*, int, const char*, int, int, int)) {
  const std::string_view all(text, static_cast<std::size_t>(size));
  int rc = SQLITE_OK;
  auto put = [&](std::size_t start, std::size_t end) {
    const std::string g = FoldedGram(all.substr(start, end - start));
    rc = token(ctx, 0, g.data(), static_cast<int>(g.size()), static_cast<int>(start), static_cast<int>(end));
    return rc == SQLITE_OK;
  };
  if ((flags & FTS5_TOKENIZE_QUERY) == 0) {
    ForEachTitleGram(all, [&](std::size_t start, std::size_t end, int) { return put(start, end); });
    return rc;
  }
  int chars = 0;
  ForEachTitleGram(all, [&](std::size_t, std::size_t, int n) {
    chars += n == 1;
    return true;
  });
  if (chars <= kMaxGram) return put(0, all.size()) ? SQLITE_OK : rc;
  ForEachTitleGram(all, [&](std::size_t start, std::size_t end, int n) { return n != 3 || put(start, end); });
  return rc;
}

int GramsCreate(void*, const char**, int, Fts5Tokenizer** out) {
  static int dummy;
  *out = reinterpret_cast<Fts5Tokenizer*>(&dummy);
  return SQLITE_OK;
}

void GramsDelete(Fts5Tokenizer*) {}

fts5_api* Fts5Api(sqlite3* handle) {
  fts5_api* api = nullptr;
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(handle, "SELECT fts5(?1)", -1, &st, nullptr) == SQLITE_OK) {
    sqlite3_bind_pointer(st, 1, static_cast<void*>(&api), "fts5_api_ptr", nullptr);
    sqlite3_step(st);
  }
  sqlite3_finalize(st);
  return api;
}

QString Quoted(QString s, QChar quote) {
  s.replace(quote, QString(2, quote));
  return quote + s + quote;
}

// PostgreSQL: the grams of a title, and those a LIKE pattern needs. lower()
// is the folding ILIKE applies, whatever the server's locale.
constexpr char kPgGrams[] = R"SQL(
CREATE OR REPLACE FUNCTION tg_grams(t text) RETURNS text[] LANGUAGE sql IMMUTABLE STRICT PARALLEL SAFE AS $f$
  SELECT coalesce(array_agg(DISTINCT g), '{}') FROM (
    SELECT substr(l, i, 1) AS g FROM (SELECT lower(t) AS l) s, generate_series(1, length(l)) AS i
    UNION ALL
    SELECT substr(l, i, 2) FROM (SELECT lower(t) AS l) s, generate_series(1, length(l) - 1) AS i) x
$f$)SQL";
constexpr char kPgPatternGrams[] = R"SQL(
CREATE OR REPLACE FUNCTION tg_pattern_grams(p text) RETURNS text[] LANGUAGE sql IMMUTABLE STRICT PARALLEL SAFE AS $f$
  SELECT coalesce(array_agg(DISTINCT g), '{}') FROM (
    SELECT CASE WHEN length(r) = 1 THEN r ELSE substr(r, i, 2) END AS g
    FROM regexp_split_to_table(lower(p), '[%_]') AS r,
         generate_series(1, greatest(length(r) - 1, 1)) AS i
    WHERE length(r) > 0) x
$f$)SQL";

}  // namespace

bool RegisterGramTokenizer(sqlite3* handle) {
  if (!handle) return false;
  fts5_api* api = Fts5Api(handle);
  if (!api) return false;
  static fts5_tokenizer tokenizer = {&GramsCreate, &GramsDelete, &GramsTokenize};
  return api->xCreateTokenizer(api, "tg_grams", nullptr, &tokenizer, nullptr) == SQLITE_OK;
}

bool RegisterGramTokenizer(const QSqlDatabase& db) { return RegisterGramTokenizer(HandleOf(db)); }

QStringList KeywordGrams(const QString& keyword, int longest) {
  QStringList out;
  QSet<QString> seen;
  const QList<uint> chars = keyword.toUcs4();
  QList<uint> run;
  auto flush = [&] {
    const qsizetype n = std::min<qsizetype>(run.size(), longest);
    for (qsizetype i = 0; n > 0 && i + n <= run.size(); ++i) {
      const QString g = QString::fromUcs4(reinterpret_cast<const char32_t*>(run.constData() + i), n);
      if (!seen.contains(g)) {
        seen.insert(g);
        out << g;
      }
    }
    run.clear();
  };
  for (uint c : chars) {
    if (c == '%' || c == '_') {
      flush();
      continue;
    }
    run << (c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  }
  flush();
  return out;
}

namespace {

// The layout of the index: 2 added the facts, 3 the triples, 4 packed the
// facts. An index of an older one is made again.
constexpr int kLayout = 4;

// The mark of how far the index goes; empty while there is none of this
// layout (none yet, or an older one, which the builder makes again).
std::optional<std::int64_t> IndexUpto(const QSqlDatabase& db) {
  QSqlQuery q(db);
  if (q.exec(QStringLiteral("SELECT upto FROM HistoryKeywordState WHERE layout = %1 AND EXISTS (SELECT 1 "
                            "FROM sqlite_master WHERE name = 'HistoryKeywordPacks')")
                 .arg(kLayout)) &&
      q.next())
    return q.value(0).toLongLong();
  return std::nullopt;
}

}  // namespace

bool CreateKeywordIndex(const QSqlDatabase& d, bool emptyTable, QString* error) {
  if (!RegisterGramTokenizer(d)) {
    *error = QStringLiteral("the FTS5 keyword index is not available in this SQLite");
    return false;
  }
  if (IndexUpto(d)) return true;
  QSqlQuery q(d);
  // An index of an older layout is made again: a new mark, and no docsize
  // table (nothing ranks).
  const bool ok =
      q.exec(QStringLiteral("BEGIN IMMEDIATE")) &&
      q.exec(QStringLiteral("DROP TABLE IF EXISTS HistoryKeywords")) &&
      q.exec(QStringLiteral("DROP TABLE IF EXISTS HistoryKeywordState")) &&
      q.exec(QStringLiteral(
          "CREATE TABLE HistoryKeywordState (upto INTEGER NOT NULL, layout INTEGER NOT NULL)")) &&
      q.exec(QStringLiteral("CREATE VIRTUAL TABLE HistoryKeywords USING fts5(Title, content='', detail=none, "
                            "columnsize=0, tokenize='tg_grams')")) &&
      q.exec(QStringLiteral("DROP TABLE IF EXISTS HistoryKeywordFacts")) &&
      q.exec(QStringLiteral("DROP TABLE IF EXISTS HistoryKeywordPacks")) &&
      q.exec(QString::fromLatin1(kPacksTableSql)) &&
      q.exec(QStringLiteral("INSERT INTO HistoryKeywordState VALUES (%1, %2)")
                 .arg(emptyTable ? kIndexComplete : 0)
                 .arg(kLayout)) &&
      q.exec(QStringLiteral("COMMIT"));
  if (!ok) {
    *error = EngineText(q.lastError());
    q.exec(QStringLiteral("ROLLBACK"));
  }
  return ok;
}

bool KeywordIndexReady(const QSqlDatabase& db, Engine engine) {
  if (engine == Engine::Postgres) return KeywordIndexNarrows(db, engine) && PgPostsComplete(db);
  return IndexUpto(db) == kIndexComplete;
}

bool KeywordIndexNarrows(const QSqlDatabase& db, Engine engine) {
  QSqlQuery q(db);
  if (engine == Engine::Postgres) {
    return q.exec(QStringLiteral(
               "SELECT indisvalid FROM pg_index WHERE indexrelid = to_regclass('\"History_grams\"')")) &&
           q.next() && q.value(0).toBool();
  }
  return IndexUpto(db) == kIndexComplete;
}

namespace {

// FTS5's query of every gram of the keywords.
QString MatchExpression(const QStringList& keywords) {
  QStringList terms;
  for (const QString& k : keywords)
    for (const QString& g : KeywordGrams(k, kMaxGram)) terms << Quoted(g, QLatin1Char('"'));
  return terms.join(QStringLiteral(" AND "));
}

// Whether a title holds `keyword` (LIKE '%keyword%') exactly when it holds
// its one gram.
bool DecidedByGram(const QString& keyword, int longest) {
  const qsizetype n = keyword.toUcs4().size();
  return n >= 1 && n <= longest && !keyword.contains(QLatin1Char('%')) && !keyword.contains(QLatin1Char('_'));
}

}  // namespace

// PostgreSQL folds with lower() in the server's locale, which may turn one
// cased character into several; ASCII and caseless characters (CJK) stay
// one, so that their gram still decides ILIKE.
bool DecidedByPgGram(const QString& keyword, int longest) {
  if (!DecidedByGram(keyword, longest)) return false;
  for (char32_t c : keyword.toUcs4()) {
    if (c < 0x80) continue;
    if (QChar::toLower(c) != c || QChar::toUpper(c) != c || QChar::toTitleCase(c) != c) return false;
  }
  return true;
}

namespace {

// The GIN's condition for each include keyword beside its ILIKE, or with
// `replaceDecided` in its place where the gram decides it (the heap's rows
// then need no title test).
bool NarrowByGin(Statement* s, bool replaceDecided) {
  const QString ilike = QStringLiteral("\"Title\" ilike '%' || ? || '%' ESCAPE ''");
  const QString gin = QStringLiteral("tg_grams(\"Title\") @> tg_pattern_grams(?)");
  const bool sqlEndsWithFrom = s->sql.endsWith(s->from);
  QString from = s->from;
  QStringList extra;
  QVariantList params;
  qsizetype at = 0;
  for (const QString& k : s->includeKeywords) {
    // The statement holds the include keywords' conditions in their order.
    at = from.indexOf(ilike, at);
    if (at < 0) return false;
    if (KeywordGrams(k, kPgMaxGram).isEmpty()) {
      at += ilike.size();
    } else if (replaceDecided && DecidedByPgGram(k, kPgMaxGram) && sqlEndsWithFrom) {
      from.replace(at, ilike.size(), gin);
      at += gin.size();
    } else {
      at += ilike.size();
      extra << gin;
      params << k;
    }
  }
  if (from == s->from && extra.isEmpty()) return false;
  if (!extra.isEmpty()) {
    from += (from.contains(QStringLiteral(" WHERE ")) ? QStringLiteral(" AND ") : QStringLiteral(" WHERE ")) +
            extra.join(QStringLiteral(" AND "));
  }
  if (sqlEndsWithFrom) {
    s->sql = s->sql.left(s->sql.size() - s->from.size()) + from;
  } else {
    s->sql += from.mid(s->from.size());
  }
  s->from = from;
  s->params += params;
  return true;
}

}  // namespace

IndexOnly IndexOnlyRows(sqlite3* handle, const Statement& s,
                        const std::function<void(std::int64_t id, std::optional<std::int64_t> price)>& row,
                        QString* error) {
  if (s.otherConditions != 0 || s.includeKeywords.isEmpty()) return IndexOnly::NotAnswered;
  for (const QString& k : s.includeKeywords)
    if (!DecidedByGram(k, kMaxGram)) return IndexOnly::NotAnswered;
  // The index's ids come in order; the packs of facts are read in order
  // with them.
  sqlite3_stmt* st = nullptr;
  const QByteArray match = MatchExpression(s.includeKeywords).toUtf8();
  int rc = sqlite3_prepare_v2(handle, "SELECT rowid FROM HistoryKeywords WHERE HistoryKeywords MATCH ?1", -1,
                              &st, nullptr);
  if (rc == SQLITE_OK)
    rc = sqlite3_bind_text(st, 1, match.constData(), static_cast<int>(match.size()), SQLITE_STATIC);
  FactsReader facts(handle);
  KeywordFact f;
  while (rc == SQLITE_OK || rc == SQLITE_ROW) {
    rc = sqlite3_step(st);
    if (rc != SQLITE_ROW) break;
    const std::int64_t id = sqlite3_column_int64(st, 0);
    if (!facts.Find(id, &f)) {
      if (facts.Error() == SQLITE_OK) continue;
      rc = facts.Error();
      break;
    }
    if (s.dayBound && !(f.day && *f.day > *s.dayBound)) continue;
    row(id, f.price);
  }
  if (rc != SQLITE_DONE) {
    *error = rc == SQLITE_CORRUPT ? QStringLiteral("the keyword index is damaged")
                                  : QString::fromUtf8(sqlite3_errmsg(handle));
  }
  sqlite3_finalize(st);
  return rc == SQLITE_DONE ? IndexOnly::Answered : IndexOnly::Failed;
}

bool NarrowByIndex(Statement* s, Engine engine) {
  if (engine == Engine::Postgres) return NarrowByGin(s, false);
  const QString match = MatchExpression(s->includeKeywords);
  if (match.isEmpty()) return false;
  const QString condition =
      QStringLiteral("ProductID IN (SELECT rowid FROM HistoryKeywords WHERE HistoryKeywords MATCH ?)");
  const QString glue =
      s->from.contains(QStringLiteral(" WHERE ")) ? QStringLiteral(" AND ") : QStringLiteral(" WHERE ");
  s->from += glue + condition;
  s->sql += glue + condition;
  s->params << match;
  return true;
}

bool NarrowEveryRowByGin(Statement* s) { return NarrowByGin(s, true); }

bool IndexStoredRow(HistoryDb* db, std::int32_t productId, const QString& title, QString* error) {
  if (db->engine() == Engine::Postgres) return true;
  // No index yet (the builder makes it after the file's check), or one the
  // builder has not reached this row in: the builder takes the row.
  const std::optional<std::int64_t> upto = IndexUpto(db->Database());
  if (!upto || productId > *upto) return true;
  QSqlQuery q(db->Database());
  if (!q.prepare(QStringLiteral("INSERT INTO HistoryKeywords(rowid, Title) VALUES (?, ?)"))) {
    *error = EngineText(q.lastError());
    return false;
  }
  q.addBindValue(productId);
  q.addBindValue(title);
  if (!q.exec()) {
    *error = EngineText(q.lastError());
    return false;
  }
  // The facts as stored (the row is never changed afterwards).
  sqlite3* h = HandleOf(db->Database());
  std::vector<KeywordFact> facts;
  std::string why;
  if (!ReadFacts(h, "WHERE ProductID = " + std::to_string(productId), &facts, &why)) {
    *error = QString::fromStdString(why);
    return false;
  }
  if (!AddFacts(h, facts, &why)) {
    *error = QString::fromStdString(why);
    return false;
  }
  return true;
}

namespace {

// Ends the watch of a PostgreSQL build.
struct BuildWatch {
  std::mutex mutex;
  std::condition_variable wake;
  bool finished = false;
  void Finish() {
    {
      std::lock_guard<std::mutex> lock(mutex);
      finished = true;
    }
    wake.notify_all();
  }
};

// Until the build on backend `pid` ends: the rows it has read, estimated
// from the pages of the table the server reports read, on a connection of
// its own (the build's is busy with it). When the window goes, the build
// is cancelled; the invalid index it leaves is made again next time.
void WatchBuild(const QString& mainName, const QString& name, int pid, std::int64_t total,
                const std::atomic<bool>& stop, BuildWatch* watch,
                const std::function<void(std::int64_t done)>& report) {
  {
    QSqlDatabase db = QSqlDatabase::cloneDatabase(mainName, name);
    if (db.isValid() && db.open()) {
      QSqlQuery q(db);
      std::int64_t last = 0;
      for (;;) {
        {
          std::unique_lock<std::mutex> lock(watch->mutex);
          if (watch->wake.wait_for(lock, std::chrono::milliseconds(250), [&] { return watch->finished; }))
            break;
        }
        if (pid == 0) continue;
        if (stop) {
          // Again at each turn: one sent between two statements is lost.
          q.exec(QStringLiteral("SELECT pg_cancel_backend(%1)").arg(pid));
          continue;
        }
        if (q.exec(QStringLiteral("SELECT blocks_done, blocks_total FROM pg_stat_progress_create_index "
                                  "WHERE pid = %1 AND blocks_total > 0")
                       .arg(pid)) &&
            q.next()) {
          const std::int64_t done = total * q.value(0).toLongLong() / q.value(1).toLongLong();
          // The validation's scan of the table starts again at 0: the
          // count only grows, and the whole waits for the end.
          if (done > last && done < total) {
            last = done;
            report(done);
          }
        }
      }
      q.finish();
    }
    db.close();
  }
  QSqlDatabase::removeDatabase(name);
}

}  // namespace

IndexBuilder::IndexBuilder(const HistoryDb& db)
    : mainName_(db.Database().connectionName()),
      dbFile_(db.Database().databaseName()),
      engine_(db.engine()),
      context_(std::make_unique<QObject>()) {}

IndexBuilder::~IndexBuilder() {
  stop_ = true;
  {
    std::lock_guard<std::mutex> lock(cancelMutex_);
    if (cancel_) cancel_();
  }
  if (thread_.joinable()) thread_.join();
}

void IndexBuilder::Start(Callbacks callbacks) {
  if (running_ || thread_.joinable()) return;
  running_ = true;
  thread_ = std::thread([this, c = std::move(callbacks)] { Run(c); });
}

void IndexBuilder::Run(Callbacks c) {
  QObject* ctx = context_.get();
  auto deliver = [ctx](std::function<void()> fn) {
    QMetaObject::invokeMethod(ctx, std::move(fn), Qt::QueuedConnection);
  };
  auto finish = [&](bool ok, const QString& error) {
    deliver([this, c, ok, error] {
      running_ = false;
      if (c.onFinished) c.onFinished(ok, error);
    });
  };
  static std::atomic<int> counter{0};
  const QString name = mainName_ + QStringLiteral("-index-%1").arg(++counter);
  bool ok = true, finished = false;
  QString error;
  {
    QSqlDatabase db = QSqlDatabase::cloneDatabase(mainName_, name);
    if (!db.isValid() || !db.open()) {
      const QString e = EngineText(db.lastError());
      db = QSqlDatabase();
      QSqlDatabase::removeDatabase(name);
      finish(false, e);
      return;
    }
    QSqlQuery q(db);
    if (engine_ == Engine::Sqlite) {
      sqlite3* h = HandleOf(db);
      RegisterGramTokenizer(h);
      // Ends a long statement when the window goes.
      sqlite3_progress_handler(
          h, 10000, [](void* p) { return static_cast<std::atomic<bool>*>(p)->load() ? 1 : 0; }, &stop_);
      // Damage is found after the window shows; it is reported as at start.
      if (q.exec(QStringLiteral("PRAGMA quick_check"))) {
        QStringList problems;
        while (q.next()) {
          const QString line = q.value(0).toString();
          if (line != QLatin1String("ok")) problems << line;
        }
        if (!problems.isEmpty()) {
          const QString text = QStringLiteral("%1: quick_check: %2")
                                   .arg(dbFile_, problems.mid(0, 5).join(QStringLiteral("; ")));
          deliver([c, text] {
            if (c.onDamage) c.onDamage(text);
          });
          ok = false;
          error = text;
        }
      } else if (!stop_) {
        const QString text = QStringLiteral("%1: %2").arg(dbFile_, EngineText(q.lastError()));
        deliver([c, text] {
          if (c.onDamage) c.onDamage(text);
        });
        ok = false;
        error = text;
      }
      std::int64_t total = 0, done = 0;
      if (ok && !stop_ && !CreateKeywordIndex(db, false, &error)) ok = false;
      if (ok && q.exec(QStringLiteral("SELECT upto FROM HistoryKeywordState")) && q.next() &&
          q.value(0).toLongLong() != kIndexComplete) {
        const std::int64_t upto = q.value(0).toLongLong();
        if (q.exec(QStringLiteral("SELECT count(*), (SELECT count(*) FROM History WHERE ProductID <= %1) "
                                  "FROM History")
                       .arg(upto)) &&
            q.next()) {
          total = q.value(0).toLongLong();
          done = q.value(1).toLongLong();
        }
        deliver([c, done, total] {
          if (c.onProgress) c.onProgress(done, total);
        });
        while (!stop_) {
          // One chunk and the mark of how far it went in one transaction:
          // a batch of the walk sees either both or neither.
          if (!q.exec(QStringLiteral("BEGIN IMMEDIATE"))) {
            ok = false;
            break;
          }
          bool chunkOk = q.exec(QStringLiteral("SELECT upto FROM HistoryKeywordState")) && q.next();
          QString chunkError;
          const std::int64_t from = chunkOk ? q.value(0).toLongLong() : 0;
          std::int64_t added = 0, last = from;
          if (chunkOk && from != kIndexComplete) {
            const QString chunk = QStringLiteral(
                                      "SELECT ProductID, Title FROM History WHERE ProductID > %1 ORDER BY "
                                      "ProductID LIMIT %2")
                                      .arg(from)
                                      .arg(kChunkRows);
            chunkOk = q.exec(QStringLiteral("INSERT INTO HistoryKeywords(rowid, Title) ") + chunk);
            added = chunkOk ? q.numRowsAffected() : 0;
            // The same rows' facts, packed.
            if (chunkOk && added > 0) {
              std::vector<KeywordFact> facts;
              std::string why;
              chunkOk = ReadFacts(h,
                                  QStringLiteral("WHERE ProductID > %1 ORDER BY ProductID LIMIT %2")
                                      .arg(from)
                                      .arg(kChunkRows)
                                      .toStdString(),
                                  &facts, &why) &&
                        AddFacts(h, facts, &why);
              if (!chunkOk) chunkError = QString::fromStdString(why);
              if (chunkOk && !facts.empty()) last = facts.back().id;
            }
            const std::int64_t upto = added < kChunkRows ? kIndexComplete : last;
            chunkOk = chunkOk && q.exec(QStringLiteral("UPDATE HistoryKeywordState SET upto = %1").arg(upto));
            if (chunkOk) last = upto;
          }
          if (!chunkOk) {
            error = chunkError.isEmpty() ? EngineText(q.lastError()) : chunkError;
            q.exec(QStringLiteral("ROLLBACK"));
            ok = false;
            break;
          }
          if (!q.exec(QStringLiteral("COMMIT"))) {
            error = EngineText(q.lastError());
            q.exec(QStringLiteral("ROLLBACK"));
            ok = false;
            break;
          }
          done += added;
          deliver([c, done, total] {
            if (c.onProgress) c.onProgress(done, total);
          });
          if (last == kIndexComplete) break;
        }
        if (stop_) ok = false;
      }
    } else {
      // The function, then the index, built without holding up the walk's
      // writes; one left invalid by an interrupted build is made again.
      q.exec(QStringLiteral("SET client_min_messages TO WARNING"));
      std::int64_t total = 0;
      if (q.exec(
              QStringLiteral("SELECT reltuples::bigint FROM pg_class WHERE oid = '\"History\"'::regclass")) &&
          q.next())
        total = q.value(0).toLongLong();
      if (total <= 0 && q.exec(QStringLiteral("SELECT count(*) FROM \"History\"")) && q.next())
        total = q.value(0).toLongLong();
      total = std::max<std::int64_t>(total, 1);
      auto progress = [&](std::int64_t done) {
        deliver([c, done, total] {
          if (c.onProgress) c.onProgress(done, total);
        });
      };
      if (!KeywordIndexNarrows(db, engine_)) {
        // Progress in rows, from the server's count of the table's pages
        // the build has read.
        const int pid =
            q.exec(QStringLiteral("SELECT pg_backend_pid()")) && q.next() ? q.value(0).toInt() : 0;
        progress(0);
        BuildWatch watch;
        std::thread watcher([&] {
          WatchBuild(mainName_, name + QStringLiteral("-watch"), pid, total, stop_, &watch, progress);
        });
        ok = q.exec(QString::fromLatin1(kPgGrams)) && q.exec(QString::fromLatin1(kPgPatternGrams)) &&
             q.exec(QStringLiteral("DROP INDEX IF EXISTS \"History_grams\"")) &&
             q.exec(QStringLiteral("CREATE INDEX CONCURRENTLY \"History_grams\" ON \"History\" USING gin "
                                   "(tg_grams(\"Title\"))"));
        if (!ok) error = EngineText(q.lastError());
        watch.Finish();
        watcher.join();
      }
      // Then the lists beside it, a chunk per transaction.
      {
        std::lock_guard<std::mutex> lock(cancelMutex_);
        cancel_ = PgCanceller(db);
      }
      bool complete = false;
      if (ok && !stop_) ok = PreparePgPosts(db, &complete, &error);
      std::int64_t done = 0;
      if (ok && !complete) progress(0);
      bool compacted = false;
      while (ok && !complete && !stop_) {
        std::int64_t added = 0;
        ok = BuildPgPostsStep(db, kPgChunkRows, compacted, &added, &complete, &error);
        if (ok && !complete && !compacted && added >= 0 && added < kPgChunkRows) {
          // At the end of the rows, the room the rewritten chunks left is
          // given back before the lists complete.
          ok = CompactPgPosts(db, &error);
          compacted = true;
        }
        if (added > 0) done = std::min(done + added, total - 1);
        if (ok && !complete) {
          progress(done);
          // Another client builds: its steps are waited for.
          if (added < 0) std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
      }
      if (stop_) ok = false;
      if (ok) progress(total);
      q.finish();
      // The rows written since the lists were made are moved in while the
      // window lasts.
      finish(ok, error);
      finished = true;
      for (int tick = 0; ok && !stop_; ++tick) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (tick % 20 != 0 || PgFreshCount(db, kPgFreshMerge) < kPgFreshMerge) continue;
        std::int64_t moved = 0;
        QString why;
        while (!stop_ && MergePgFresh(db, kPgFreshMerge, &moved, &why) && moved > 0) {
        }
      }
    }
    {
      std::lock_guard<std::mutex> lock(cancelMutex_);
      cancel_ = {};
    }
    q.finish();
    db.close();
  }
  QSqlDatabase::removeDatabase(name);
  if (!finished) finish(ok, error);
}

}  // namespace tallyglass::db
