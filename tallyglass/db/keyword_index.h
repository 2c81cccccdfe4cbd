#pragma once
// The keyword index: every title broken into its characters, character
// pairs and triples (most Chinese product words have two characters, which a
// trigram index alone cannot serve). It narrows the candidates and the
// query's LIKE conditions decide, so its answers are the scan's; where
// holding the gram is the same as matching the LIKE (a keyword of one to
// three characters without wildcards, nothing else to test) the index
// answers alone.
//
// SQLite: a contentless FTS5 table HistoryKeywords (detail=none, rowid =
// ProductID) with the tokenizer "tg_grams" of this file, and beside it each
// row's price and day packed in HistoryKeywordPacks (keyword_facts.h), so
// that the statistics of a keyword the grams decide exactly need no row of
// History. Rows up to HistoryKeywordState.upto are in both; the walk's
// batches add theirs in the same transaction, and a builder on a worker
// fills in an existing history (and rebuilds an index of an older layout).
// PostgreSQL: a GIN index over the immutable SQL function tg_grams(text)
// narrows; beside it the program's own lists of each gram's rows and the
// rows' packed facts (keyword_posts.h) answer a keyword the grams decide.
#include <QString>
#include <QStringList>
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "tallyglass/db/history_db.h"

struct sqlite3;
class QObject;
class QSqlDatabase;

namespace tallyglass::db {

// The SQLite handle under a connection; null for another engine.
sqlite3* HandleOf(const QSqlDatabase& db);

// Registers tokenizer "tg_grams" on an SQLite connection (each connection
// that writes or reads HistoryKeywords needs it).
bool RegisterGramTokenizer(sqlite3* handle);
bool RegisterGramTokenizer(const QSqlDatabase& db);

// The grams a keyword's LIKE pattern needs in a matching title, for an index
// of grams up to `longest` characters: each literal run between the
// wildcards % and _ when it is no longer, else its runs of `longest`
// neighbours. ASCII letters folded to lower case. Empty: the keyword narrows
// nothing.
QStringList KeywordGrams(const QString& keyword, int longest);

// The grams of a title as the index holds them: calls `gram(start, end,
// chars)` with the bytes of each character of UTF-8 `text` (a stray byte
// counts as one), then of it with the one before, then with the two before;
// stops when `gram` returns false (and returns false).
template <class Gram>
bool ForEachTitleGram(std::string_view text, Gram&& gram) {
  std::size_t starts[2] = {std::string_view::npos, std::string_view::npos};
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const std::size_t n = std::min<std::size_t>(lead < 0xC0   ? 1
                                                : lead < 0xE0 ? 2
                                                : lead < 0xF0 ? 3
                                                              : 4,
                                                text.size() - i);
    if (!gram(i, i + n, 1)) return false;
    if (starts[0] != std::string_view::npos && !gram(starts[0], i + n, 2)) return false;
    if (starts[1] != std::string_view::npos && !gram(starts[1], i + n, 3)) return false;
    starts[1] = starts[0];
    starts[0] = i;
    i += n;
  }
  return true;
}

// A gram's bytes as the index holds them: ASCII letters in lower case, as
// LIKE compares them.
inline std::string FoldedGram(std::string_view bytes) {
  std::string g(bytes);
  for (char& c : g)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return g;
}

// The upto value of a complete index.
inline constexpr std::int64_t kIndexComplete = 2147483647;

// SQLite: creates the index's tables where missing, on a connection. A new,
// empty history starts complete; an existing one is filled by the builder.
bool CreateKeywordIndex(const QSqlDatabase& db, bool emptyTable, QString* error);

// Whether the index is complete.
bool KeywordIndexReady(const QSqlDatabase& db, Engine engine);

// Whether queries may narrow by the index now (PostgreSQL: the GIN index is
// built, whatever the lists beside it).
bool KeywordIndexNarrows(const QSqlDatabase& db, Engine engine);

// PostgreSQL: whether a title holds `keyword` (ILIKE) exactly when it holds
// its one gram of up to `longest` characters: no wildcard, and only ASCII
// and characters without case, which lower() leaves one character.
bool DecidedByPgGram(const QString& keyword, int longest);

// Adds the condition that narrows `s` to the index's candidates, when its
// include keywords have grams. False when it added nothing.
bool NarrowByIndex(Statement* s, Engine engine);

// PostgreSQL, for a statement that reads every row it narrows to (the
// statistics): the same, with the gram condition in place of each ILIKE it
// decides (one or two ASCII or caseless characters, no wildcard). Not for an
// ordered page: the planner could then walk the key testing grams row by
// row.
bool NarrowEveryRowByGin(Statement* s);

// SQLite, with the index ready: calls `row` with the id and price of each
// of `s`'s rows from the index alone, when its only conditions are the day
// range and include keywords whose grams decide LIKE exactly (one to three
// characters, no wildcard: the title holds that gram, in any ASCII case).
// NotAnswered when the rows must be read.
enum class IndexOnly { NotAnswered, Answered, Failed };
IndexOnly IndexOnlyRows(sqlite3* handle, const Statement& s,
                        const std::function<void(std::int64_t id, std::optional<std::int64_t> price)>& row,
                        QString* error);

// Inside the transaction that stored `productId`: puts it in the index when
// the builder has passed it (SQLite; PostgreSQL's index keeps itself).
bool IndexStoredRow(HistoryDb* db, std::int32_t productId, const QString& title, QString* error);

// The work done once the window shows: the file's integrity check (SQLite),
// then the index over an existing history, on a thread with a connection of
// its own. Results come back on the creating thread's event loop.
class IndexBuilder {
 public:
  struct Callbacks {
    // Damage found by the integrity check: the engine's text.
    std::function<void(const QString& problem)> onDamage;
    std::function<void(std::int64_t done, std::int64_t total)> onProgress;
    std::function<void(bool ok, const QString& error)> onFinished;
  };
  explicit IndexBuilder(const HistoryDb& db);
  ~IndexBuilder();
  IndexBuilder(const IndexBuilder&) = delete;
  IndexBuilder& operator=(const IndexBuilder&) = delete;
  void Start(Callbacks callbacks);
  bool Running() const { return running_; }
  // Rows per transaction of the build: a walk's batch waits at most one.
  static constexpr int kChunkRows = 20000;
  // PostgreSQL's lists: rows per transaction of the build or a merge, and
  // the fresh rows that start a merge.
  static constexpr int kPgChunkRows = 50000;
  static constexpr int kPgFreshMerge = 5000;

 private:
  void Run(Callbacks c);
  QString mainName_;
  QString dbFile_;
  Engine engine_;
  std::unique_ptr<QObject> context_;
  std::atomic<bool> stop_{false};
  // Cancels the PostgreSQL statement the builder runs, when the window goes.
  std::mutex cancelMutex_;
  std::function<void()> cancel_;
  bool running_ = false;
  std::thread thread_;
};

}  // namespace tallyglass::db
