#pragma once
// A browser's cookie store read into memory as of its last commit, while the
// browser keeps it open and writes to it. Nothing is written to disk.
//
// The database file alone is not the committed state: in WAL mode the newest
// commits sit in the -wal file (frames applied here up to its last valid
// commit), and during a write in rollback mode the -journal holds the pages
// as they were before it (played back here, as SQLite would roll back a hot
// journal). The side files are read before and after the database until
// neither a checkpoint into the database, nor a restart of the -wal, nor a
// write transaction fell in between; frames appended meanwhile are in the
// later read and applied. `immutable=1` would skip the -wal and so
// miss a login made a minute ago, and may read a half-written page.
#include <string>

namespace platform::cookies::detail {

// The committed database image of `path`; empty with `error` set when it
// cannot be read, and `busy` set when it was being written throughout.
std::string ReadCommittedImage(const std::string& path, std::string& error, bool* busy = nullptr);

// The parts, for tests and fuzzing: apply a -wal or a hot -journal to an image.
void ApplyWal(std::string& image, const std::string& wal);
void RollBackJournal(std::string& image, const std::string& journal);

}  // namespace platform::cookies::detail
