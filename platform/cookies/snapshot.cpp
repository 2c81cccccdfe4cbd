#include "platform/cookies/snapshot.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace platform::cookies::detail {
namespace {

// A cookie store larger than this is not a cookie store.
constexpr std::size_t kMaxBytes = std::size_t{1} << 30;

std::uint32_t Be32(const std::string& s, std::size_t at) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data() + at);
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

std::uint32_t Le32(const std::string& s, std::size_t at) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data() + at);
  return (std::uint32_t{p[3]} << 24) | (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[1]} << 8) | p[0];
}

bool ValidPageSize(std::uint32_t n) { return n >= 512 && n <= 65536 && (n & (n - 1)) == 0; }

// Reads the whole file; a missing file reads as empty.
bool ReadAll(const std::string& path, std::string& out, std::string& error) {
  out.clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return true;
    error = "无法读取 " + path + ": " + std::strerror(errno);
    return false;
  }
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = "无法读取 " + path + ": " + std::strerror(errno);
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    if (out.size() + static_cast<std::size_t>(n) > kMaxBytes) {
      error = path + " 太大";
      ::close(fd);
      return false;
    }
    out.append(buf, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return true;
}

// The first 32 bytes of a file (fewer when it is shorter or missing).
bool ReadHeader(const std::string& path, std::string& out) {
  out.clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return true;
  char buf[32];
  ssize_t n;
  do {
    n = ::pread(fd, buf, sizeof buf, 0);
  } while (n < 0 && errno == EINTR);
  if (n > 0) out.assign(buf, static_cast<std::size_t>(n));
  ::close(fd);
  return true;
}

// False when the page lies beyond any plausible store.
bool PutPage(std::string& image, std::uint32_t pgno, std::uint32_t pageSize, const char* data) {
  const std::size_t at = static_cast<std::size_t>(pgno - 1) * pageSize;
  if (at + pageSize > kMaxBytes) return false;
  if (image.size() < at + pageSize) image.resize(at + pageSize, '\0');
  std::memcpy(image.data() + at, data, pageSize);
  return true;
}

// SQLite's WAL checksum over `n` bytes (a multiple of 8) from `at`.
void WalChecksum(const std::string& s, std::size_t at, std::size_t n, bool bigEndian, std::uint32_t& s1,
                 std::uint32_t& s2) {
  for (std::size_t i = at; i + 8 <= at + n; i += 8) {
    const std::uint32_t x0 = bigEndian ? Be32(s, i) : Le32(s, i);
    const std::uint32_t x1 = bigEndian ? Be32(s, i + 4) : Le32(s, i + 4);
    s1 += x0 + s2;
    s2 += x1 + s1;
  }
}

}  // namespace

void ApplyWal(std::string& image, const std::string& wal) {
  if (wal.size() < 32) return;
  const std::uint32_t magic = Be32(wal, 0);
  if (magic != 0x377f0682 && magic != 0x377f0683) return;
  const bool bigEndian = (magic & 1) != 0;
  const std::uint32_t pageSize = Be32(wal, 8);
  if (!ValidPageSize(pageSize)) return;
  const std::uint32_t salt1 = Be32(wal, 16), salt2 = Be32(wal, 20);
  std::uint32_t s1 = 0, s2 = 0;
  WalChecksum(wal, 0, 24, bigEndian, s1, s2);
  if (s1 != Be32(wal, 24) || s2 != Be32(wal, 28)) return;
  // Frames count only up to the last commit whose chain of checksums holds;
  // what follows it is a transaction under way or left over from before.
  std::vector<std::size_t> pending;
  const std::size_t frameSize = 24 + static_cast<std::size_t>(pageSize);
  for (std::size_t off = 32; off + frameSize <= wal.size(); off += frameSize) {
    const std::uint32_t pgno = Be32(wal, off);
    const std::uint32_t commitPages = Be32(wal, off + 4);
    if (pgno == 0 || Be32(wal, off + 8) != salt1 || Be32(wal, off + 12) != salt2) break;
    WalChecksum(wal, off, 8, bigEndian, s1, s2);
    WalChecksum(wal, off + 24, pageSize, bigEndian, s1, s2);
    if (s1 != Be32(wal, off + 16) || s2 != Be32(wal, off + 20)) break;
    pending.push_back(off);
    if (commitPages == 0) continue;
    if (static_cast<std::size_t>(commitPages) * pageSize > kMaxBytes) break;
    for (const std::size_t f : pending) PutPage(image, Be32(wal, f), pageSize, wal.data() + f + 24);
    pending.clear();
    image.resize(static_cast<std::size_t>(commitPages) * pageSize, '\0');
  }
}

