#include "tallyglass/db/keyword_posts.h"

#include <libpq-fe.h>

#include <QChar>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <algorithm>
#include <bit>
#include <cstring>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "tallyglass/db/keyword_facts.h"

namespace tallyglass::db {

namespace {

// 5: the first layout of these lists (after SQLite's 4).
constexpr int kLayout = 5;
constexpr int kChunkBytes = 4000;
// The most fresh rows a query reads from History itself.
constexpr int kFreshRead = 100000;
// A condition: every table of the lists is there.
#define TG_LISTS_EXIST                                                                                    \
  "to_regclass('\"HistoryKeywordFresh\"') IS NOT NULL AND to_regclass('\"HistoryKeywordPosts\"') IS NOT " \
  "NULL AND to_regclass('\"HistoryKeywordPacks\"') IS NOT NULL"
// Taken by whoever builds or merges, for the transaction.
constexpr char kLock[] = "SELECT pg_try_advisory_xact_lock(hashtext('tallyglass keyword lists'))";

PGconn* ConnOf(const QSqlDatabase& db) {
  if (!db.isValid() || !db.driver()) return nullptr;
  const QVariant v = db.driver()->handle();
  // PGconn is a typedef of struct pg_conn.
  if (!v.isValid() || (qstrcmp(v.typeName(), "PGconn*") != 0 && qstrcmp(v.typeName(), "pg_conn*") != 0))
    return nullptr;
  return *static_cast<PGconn* const*>(v.constData());
}

// A statement's result, cleared when it goes.
class Result {
 public:
  explicit Result(PGresult* r = nullptr) : r_(r) {}
  ~Result() { PQclear(r_); }
  Result(Result&& o) noexcept : r_(std::exchange(o.r_, nullptr)) {}
  Result& operator=(Result&& o) noexcept {
    std::swap(r_, o.r_);
    return *this;
  }
  bool Ok() const {
    const ExecStatusType s = PQresultStatus(r_);
    return r_ && (s == PGRES_TUPLES_OK || s == PGRES_COMMAND_OK);
  }
  // A conflict with a concurrent transaction (tried again later).
  bool Conflict() const {
    const char* state = r_ ? PQresultErrorField(r_, PG_DIAG_SQLSTATE) : nullptr;
    return state && (std::strcmp(state, "40001") == 0 || std::strcmp(state, "40P01") == 0);
  }
  int Rows() const { return PQntuples(r_); }
  bool Null(int row, int col) const { return PQgetisnull(r_, row, col) != 0; }
  // Binary results.
  std::int64_t Int(int row, int col) const {
    const auto* p = reinterpret_cast<const unsigned char*>(PQgetvalue(r_, row, col));
    const int n = PQgetlength(r_, row, col);
    std::uint64_t v = 0;
    for (int i = 0; i < n; ++i) v = (v << 8) | p[i];
    // int4 and int8 are sent big-endian; widen int4's sign.
    if (n == 4) return static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
    return static_cast<std::int64_t>(v);
  }
  std::string_view Bytes(int row, int col) const {
    return {PQgetvalue(r_, row, col), static_cast<std::size_t>(PQgetlength(r_, row, col))};
  }
  bool Bool(int row, int col) const { return Bytes(row, col) == std::string_view("\x01", 1); }
  QString Error() const {
    return r_ ? QString::fromUtf8(PQresultErrorMessage(r_)).trimmed() : QStringLiteral("no result");
  }

