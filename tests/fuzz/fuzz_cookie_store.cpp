// Any bytes as a browser's cookie store with its -wal and -journal: playing
// them back and opening the result must neither crash nor grow past reason.
#include <sqlite3.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/cookies/snapshot.h"
#include "platform/cookies/sqlite_util.h"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

}  // namespace

// Input: the lengths of the database image and of the -wal (4 bytes each,
// little-endian, cut to what is there), the image, the -wal, then the -journal.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace platform::cookies::detail;
  if (size < 8) return 0;
  auto length = [&](std::size_t at) {
    return std::size_t{data[at]} | std::size_t{data[at + 1]} << 8 | std::size_t{data[at + 2]} << 16 |
           std::size_t{data[at + 3]} << 24;
  };
  std::string_view in(reinterpret_cast<const char*>(data) + 8, size - 8);
  std::string parts[3];
  const std::size_t lengths[2] = {length(0), length(4)};
  for (int i = 0; i < 2; ++i) {
    parts[i] = std::string(in.substr(0, lengths[i]));
    in.remove_prefix(parts[i].size());
  }
  parts[2] = std::string(in);
  std::string image = parts[0];
  RollBackJournal(image, parts[2]);
  ApplyWal(image, parts[1]);
  Check(image.size() <= (std::size_t{1} << 30));
  if (image.empty()) return 0;
  Db db;
  std::string error;
  if (db.OpenImage(image, error) && db.Check(error)) {
    sqlite3_exec(db.get(), "SELECT * FROM moz_cookies", nullptr, nullptr, nullptr);
    sqlite3_exec(db.get(), "SELECT * FROM cookies", nullptr, nullptr, nullptr);
  }
  return 0;
}
