#pragma once
// The keyword index's own lists on PostgreSQL. The GIN index names a
// keyword's candidate rows, but the statistics of a common keyword then read
// most of History's pages for the prices. Beside it, kept by this program:
// - "HistoryKeywordPosts" (gram, first, data): for each gram of the titles
//   (a character, pair or triple, ASCII letters in lower case) the ids of
//   the rows that hold it, in chunks of at most 4000 bytes: the chunk's
//   first id, then each following id as its step from the one before, all
//   steps of a chunk in as many bits as its largest needs.
// - "HistoryKeywordPacks" (first, data): each row's price and day, packed as
//   on SQLite (keyword_facts.h).
// - "HistoryKeywordFresh" (id, seq, kept): the ids of History's rows changed
//   since they were listed, put there by triggers on History whoever writes
//   it. The lists do not speak for them: queries read their rows from
//   History, and a worker moves them into the lists in batches. A row the
//   lists cannot hold exactly (a title whose lower case the server may fold
//   into a character of a decided keyword, or a row changed after it was
//   listed) stays there, kept.
// - "HistoryKeywordState" (upto, layout, relid): how far the build has gone,
//   and the History table it was built for (another one, or another layout,
//   is built again).
// A keyword the grams decide is then answered from a few hundred pages of
// lists and packs instead of a page of History per matching row.
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>

#include "tallyglass/db/history_db.h"
#include "tallyglass/db/keyword_index.h"

class QSqlDatabase;

namespace tallyglass::db {

// Creates the lists (again, when they belong to another History table or
// layout). `complete`: whether they hold every row.
bool PreparePgPosts(const QSqlDatabase& db, bool* complete, QString* error);

// Lists up to `rows` rows past the build's mark, in one transaction:
// `added` rows. With none left, and `mayComplete`, the lists are complete
// (`complete`). Another client building at the same time, or a conflict
// with a concurrent writer: nothing done, `added` -1, no error.
bool BuildPgPostsStep(const QSqlDatabase& db, int rows, bool mayComplete, std::int64_t* added, bool* complete,
                      QString* error);

// Writes the lists and packs again without the room the build's rewritten
// chunks left (VACUUM FULL: queries of the lists wait meanwhile, so the
// builder runs it before the lists are complete).
bool CompactPgPosts(const QSqlDatabase& db, QString* error);

// The fresh ids not kept, up to `limit` (the worker's cue to merge).
std::int64_t PgFreshCount(const QSqlDatabase& db, std::int64_t limit);

// Moves up to `rows` fresh ids into the lists, in one transaction; `moved`
// how many left the fresh table. A conflict with a concurrent writer ends it
// without error (it is tried again later).
bool MergePgFresh(const QSqlDatabase& db, int rows, std::int64_t* moved, QString* error);

// A call that cancels the statement running on `db`'s connection, from any
// thread (the window going while the builder writes); empty for another
// engine.
std::function<void()> PgCanceller(const QSqlDatabase& db);

// The connection's last error (a server gone: "server closed the
// connection unexpectedly ..."); never empty.
QString PgConnectionError(const QSqlDatabase& db);

// Whether the lists are complete for the current History.
bool PgPostsComplete(const QSqlDatabase& db);

// As IndexOnlyRows on SQLite: `s`'s rows (id and price) from the lists, the
// packs and the fresh rows, when its only conditions are the day range and
// include keywords of one to three characters the grams decide.
IndexOnly PgIndexOnlyRows(const QSqlDatabase& db, const Statement& s,
                          const std::function<void(std::int64_t id, std::optional<std::int64_t> price)>& row,
                          QString* error);

}  // namespace tallyglass::db