 private:
  PGresult* r_;
};

// Text parameters, binary results.
Result Exec(PGconn* c, const char* sql, const std::vector<std::string>& params = {}) {
  std::vector<const char*> values;
  for (const std::string& p : params) values.push_back(p.c_str());
  return Result(
      PQexecParams(c, sql, static_cast<int>(values.size()), nullptr, values.data(), nullptr, nullptr, 1));
}

// Runs a statement whose rows are not wanted; false with the server's error.
bool Run(PGconn* c, const char* sql, const std::vector<std::string>& params, QString* error) {
  Result r = Exec(c, sql, params);
  if (!r.Ok()) *error = r.Error();
  return r.Ok();
}

// Runs `sql` and hands each row of its result to `each` as it arrives
// (libpq's single-row mode), so that no more than a row is held at once.
// `each` returns false to stop with `why`.
bool Stream(PGconn* c, const char* sql, const std::vector<std::string>& params,
            const std::function<bool(const Result& row, QString* why)>& each, QString* error) {
  std::vector<const char*> values;
  for (const std::string& p : params) values.push_back(p.c_str());
  if (!PQsendQueryParams(c, sql, static_cast<int>(values.size()), nullptr, values.data(), nullptr, nullptr,
                         1)) {
    *error = QString::fromUtf8(PQerrorMessage(c)).trimmed();
    return false;
  }
  PQsetSingleRowMode(c);
  bool ok = true;
  // Every result is taken, whatever happens, for the connection's next
  // statement.
  while (PGresult* raw = PQgetResult(c)) {
    Result r(raw);
    const ExecStatusType status = PQresultStatus(raw);
    if (!ok) continue;
    if (status == PGRES_SINGLE_TUPLE) {
      ok = each(r, error);
    } else if (status != PGRES_TUPLES_OK) {
      *error = r.Error();
      ok = false;
    }
  }
  return ok;
}

// Array literals for parameters.
std::string Quoted(std::string_view s) {
  std::string out = "\"";
  for (char ch : s) {
    if (ch == '"' || ch == '\\') out += '\\';
    out += ch;
  }
  return out + '"';
}
std::string TextArray(const std::vector<std::string>& items) {
  std::string out = "{";
  for (const std::string& s : items) out += (out.size() > 1 ? "," : "") + Quoted(s);
  return out + "}";
}
std::string IntArray(const std::vector<std::int64_t>& items) {
  std::string out = "{";
  for (std::int64_t v : items) out += (out.size() > 1 ? "," : "") + std::to_string(v);
  return out + "}";
}
std::string ByteaArray(const std::vector<std::string>& items) {
  static const char hex[] = "0123456789abcdef";
  std::string out = "{";
  for (const std::string& s : items) {
    out += out.size() > 1 ? ",\"\\\\x" : "\"\\\\x";
    for (unsigned char b : s) {
      out += hex[b >> 4];
      out += hex[b & 15];
    }
    out += '"';
  }
  return out + "}";
}

// A chunk of ids: a byte for the width of its steps in bits (0 to 64), the
// number of steps (2 bytes), then each id's step from the one before, the
// low bits first.
constexpr std::size_t kChunkHeader = 3;

int BitsOf(std::uint64_t v) { return v == 0 ? 0 : 64 - std::countl_zero(v); }

std::size_t ChunkBytes(std::size_t steps, int width) {
  return kChunkHeader + (steps * static_cast<std::size_t>(width) + 7) / 8;
}

std::string EncodeChunk(const std::int64_t* ids, std::size_t n, int width) {
  std::string out(ChunkBytes(n - 1, width), '\0');
  out[0] = static_cast<char>(width);
  out[1] = static_cast<char>((n - 1) & 0xFF);
  out[2] = static_cast<char>((n - 1) >> 8);
  // Bits gathered, written out a byte at a time.
  unsigned __int128 pending = 0;
  int have = 0;
  std::size_t at = kChunkHeader;
  for (std::size_t i = 1; i < n; ++i) {
    pending |= static_cast<unsigned __int128>(static_cast<std::uint64_t>(ids[i]) -
                                              static_cast<std::uint64_t>(ids[i - 1]))
               << have;
    for (have += width; have >= 8; have -= 8, pending >>= 8) out[at++] = static_cast<char>(pending & 0xFF);
  }
  if (have > 0) out[at] = static_cast<char>(pending & 0xFF);
  return out;
}

// False when `data` is no chunk (a damaged index).
bool ReadChunk(std::int64_t first, std::string_view data, std::vector<std::int64_t>* out) {
  if (data.size() < kChunkHeader) return false;
  const auto* p = reinterpret_cast<const unsigned char*>(data.data());
  const int width = p[0];
  const std::size_t steps = p[1] | (static_cast<std::size_t>(p[2]) << 8);
  if (width > 64 || ChunkBytes(steps, width) != data.size()) return false;
  std::uint64_t id = static_cast<std::uint64_t>(first);
  out->push_back(first);
  const std::uint64_t mask = width == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << width) - 1;
  // A window of at least `width` unread bits, refilled a byte at a time.
  unsigned __int128 window = 0;
  int have = 0;
  std::size_t at = kChunkHeader;
  for (std::size_t i = 0; i < steps; ++i) {
    while (have < width) {
      window |= static_cast<unsigned __int128>(p[at++]) << have;
      have += 8;
    }
    id += static_cast<std::uint64_t>(window) & mask;
    window >>= width;
    have -= width;
    out->push_back(static_cast<std::int64_t>(id));
  }
  return true;
}

// Ids (ascending) in chunks of at most kChunkBytes (and 65 536 ids).
std::vector<std::pair<std::int64_t, std::string>> Chunks(const std::vector<std::int64_t>& ids) {
  std::vector<std::pair<std::int64_t, std::string>> out;
  for (std::size_t b = 0; b < ids.size();) {
    std::size_t end = b + 1;
    int width = 0;
    while (end < ids.size() && end - b <= 0xFFFF) {
      const int w = std::max(
          width, BitsOf(static_cast<std::uint64_t>(ids[end]) - static_cast<std::uint64_t>(ids[end - 1])));
      if (ChunkBytes(end - b, w) > static_cast<std::size_t>(kChunkBytes)) break;
      width = w;
      ++end;
    }
    out.emplace_back(ids[b], EncodeChunk(ids.data() + b, end - b, width));
    b = end;
  }
  return out;
}

// Whether lower() may turn `c` into a character a decided keyword holds: an
// ASCII letter (U+212A KELVIN SIGN is 'k') or a character without case.
bool FoldsIntoDecided(char32_t c) {
  if (c < 0x80) return false;
  const char32_t l = QChar::toLower(c);
  if (l == c) return false;
  return l < 0x80 || (QChar::toUpper(l) == l && QChar::toTitleCase(l) == l);
}

// The grams of a title as the lists hold them (the tokenizer's on SQLite:
// every character, pair and triple, ASCII letters in lower case). False
// when the title must stay fresh.
bool TitleGrams(std::string_view title, std::vector<std::string>* out) {
  out->clear();
  const bool listed = ForEachTitleGram(title, [&](std::size_t start, std::size_t end, int chars) {
    if (chars == 1 && end - start > 1) {
      const auto* p = reinterpret_cast<const unsigned char*>(title.data() + start);
      const std::size_t n = end - start;
      char32_t c = p[0] & (n == 2 ? 0x1F : n == 3 ? 0x0F : 0x07);
      for (std::size_t k = 1; k < n; ++k) c = (c << 6) | (p[k] & 0x3F);
      if (FoldsIntoDecided(c)) return false;
    }
    out->push_back(FoldedGram(title.substr(start, end - start)));
    return true;
  });
  std::sort(out->begin(), out->end());
  out->erase(std::unique(out->begin(), out->end()), out->end());
  return listed;
}

// Rows read for listing.
struct Listed {
  std::map<std::string, std::vector<std::int64_t>> grams;  // ids ascending
  std::vector<KeywordFact> facts;                          // ascending
  std::vector<std::int64_t> fresh;                         // to stay fresh (kept)
  void Add(std::int64_t id, std::string_view title, std::optional<std::int64_t> price,
           std::optional<std::int64_t> day, std::vector<std::string>* scratch) {
    facts.push_back({id, price, day});
    if (!TitleGrams(title, scratch)) {
      fresh.push_back(id);
      return;
    }
    for (std::string& g : *scratch) grams[std::move(g)].push_back(id);
  }
};

// Merges `add` (ascending by key) into a run of stored chunks `old`
// (ascending, the first holding or following the smallest added key, the
// last starting at or before the largest): each chunk takes the added items
// from its first key up to the next chunk's (the first chunk also those
// before it) and only chunks that take some are written again, split where
// they outgrow their limit. A stored item keeps its place against an added
// one of its key.
template <class T, class Key, class Read, class Write>
bool MergeRun(const std::vector<std::pair<std::int64_t, std::string_view>>& old, const std::vector<T>& add,
              Key key, Read read, Write write, std::vector<std::int64_t>* del,
              std::vector<std::pair<std::int64_t, std::string>>* put) {
  auto before = [&](const T& x, const T& y) { return key(x) < key(y); };
  auto same = [&](const T& x, const T& y) { return key(x) == key(y); };
  if (old.empty()) {
    for (auto& c : write(add)) put->push_back(std::move(c));
    return true;
  }
  std::vector<T> items;
  std::size_t a = 0;
  for (std::size_t j = 0; j < old.size() && a < add.size(); ++j) {
    std::size_t end = a;
    while (end < add.size() && (j + 1 == old.size() || key(add[end]) < old[j + 1].first)) ++end;
    if (end == a) continue;
    items.clear();
    if (!read(old[j].first, old[j].second, &items)) return false;
    const std::size_t mid = items.size();
    items.insert(items.end(), add.begin() + static_cast<std::ptrdiff_t>(a),
                 add.begin() + static_cast<std::ptrdiff_t>(end));
    std::inplace_merge(items.begin(), items.begin() + static_cast<std::ptrdiff_t>(mid), items.end(), before);
    items.erase(std::unique(items.begin(), items.end(), same), items.end());
    del->push_back(old[j].first);
    for (auto& c : write(items)) put->push_back(std::move(c));
    a = end;
  }
  return true;
}

// Puts `ids` (ascending, none listed yet) into each gram's chunks: the chunks
// from the one holding the smallest id to the last starting at or before the
// largest are read, merged and written again.
bool AddPosts(PGconn* c, const std::map<std::string, std::vector<std::int64_t>>& grams, QString* error) {
  if (grams.empty()) return true;
  std::vector<std::string> names;
  std::vector<std::int64_t> lo, hi;
  for (const auto& [g, ids] : grams) {
    names.push_back(g);
    lo.push_back(ids.front());
    hi.push_back(ids.back());
  }
  Result stored =
      Exec(c,
           "SELECT u.g, p.first, p.data FROM unnest($1::text[], $2::bigint[], $3::bigint[]) AS "
           "u(g, lo, hi) CROSS JOIN LATERAL (SELECT first, data FROM \"HistoryKeywordPosts\" t "
           "WHERE t.gram = u.g AND t.first <= u.hi AND t.first >= coalesce((SELECT max(first) FROM "
           "\"HistoryKeywordPosts\" s WHERE s.gram = u.g AND s.first <= u.lo), u.lo)) AS p "
           "ORDER BY 1, 2",
           {TextArray(names), IntArray(lo), IntArray(hi)});
  if (!stored.Ok()) {
    *error = stored.Error();
    return false;
  }
  std::unordered_map<std::string, std::vector<std::pair<std::int64_t, std::string_view>>> old;
  for (int r = 0; r < stored.Rows(); ++r)
    old[std::string(stored.Bytes(r, 0))].emplace_back(stored.Int(r, 1), stored.Bytes(r, 2));
  std::vector<std::string> delGram, putGram, putData;
  std::vector<std::int64_t> delFirst, putFirst, del;
  std::vector<std::pair<std::int64_t, std::string>> put;
  const std::vector<std::pair<std::int64_t, std::string_view>> none;
  for (const auto& [g, ids] : grams) {
    auto it = old.find(g);
    del.clear();
    put.clear();
    if (!MergeRun(
            it != old.end() ? it->second : none, ids, [](std::int64_t id) { return id; },
            [](std::int64_t first, std::string_view data, std::vector<std::int64_t>* out) {
              return ReadChunk(first, data, out);
            },
            Chunks, &del, &put)) {
      *error = QStringLiteral("the keyword index is damaged");
      return false;
    }
    for (std::int64_t first : del) {
      delGram.push_back(g);
      delFirst.push_back(first);
    }
    for (auto& [first, data] : put) {
      putGram.push_back(g);
      putFirst.push_back(first);
      putData.push_back(std::move(data));
    }
  }
  if (!delGram.empty()) {
    if (!Run(c,
             "DELETE FROM \"HistoryKeywordPosts\" t USING unnest($1::text[], $2::bigint[]) AS u(g, f) "
             "WHERE t.gram = u.g AND t.first = u.f",
             {TextArray(delGram), IntArray(delFirst)}, error))
      return false;
  }
  if (!putGram.empty()) {
    if (!Run(c,
             "INSERT INTO \"HistoryKeywordPosts\"(gram, first, data) SELECT * FROM unnest($1::text[], "
             "$2::bigint[], $3::bytea[])",
             {TextArray(putGram), IntArray(putFirst), ByteaArray(putData)}, error))
      return false;
  }
  return true;
}

// Puts `facts` (ascending) into the packs; facts already stored stay.
bool AddPacks(PGconn* c, const std::vector<KeywordFact>& facts, QString* error) {
  if (facts.empty()) return true;
  Result stored =
      Exec(c,
           "SELECT first, data FROM \"HistoryKeywordPacks\" WHERE first <= $2::bigint AND first >= "
           "coalesce((SELECT max(first) FROM \"HistoryKeywordPacks\" WHERE first <= $1::bigint), "
           "$1::bigint) ORDER BY first",
           {std::to_string(facts.front().id), std::to_string(facts.back().id)});
  if (!stored.Ok()) {
    *error = stored.Error();
    return false;
  }
  std::vector<std::pair<std::int64_t, std::string_view>> old;
  for (int r = 0; r < stored.Rows(); ++r) old.emplace_back(stored.Int(r, 0), stored.Bytes(r, 1));
  FactsPack pack;
  std::vector<std::int64_t> delFirst, putFirst;
  std::vector<std::pair<std::int64_t, std::string>> put;
  if (!MergeRun(
          old, facts, [](const KeywordFact& f) { return f.id; },
          [&](std::int64_t first, std::string_view data, std::vector<KeywordFact>* out) {
            if (!pack.Read(first, data.data(), data.size())) return false;
            for (std::size_t i = 0; i < pack.Size(); ++i) out->push_back(pack.At(i));
            return true;
          },
          PackFacts, &delFirst, &put)) {
    *error = QStringLiteral("the keyword index is damaged");
    return false;
  }
  std::vector<std::string> putData;
  for (auto& [first, data] : put) {
    putFirst.push_back(first);
    putData.push_back(std::move(data));
  }
  if (!delFirst.empty()) {
    if (!Run(c, "DELETE FROM \"HistoryKeywordPacks\" WHERE first = ANY($1::bigint[])", {IntArray(delFirst)},
             error))
      return false;
  }
  if (!putFirst.empty()) {
    if (!Run(c,
             "INSERT INTO \"HistoryKeywordPacks\"(first, data) SELECT * FROM unnest($1::bigint[], "
             "$2::bytea[])",
             {IntArray(putFirst), ByteaArray(putData)}, error))
      return false;
  }
  return true;
}

std::optional<std::int64_t> OptionalInt(const Result& r, int row, int col) {
  if (r.Null(row, col)) return std::nullopt;
  return r.Int(row, col);
}

// Ends a step's transaction after its writes (`wrote`, the last statement
// `last`): committed; rolled back on a conflict with a concurrent writer
// (true, not `committed`: it is tried again later); or rolled back on an
// error (false).
bool EndStep(PGconn* c, bool wrote, const Result& last, bool* committed, QString* error) {
  *committed = false;
  if (!wrote || !last.Ok()) {
    if (wrote && !last.Conflict()) *error = last.Error();
    Exec(c, "ROLLBACK");
    return wrote && last.Conflict();
  }
  Result commit = Exec(c, "COMMIT");
  *committed = commit.Ok();
  if (!commit.Ok() && !commit.Conflict()) *error = commit.Error();
  return commit.Ok() || commit.Conflict();
}

// The connection under `db`; null, with `error` saying so, for another
// engine.
PGconn* PgOf(const QSqlDatabase& db, QString* error) {
  PGconn* c = ConnOf(db);
  if (!c) *error = QStringLiteral("no PostgreSQL connection");
  return c;
}

// Takes the lock of the lists for the transaction begun; false (and the
// transaction rolled back) when another client holds it, or on an error.
bool Locked(PGconn* c, QString* error) {
  error->clear();
  Result lock = Exec(c, kLock);
  if (lock.Ok() && lock.Bool(0, 0)) return true;
  if (!lock.Ok()) *error = lock.Error();
  Exec(c, "ROLLBACK");
  return false;
}

constexpr char kTriggerSql[] = R"SQL(
CREATE OR REPLACE FUNCTION tg_keyword_fresh() RETURNS trigger LANGUAGE plpgsql AS $f$
BEGIN
  IF TG_OP = 'TRUNCATE' THEN
    TRUNCATE "HistoryKeywordPosts", "HistoryKeywordPacks", "HistoryKeywordFresh";
    RETURN NULL;
  END IF;
  IF TG_OP IN ('INSERT', 'UPDATE') THEN
    INSERT INTO "HistoryKeywordFresh"(id) SELECT DISTINCT "ProductID" FROM tg_new WHERE "ProductID" IS NOT NULL
      ON CONFLICT (id) DO UPDATE SET seq = excluded.seq, kept = false;
  END IF;
  IF TG_OP IN ('UPDATE', 'DELETE') THEN
    INSERT INTO "HistoryKeywordFresh"(id) SELECT DISTINCT "ProductID" FROM tg_old WHERE "ProductID" IS NOT NULL
      ON CONFLICT (id) DO UPDATE SET seq = excluded.seq, kept = false;
  END IF;
  RETURN NULL;
EXCEPTION WHEN undefined_table THEN
  -- Lists dropped by hand: History's writes go on; the lists are found
  -- incomplete and made again.
  RETURN NULL;
END
$f$)SQL";

}  // namespace

