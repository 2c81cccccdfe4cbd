#pragma once
// The keyword index's facts: each indexed row's price and day, packed in
// ProductID order, several hundred rows to a page (table
// HistoryKeywordPacks: the pack's first ProductID, and the pack; on SQLite
// the first id is the rowid). A common keyword's rows fall on nearly every page of any table of
// facts; a page read whole and searched in place costs far less than a
// B-tree lookup per row.
//
// A pack: one byte each for the widths of its id, price and day fields (1
// to 8 bytes), a byte of flags (bit 0: some price is NULL, bit 1: some day
// is NULL), the row count (4 bytes), the smallest price and day (8 bytes
// each), then the rows' id offsets from the first id, their price and day
// offsets from those smallest values, and a bit per row for each column
// with a NULL (set: NULL). All little-endian.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace tallyglass::db {

struct PackView;

// One row's facts, as the statistics and the day range read them.
struct KeywordFact {
  std::int64_t id = 0;
  // trxPrice as the statistics read it (the engine's integer value); empty
  // for NULL.
  std::optional<std::int64_t> price;
  // bidTime for "bidTime > day": an integer as it is, a real number rounded
  // up, text above every day; empty for NULL, which no range holds.
  std::optional<std::int64_t> day;
  bool operator==(const KeywordFact&) const = default;
};

// A pack's largest size in bytes: one to a 4 KB page.
inline constexpr int kPackBytes = 4000;

// The SQL of the packs' table.
inline constexpr char kPacksTableSql[] =
    "CREATE TABLE HistoryKeywordPacks (first INTEGER PRIMARY KEY, data BLOB)";

// Appends the facts of History's rows that `tail` selects ("WHERE ...",
// with any ORDER BY and LIMIT).
bool ReadFacts(sqlite3* handle, const std::string& tail, std::vector<KeywordFact>* out, std::string* error);

// Stores facts (ascending ids) in the packs, splitting a pack that grows
// past kPackBytes. An id already stored keeps its facts.
bool AddFacts(sqlite3* handle, const std::vector<KeywordFact>& facts, std::string* error);

// Facts (ascending, unique ids) in packs of at most kPackBytes: each pack's
// first id and bytes.
std::vector<std::pair<std::int64_t, std::string>> PackFacts(const std::vector<KeywordFact>& facts);

// One pack read from its bytes (any engine's).
class FactsPack {
 public:
  FactsPack();
  ~FactsPack();
  FactsPack(const FactsPack&) = delete;
  FactsPack& operator=(const FactsPack&) = delete;
  // False when `data` is no pack (a damaged index).
  bool Read(std::int64_t first, const void* data, std::size_t size);
  std::size_t Size() const;
  std::int64_t Last() const;
  KeywordFact At(std::size_t i) const;
  bool Find(std::int64_t id, KeywordFact* out) const;

 private:
  std::string data_;  // padded
  std::unique_ptr<PackView> view_;
};

// The facts of ids asked in ascending order, each pack read once while the
// ids stay in it.
class FactsReader {
 public:
  explicit FactsReader(sqlite3* handle);
  ~FactsReader();
  FactsReader(const FactsReader&) = delete;
  FactsReader& operator=(const FactsReader&) = delete;
  // False when the packs hold no facts of `id`, or on an error (Error()).
  bool Find(std::int64_t id, KeywordFact* out);
  // The engine's error code of the last failure; SQLITE_OK (0) when none.
  int Error() const { return rc_; }

 private:
  bool Load(sqlite3_stmt* st);
  bool Seek(std::int64_t id);
  sqlite3* handle_;
  sqlite3_stmt* seek_ = nullptr;  // the pack an id falls in
  sqlite3_stmt* next_ = nullptr;  // the packs after the current one
  bool nextActive_ = false;
  bool have_ = false;
  std::int64_t first_ = 0, last_ = 0;
  std::string data_;  // the current pack, padded
  std::unique_ptr<PackView> view_;
  int rc_ = 0;
};

}  // namespace tallyglass::db
