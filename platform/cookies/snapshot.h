#pragma once
// A browser's cookie store read into memory as of its last commit, while the
// browser keeps it open and writes to it. Nothing is written to disk.
//
// The database file alone is not the committed state: in WAL mode the newest
// commits sit in the -wal file (frames applied here up to its last valid
// commit), and during a write in rollback mode the -journal holds the pages
// as they were before it (played back here, as SQLite would roll back a hot
// journal). The three files are read until two reads of the side files
// agree around the read of the database, so that no checkpoint or commit of
// the browser falls between them. `immutable=1` would skip the -wal and so
// miss a login made a minute ago, and may read a half-written page.
#include <string>

namespace platform::cookies::detail {

// The committed database image of `path`; empty with `error` set when it
// cannot be read.
std::string ReadCommittedImage(const std::string& path, std::string& error);

// The parts, for tests and fuzzing: apply a -wal or a hot -journal to an image.
void ApplyWal(std::string& image, const std::string& wal);
void RollBackJournal(std::string& image, const std::string& journal);

}  // namespace platform::cookies::detail