bool PreparePgPosts(const QSqlDatabase& db, bool* complete, QString* error) {
  *complete = false;
  PGconn* c = PgOf(db, error);
  if (!c) return false;
  // Without an error that would end the transaction it may run in.
  auto current = [&] {
    Result exists = Exec(c, "SELECT to_regclass('\"HistoryKeywordState\"') IS NOT NULL");
    if (!exists.Ok() || !exists.Bool(0, 0)) return false;
    Result state =
        Exec(c,
             "SELECT upto = 2147483647 FROM \"HistoryKeywordState\" WHERE layout = $1::int AND relid = "
             "to_regclass('\"History\"') AND " TG_LISTS_EXIST,
             {std::to_string(kLayout)});
    if (state.Ok() && state.Rows() == 1) *complete = state.Bool(0, 0);
    return state.Ok() && state.Rows() == 1;
  };
  if (current()) return true;
  Exec(c, "SET client_min_messages TO WARNING");
  // Two programs starting together: the second waits and finds the lists
  // the first made.
  bool ok = Run(c, "BEGIN", {}, error) &&
            Run(c, "SELECT pg_advisory_xact_lock(hashtext('tallyglass keyword lists'))", {}, error);
  if (ok && current()) return Run(c, "COMMIT", {}, error);
  const char* steps[] = {
      "DROP TABLE IF EXISTS \"HistoryKeywordPosts\", \"HistoryKeywordPacks\", \"HistoryKeywordFresh\", "
      "\"HistoryKeywordState\"",
      "CREATE TABLE \"HistoryKeywordPosts\" (gram text NOT NULL, first bigint NOT NULL, data bytea NOT NULL, "
      "PRIMARY KEY (gram, first))",
      // Kept whole in the row, uncompressed: one read, no decompression.
      "ALTER TABLE \"HistoryKeywordPosts\" ALTER COLUMN data SET STORAGE PLAIN",
      "CREATE TABLE \"HistoryKeywordPacks\" (first bigint PRIMARY KEY, data bytea NOT NULL)",
      "ALTER TABLE \"HistoryKeywordPacks\" ALTER COLUMN data SET STORAGE PLAIN",
      "CREATE TABLE \"HistoryKeywordFresh\" (id bigint PRIMARY KEY, seq bigserial, kept boolean NOT NULL "
      "DEFAULT false)",
      "CREATE TABLE \"HistoryKeywordState\" (upto bigint NOT NULL, layout int NOT NULL, relid oid NOT NULL)",
      kTriggerSql,
      "DROP TRIGGER IF EXISTS tg_keyword_inserted ON \"History\"",
      "DROP TRIGGER IF EXISTS tg_keyword_updated ON \"History\"",
      "DROP TRIGGER IF EXISTS tg_keyword_deleted ON \"History\"",
      "DROP TRIGGER IF EXISTS tg_keyword_truncated ON \"History\"",
      "CREATE TRIGGER tg_keyword_inserted AFTER INSERT ON \"History\" REFERENCING NEW TABLE AS tg_new "
      "FOR EACH STATEMENT EXECUTE FUNCTION tg_keyword_fresh()",
      "CREATE TRIGGER tg_keyword_updated AFTER UPDATE ON \"History\" REFERENCING NEW TABLE AS tg_new "
      "OLD TABLE AS tg_old FOR EACH STATEMENT EXECUTE FUNCTION tg_keyword_fresh()",
      "CREATE TRIGGER tg_keyword_deleted AFTER DELETE ON \"History\" REFERENCING OLD TABLE AS tg_old "
      "FOR EACH STATEMENT EXECUTE FUNCTION tg_keyword_fresh()",
      "CREATE TRIGGER tg_keyword_truncated AFTER TRUNCATE ON \"History\" FOR EACH STATEMENT EXECUTE FUNCTION "
      "tg_keyword_fresh()",
  };
  for (const char* sql : steps) ok = ok && Run(c, sql, {}, error);
  ok = ok &&
       Run(c,
           "INSERT INTO \"HistoryKeywordState\" SELECT CASE WHEN EXISTS (SELECT 1 FROM \"History\") THEN "
           "-9223372036854775808 ELSE 2147483647 END, $1::int, '\"History\"'::regclass",
           {std::to_string(kLayout)}, error) &&
       Run(c, "COMMIT", {}, error);
  if (!ok) {
    Exec(c, "ROLLBACK");
    return false;
  }
  *complete = PgPostsComplete(db);
  return true;
}

