#pragma once
// A few RAII pieces over the SQLite C interface for the cookie readers.
#include <sqlite3.h>

#include <cstdint>
#include <initializer_list>
#include <set>
#include <string>

#include "platform/cookies/cookies_internal.h"
#include "platform/cookies/snapshot.h"

namespace platform::cookies::detail {

class Db {
 public:
  // Opens a database image held in memory, read-only and in place: the
  // image must outlive this Db and stay unchanged.
  bool OpenImage(std::string& image, std::string& error) {
    int rc = sqlite3_open_v2(":memory:", &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
      error = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
      return false;
    }
    const auto size = static_cast<sqlite3_int64>(image.size());
    rc = sqlite3_deserialize(db_, "main", reinterpret_cast<unsigned char*>(image.data()), size, size,
                             SQLITE_DESERIALIZE_READONLY);
    if (rc != SQLITE_OK) {
      error = sqlite3_errstr(rc);
      return false;
    }
    return true;
  }
  // Reads the schema once, so that a file that is not a database fails here.
  bool Check(std::string& error) const {
    if (sqlite3_exec(db_, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr) == SQLITE_OK)
      return true;
    error = Error();
    return false;
  }
  ~Db() {
    if (db_) sqlite3_close_v2(db_);
  }
  sqlite3* get() const { return db_; }
  std::string Error() const { return db_ ? sqlite3_errmsg(db_) : "no database"; }
  // The last failure came from a damaged file, not from a missing table or a
  // busy browser.
  bool Damaged() const {
    const int rc = db_ ? sqlite3_extended_errcode(db_) & 0xff : 0;
    return rc == SQLITE_CORRUPT || rc == SQLITE_NOTADB;
  }
  // What a failed read tells the user, naming a damaged store as damaged.
  std::string Failure(const std::string& label, bool* damaged) const {
    *damaged = Damaged();
    return label + (*damaged ? " 已损坏: " : " 无法读取: ") + Error();
  }

  // The column names of a table; empty when there is no such table.
  std::set<std::string> Columns(const std::string& table) const {
    std::set<std::string> cols;
    sqlite3_stmt* st = nullptr;
    std::string sql = "PRAGMA table_info(" + table + ")";
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) return cols;
    while (sqlite3_step(st) == SQLITE_ROW) {
      const unsigned char* name = sqlite3_column_text(st, 1);
      if (name) cols.insert(reinterpret_cast<const char*>(name));
    }
    sqlite3_finalize(st);
    return cols;
  }

 private:
  sqlite3* db_ = nullptr;
};

class Stmt {
 public:
  Stmt(sqlite3* db, const std::string& sql) {
    ok_ = sqlite3_prepare_v2(db, sql.c_str(), -1, &st_, nullptr) == SQLITE_OK;
  }
  ~Stmt() { sqlite3_finalize(st_); }
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;
  bool ok() const { return ok_; }
  sqlite3_stmt* get() const { return st_; }
  std::string Text(int col) const {
    const void* p = sqlite3_column_blob(st_, col);
    int n = sqlite3_column_bytes(st_, col);
    return p && n > 0 ? std::string(static_cast<const char*>(p), static_cast<std::size_t>(n)) : std::string();
  }
  std::int64_t Int(int col) const { return sqlite3_column_int64(st_, col); }

 private:
  sqlite3_stmt* st_ = nullptr;
  bool ok_ = false;
};

// A browser's cookie store read into memory as of its last commit and
// opened, with the columns of its cookie table checked.
struct StoreSnapshot {
  // Empty when the store is ready; otherwise why it cannot be read.
  std::string Open(const std::string& database, const char* table, std::initializer_list<const char*> needed,
                   const std::string& label, const std::string& notThisKind) {
    std::string err;
    image = ReadCommittedImage(database, err, &busy);
    if (image.empty()) return err;
    if (!db.OpenImage(image, err)) return label + " 无法读取: " + err;
    if (!db.Check(err)) return db.Failure(label, &damaged);
    cols = db.Columns(table);
    for (const char* need : needed) {
      if (!cols.count(need)) return notThisKind;
    }
    return {};
  }
  bool busy = false;     // the browser wrote throughout the read
  bool damaged = false;  // the file is not a sound database
  std::string image;     // read by db in place: declared first, destroyed last
  Db db;
  std::set<std::string> cols;
};

}  // namespace platform::cookies::detail