void RollBackJournal(std::string& image, const std::string& journal) {
  static const unsigned char kMagic[8] = {0xd9, 0xd5, 0x05, 0xf9, 0x20, 0xa1, 0x63, 0xd7};
  std::size_t hdr = 0;
  std::int64_t originalPages = -1;
  std::uint32_t pageSize = 0;
  while (hdr + 28 <= journal.size() && std::memcmp(journal.data() + hdr, kMagic, 8) == 0) {
    std::uint32_t records = Be32(journal, hdr + 8);
    const std::uint32_t nonce = Be32(journal, hdr + 12);
    const std::uint32_t sector = Be32(journal, hdr + 20);
    if (originalPages < 0) {
      originalPages = Be32(journal, hdr + 16);
      pageSize = Be32(journal, hdr + 24);
      if (!ValidPageSize(pageSize)) return;
    }
    if (sector < 32 || sector > 65536 || (sector & (sector - 1)) != 0) break;
    std::size_t rec = hdr + sector;
    const std::size_t recordSize = 8 + static_cast<std::size_t>(pageSize);
    // 0xffffffff: written without syncs, the records run to the end.
    if (records == 0xffffffff)
      records = static_cast<std::uint32_t>(rec < journal.size() ? (journal.size() - rec) / recordSize : 0);
    // No records yet: the database was not touched by this segment.
    if (records == 0) break;
    bool intact = true;
    for (std::uint32_t i = 0; i < records; ++i, rec += recordSize) {
      if (rec + recordSize > journal.size()) {
        intact = false;
        break;
      }
      const std::uint32_t pgno = Be32(journal, rec);
      const char* data = journal.data() + rec + 4;
      std::uint32_t sum = nonce;
      for (std::size_t k = pageSize - 200; k > 0 && k < pageSize; k -= 200)
        sum += static_cast<unsigned char>(data[k]);
      if (pgno == 0 || sum != Be32(journal, rec + 4 + pageSize) || !PutPage(image, pgno, pageSize, data)) {
        intact = false;
        break;
      }
    }
    if (!intact) break;
    hdr = (rec + sector - 1) / sector * sector;
  }
  if (originalPages >= 0 && pageSize != 0) {
    const std::size_t size = static_cast<std::size_t>(originalPages) * pageSize;
    if (image.size() > size) image.resize(size);
  }
}

namespace {

// The -wal's header names its generation: a checkpoint that restarts the log
// rewrites it before any frame. Frames appended meanwhile are harmless, they
// are in the later read.
bool SameWalGeneration(const std::string& before, const std::string& after) {
  if (before.size() < 32) return true;  // no log yet: every frame is in the later read
  return after.size() >= 32 && before.compare(0, 32, after, 0, 32) == 0;
}

// Identity, size and modification time: a checkpoint writing the database
// while it is read changes them.
std::string FileStamp(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return "-";
  return std::to_string(st.st_ino) + '/' + std::to_string(st.st_size) + '/' +
         std::to_string(st.st_mtim.tv_sec) + '.' + std::to_string(st.st_mtim.tv_nsec);
}

}  // namespace

std::string ReadCommittedImage(const std::string& path, std::string& error, bool* busy) {
  if (busy) *busy = false;
  std::string image, walBefore, wal, walHeader, journal, journalAfter;
  // A browser commits a login now and then; one writing throughout a whole
  // second is given up on for now rather than read half-done.
  for (int attempt = 0; attempt < 60; ++attempt) {
    if (attempt > 3) std::this_thread::sleep_for(std::chrono::milliseconds(attempt < 20 ? 2 : 20));
    if (!ReadAll(path + "-wal", walBefore, error) || !ReadAll(path + "-journal", journal, error)) return {};
    const std::string stamp = FileStamp(path);
    if (!ReadAll(path, image, error)) return {};
    const std::string stampAfter = FileStamp(path);
    if (!ReadAll(path + "-wal", wal, error) || !ReadHeader(path + "-wal", walHeader) ||
        !ReadAll(path + "-journal", journalAfter, error)) {
      return {};
    }
    // The second look at the -wal's header tells a log restarted during its
    // read, whose frames would not fit the header read with it.
    if (stamp == stampAfter && journal == journalAfter && SameWalGeneration(walBefore, wal) &&
        SameWalGeneration(wal, walHeader)) {
      RollBackJournal(image, journalAfter);
      ApplyWal(image, wal);
      // The image is read on its own, without the -wal: mark it a rollback-mode file.
      static const char kHeader[] = "SQLite format 3";
      if (image.size() >= 100 && std::memcmp(image.data(), kHeader, sizeof kHeader) == 0) {
        image[18] = 1;
        image[19] = 1;
      }
      if (image.empty()) error = path + " 是空文件";
      return image;
    }
  }
  if (busy) *busy = true;
  error = path + " 正被浏览器不停写入，稍后再读";
  return {};
}

}  // namespace platform::cookies::detail