bool BuildPgPostsStep(const QSqlDatabase& db, int rows, bool mayComplete, std::int64_t* added, bool* complete,
                      QString* error) {
  *added = 0;
  *complete = false;
  PGconn* c = PgOf(db, error);
  if (!c) return false;
  // One snapshot: a fresh id whose change it sees is listed as it sees it.
  if (!Run(c, "BEGIN ISOLATION LEVEL REPEATABLE READ", {}, error)) return false;
  if (!Locked(c, error)) {
    *added = -1;
    return error->isEmpty();
  }
  Result state = Exec(c, "SELECT upto FROM \"HistoryKeywordState\"");
  if (!state.Ok() || state.Rows() != 1) {
    *error = state.Ok() ? QStringLiteral("the keyword index has no state") : state.Error();
    Exec(c, "ROLLBACK");
    return false;
  }
  const std::int64_t from = state.Int(0, 0);
  if (from == kIndexComplete) {
    *complete = true;
    Exec(c, "ROLLBACK");
    return true;
  }
  Result read = Exec(c,
                     "SELECT \"ProductID\", \"Title\", \"trxPrice\", \"bidTime\" FROM \"History\" WHERE "
                     "\"ProductID\" > $1::bigint ORDER BY \"ProductID\" LIMIT $2::int",
                     {std::to_string(from), std::to_string(rows)});
  if (!read.Ok()) {
    *error = read.Error();
    Exec(c, "ROLLBACK");
    return false;
  }
  Listed listed;
  std::vector<std::string> scratch;
  for (int r = 0; r < read.Rows(); ++r)
    listed.Add(read.Int(r, 0), read.Null(r, 1) ? std::string_view() : read.Bytes(r, 1),
               OptionalInt(read, r, 2), OptionalInt(read, r, 3), &scratch);
  const std::int64_t last = read.Rows() > 0 ? read.Int(read.Rows() - 1, 0) : from;
  if (read.Rows() == 0 && !mayComplete) {
    Exec(c, "ROLLBACK");
    return true;
  }
  const std::int64_t upto = read.Rows() == 0 ? kIndexComplete : last;
  bool ok = AddPosts(c, listed.grams, error) && AddPacks(c, listed.facts, error);
  // The changes this snapshot saw are listed now; rows the lists cannot hold
  // stay fresh.
  Result r;
  if (ok) {
    r = Exec(c, "DELETE FROM \"HistoryKeywordFresh\" WHERE id > $1::bigint AND id <= $2::bigint",
             {std::to_string(from), std::to_string(upto)});
    if (r.Ok() && !listed.fresh.empty())
      r = Exec(
          c,
          "INSERT INTO \"HistoryKeywordFresh\"(id, kept) SELECT unnest($1::bigint[]), true ON CONFLICT (id) "
          "DO UPDATE SET kept = true",
          {IntArray(listed.fresh)});
    if (r.Ok()) r = Exec(c, "UPDATE \"HistoryKeywordState\" SET upto = $1::bigint", {std::to_string(upto)});
  }
  bool committed = false;
  if (!EndStep(c, ok, r, &committed, error)) return false;
  if (!committed) {
    *added = -1;  // tried again
    return true;
  }
  *added = read.Rows();
  *complete = upto == kIndexComplete;
  return true;
}

bool CompactPgPosts(const QSqlDatabase& db, QString* error) {
  PGconn* c = PgOf(db, error);
  return c && Run(c, "VACUUM FULL \"HistoryKeywordPosts\", \"HistoryKeywordPacks\"", {}, error);
}

std::int64_t PgFreshCount(const QSqlDatabase& db, std::int64_t limit) {
  PGconn* c = ConnOf(db);
  if (!c) return 0;
  Result r = Exec(
      c, "SELECT count(*) FROM (SELECT 1 FROM \"HistoryKeywordFresh\" WHERE NOT kept LIMIT $1::bigint) AS f",
      {std::to_string(limit)});
  return r.Ok() && r.Rows() == 1 ? r.Int(0, 0) : 0;
}

bool MergePgFresh(const QSqlDatabase& db, int rows, std::int64_t* moved, QString* error) {
  *moved = 0;
  PGconn* c = PgOf(db, error);
  if (!c) return false;
  if (!Run(c, "BEGIN ISOLATION LEVEL REPEATABLE READ", {}, error)) return false;
  if (!Locked(c, error)) return error->isEmpty();
  // Only into complete lists: while the build runs, its steps take them.
  Result state = Exec(c, "SELECT 1 FROM \"HistoryKeywordState\" WHERE upto = 2147483647");
  if (!state.Ok() || state.Rows() != 1) {
    if (!state.Ok()) *error = state.Error();
    Exec(c, "ROLLBACK");
    return state.Ok();
  }
  Result read =
      Exec(c,
           "SELECT f.id, f.seq, h.\"ProductID\" IS NOT NULL, h.\"Title\", h.\"trxPrice\", h.\"bidTime\", "
           "(SELECT p.first FROM \"HistoryKeywordPacks\" p WHERE p.first <= f.id ORDER BY p.first DESC "
           "LIMIT 1), (SELECT p.data FROM \"HistoryKeywordPacks\" p WHERE p.first <= f.id ORDER BY "
           "p.first DESC LIMIT 1) FROM (SELECT id, seq FROM \"HistoryKeywordFresh\" WHERE NOT kept "
           "ORDER BY id LIMIT $1::int) AS f LEFT JOIN \"History\" h ON h.\"ProductID\" = f.id ORDER BY "
           "f.id",
           {std::to_string(rows)});
  if (!read.Ok()) {
    *error = read.Error();
    Exec(c, "ROLLBACK");
    return false;
  }
  Listed listed;
  std::vector<std::string> scratch;
  std::vector<std::int64_t> goneIds, goneSeqs, keptIds, keptSeqs;
  FactsPack pack;
  for (int r = 0; r < read.Rows(); ++r) {
    const std::int64_t id = read.Int(r, 0), seq = read.Int(r, 1);
    // Listed before, with what it held then: the lists cannot take it out.
    KeywordFact f;
    if (!read.Null(r, 6)) {
      const std::string_view data = read.Bytes(r, 7);
      if (!pack.Read(read.Int(r, 6), data.data(), data.size())) {
        *error = QStringLiteral("the keyword index is damaged");
        Exec(c, "ROLLBACK");
        return false;
      }
      if (pack.Find(id, &f)) {
        keptIds.push_back(id);
        keptSeqs.push_back(seq);
        continue;
      }
    }
    goneIds.push_back(id);
    goneSeqs.push_back(seq);
    if (!read.Bool(r, 2)) continue;  // deleted before it was listed
    const std::size_t before = listed.fresh.size();
    listed.Add(id, read.Null(r, 3) ? std::string_view() : read.Bytes(r, 3), OptionalInt(read, r, 4),
               OptionalInt(read, r, 5), &scratch);
    if (listed.fresh.size() > before) {
      goneIds.pop_back();
      goneSeqs.pop_back();
      keptIds.push_back(id);
      keptSeqs.push_back(seq);
    }
  }
  bool ok = AddPosts(c, listed.grams, error) && AddPacks(c, listed.facts, error);
  Result r;
  if (ok) {
    r = Exec(c,
             "DELETE FROM \"HistoryKeywordFresh\" f USING unnest($1::bigint[], $2::bigint[]) AS u(id, seq) "
             "WHERE f.id = u.id AND f.seq = u.seq",
             {IntArray(goneIds), IntArray(goneSeqs)});
    if (r.Ok())
      r = Exec(
          c,
          "UPDATE \"HistoryKeywordFresh\" f SET kept = true FROM unnest($1::bigint[], $2::bigint[]) AS u(id, "
          "seq) WHERE f.id = u.id AND f.seq = u.seq",
          {IntArray(keptIds), IntArray(keptSeqs)});
  }
  bool committed = false;
  if (!EndStep(c, ok, r, &committed, error)) return false;
  if (!committed) return true;  // tried again later
  *moved = static_cast<std::int64_t>(goneIds.size() + keptIds.size());
  return true;
}

std::function<void()> PgCanceller(const QSqlDatabase& db) {
  PGconn* c = ConnOf(db);
  PGcancel* cancel = c ? PQgetCancel(c) : nullptr;
  if (!cancel) return {};
  std::shared_ptr<PGcancel> owned(cancel, PQfreeCancel);
  return [owned] {
    char why[256];
    PQcancel(owned.get(), why, sizeof why);
  };
}

QString PgConnectionError(const QSqlDatabase& db) {
  PGconn* c = ConnOf(db);
  const QString why = c ? QString::fromUtf8(PQerrorMessage(c)).simplified() : QString();
  return why.isEmpty() ? QStringLiteral("no answer from the database server") : why;
}

bool PgPostsComplete(const QSqlDatabase& db) {
  PGconn* c = ConnOf(db);
  if (!c) return false;
  // The lists fold ASCII letters as lower() does in most locales; a server
  // that folds them otherwise ('I' to dotless 'ı' in Turkish) is left to
  // the GIN index, which folds with lower() itself.
  Result r =
      Exec(c,
           "SELECT 1 FROM \"HistoryKeywordState\" WHERE upto = 2147483647 AND layout = $1::int AND relid "
           "= to_regclass('\"History\"') AND lower('ABCDEFGHIJKLMNOPQRSTUVWXYZ') = "
           "'abcdefghijklmnopqrstuvwxyz' AND " TG_LISTS_EXIST,
           {std::to_string(kLayout)});
  return r.Ok() && r.Rows() == 1;
}

IndexOnly PgIndexOnlyRows(const QSqlDatabase& db, const Statement& s,
                          const std::function<void(std::int64_t id, std::optional<std::int64_t> price)>& row,
                          QString* error) {
  if (s.otherConditions != 0 || s.includeKeywords.isEmpty()) return IndexOnly::NotAnswered;
  std::vector<std::string> grams;
  for (const QString& k : s.includeKeywords) {
    if (!DecidedByPgGram(k, 3)) return IndexOnly::NotAnswered;
    grams.push_back(KeywordGrams(k, 3).value(0).toStdString());
  }
  PGconn* c = ConnOf(db);
  if (!c) return IndexOnly::NotAnswered;
  // The lists, the fresh ids and their rows as of one moment.
  if (!Exec(c, "BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY").Ok()) return IndexOnly::NotAnswered;
  auto fail = [&](const QString& why) {
    *error = why;
    Exec(c, "ROLLBACK");
    return IndexOnly::Failed;
  };
  if (!PgPostsComplete(db)) {
    Exec(c, "ROLLBACK");
    return IndexOnly::NotAnswered;
  }
  const QString damaged = QStringLiteral("the keyword index is damaged");
  std::sort(grams.begin(), grams.end());
  grams.erase(std::unique(grams.begin(), grams.end()), grams.end());
  // Each gram's ids, the first gram's kept, each further one's intersected.
  std::vector<std::int64_t> ids, own, both;
  std::size_t listedGrams = 0;
  std::string gram;
  auto endGram = [&] {
    if (listedGrams++ == 0) {
      ids.swap(own);
    } else {
      both.clear();
      std::set_intersection(ids.begin(), ids.end(), own.begin(), own.end(), std::back_inserter(both));
      ids.swap(both);
    }
    own.clear();
  };
  if (!Stream(
          c,
          "SELECT gram, first, data FROM \"HistoryKeywordPosts\" WHERE gram = ANY($1::text[]) ORDER BY gram, "
          "first",
          {TextArray(grams)},
          [&](const Result& r, QString* why) {
            if (r.Bytes(0, 0) != gram) {
              if (!gram.empty()) endGram();
              gram = r.Bytes(0, 0);
            }
            if (ReadChunk(r.Int(0, 1), r.Bytes(0, 2), &own)) return true;
            *why = damaged;
            return false;
          },
          error))
    return fail(*error);
  if (!gram.empty()) endGram();
  if (listedGrams < grams.size()) ids.clear();  // a gram no title holds
  // Fresh rows are read from History one by one: after a load of many rows
  // by another client, the GIN index serves until the worker has moved them.
  Result fresh = Exec(c, "SELECT id FROM \"HistoryKeywordFresh\" ORDER BY id LIMIT $1::int",
                      {std::to_string(kFreshRead + 1)});
  if (!fresh.Ok()) return fail(fresh.Error());
  if (fresh.Rows() > kFreshRead) {
    Exec(c, "ROLLBACK");
    return IndexOnly::NotAnswered;
  }
  if (fresh.Rows() > 0) {
    both.clear();
    std::size_t f = 0;
    for (std::int64_t id : ids) {
      while (f < static_cast<std::size_t>(fresh.Rows()) && fresh.Int(static_cast<int>(f), 0) < id) ++f;
      if (f < static_cast<std::size_t>(fresh.Rows()) && fresh.Int(static_cast<int>(f), 0) == id) continue;
      both.push_back(id);
    }
    ids.swap(both);
  }
  if (!ids.empty()) {
    // A common keyword (ids dense enough to fall in nearly every pack of
    // their span) reads the packs of its span in order; a rare one only
    // those its ids fall in, found from the packs' first ids.
    std::string sql;
    std::vector<std::string> params;
    const std::uint64_t span =
        static_cast<std::uint64_t>(ids.back()) - static_cast<std::uint64_t>(ids.front());
    if (ids.size() > 2000 || ids.size() * 64 > span) {
      sql =
          "SELECT first, data FROM \"HistoryKeywordPacks\" WHERE first <= $2::bigint AND first >= "
          "coalesce((SELECT max(first) FROM \"HistoryKeywordPacks\" WHERE first <= $1::bigint), $1::bigint) "
          "ORDER BY first";
      params = {std::to_string(ids.front()), std::to_string(ids.back())};
    } else {
      Result firsts = Exec(c, "SELECT first FROM \"HistoryKeywordPacks\" ORDER BY first");
      if (!firsts.Ok()) return fail(firsts.Error());
      std::vector<std::int64_t> wanted;
      int p = -1;
      for (std::int64_t id : ids) {
        while (p + 1 < firsts.Rows() && firsts.Int(p + 1, 0) <= id) ++p;
        if (p >= 0 && (wanted.empty() || wanted.back() != firsts.Int(p, 0)))
          wanted.push_back(firsts.Int(p, 0));
      }
      sql = "SELECT first, data FROM \"HistoryKeywordPacks\" WHERE first = ANY($1::bigint[]) ORDER BY first";
      params = {IntArray(wanted)};
    }
    FactsPack pack;
    KeywordFact f;
    std::size_t next = 0;
    if (!Stream(
            c, sql.c_str(), params,
            [&](const Result& r, QString* why) {
              if (next == ids.size()) return true;
              const std::string_view data = r.Bytes(0, 1);
              // Every id falls in a pack.
              if (!pack.Read(r.Int(0, 0), data.data(), data.size()) || ids[next] < r.Int(0, 0)) {
                *why = damaged;
                return false;
              }
              for (; next < ids.size() && ids[next] <= pack.Last(); ++next) {
                if (!pack.Find(ids[next], &f)) {
                  *why = damaged;
                  return false;
                }
                if (s.dayBound && !(f.day && *f.day > *s.dayBound)) continue;
                row(ids[next], f.price);
              }
              return true;
            },
            error))
      return fail(*error);
    if (next < ids.size()) return fail(damaged);
  }
  // The fresh rows, from History under the statement's own conditions.
  if (fresh.Rows() > 0) {
    const QString glue =
        s.from.contains(QStringLiteral(" WHERE ")) ? QStringLiteral(" AND ") : QStringLiteral(" WHERE ");
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.prepare(QStringLiteral("SELECT \"ProductID\", \"trxPrice\"") + s.from + glue +
                   QStringLiteral("\"ProductID\" IN (SELECT id FROM \"HistoryKeywordFresh\")")))
      return fail(EngineText(q.lastError()));
    for (const QVariant& v : s.params) q.addBindValue(v);
    if (!q.exec()) return fail(EngineText(q.lastError()));
    while (q.next())
      row(q.value(0).toLongLong(),
          q.value(1).isNull() ? std::nullopt : std::optional<std::int64_t>(q.value(1).toLongLong()));
    if (q.lastError().isValid()) return fail(EngineText(q.lastError()));
  }
  Exec(c, "COMMIT");
  return IndexOnly::Answered;
}

}  // namespace tallyglass::db
