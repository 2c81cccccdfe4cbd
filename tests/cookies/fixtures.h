#pragma once
// Browser stores made by the tests themselves, in a temporary HOME.
#include <sqlite3.h>
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/cookies/cookies.h"

namespace cookietest {

constexpr std::int64_t kNow = 1700000000;  // the tests' "now", seconds since 1970

// A fresh HOME (and TMPDIR) for one test; the environment comes back after.
class TempHome {
 public:
  TempHome();
  ~TempHome();
  const std::string& home() const { return home_; }
  const std::string& tmp() const { return tmp_; }
  std::string Path(const std::string& rel) const { return home_ + "/" + rel; }
  // The private copies the loader left behind in TMPDIR.
  std::vector<std::string> LeftoverCopies() const;

 private:
  std::string root_, home_, tmp_;
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

void MakeDirs(const std::string& dir);
void WriteFile(const std::string& path, const std::string& content);
std::string ReadFile(const std::string& path);

// One cookie as a fixture writes it.
struct Row {
  Row(std::string host_, std::string name_, std::string value_, std::int64_t expires_ = kNow + 86400,
      bool secure_ = false, bool httpOnly_ = false)
      : host(std::move(host_)),
        name(std::move(name_)),
        value(std::move(value_)),
        expires(expires_),
        secure(secure_),
        httpOnly(httpOnly_) {}
  std::string host;  // as the browser keeps it: ".jd.com" or "paimai.jd.com"
  std::string name;
  std::string value;
  std::int64_t expires;  // seconds since 1970; 0 = session
  bool secure;
  bool httpOnly;
  std::string path = "/";
  std::string originAttributes;  // Firefox containers
};

// Firefox: schema `version` decides the expiry unit (ms from 16 on).
void CreateFirefoxDb(const std::string& path, int version, const std::vector<Row>& rows);
void InsertFirefoxRows(sqlite3* db, int version, const std::vector<Row>& rows);
// A profile folder with cookies.sqlite; returns the folder.
std::string MakeFirefoxProfile(const std::string& dir, int version, const std::vector<Row>& rows);

// Chromium: values encrypted as Chromium does for `prefix` ("v10", "v11")
// with `password`; from `version` 24 on behind the SHA-256 of the host.
struct ChromiumOptions {
  int version = 24;
  std::string prefix = "v10";
  std::string password = "peanuts";
  bool plainValue = false;  // an old row with the value unencrypted
  bool badHash = false;     // a prefix that is not the host's hash
};
std::string ChromiumEncrypt(const std::string& value, const std::string& host, const ChromiumOptions& o);
void CreateChromiumDb(const std::string& path, const std::vector<Row>& rows, const ChromiumOptions& o = {});
std::int64_t ToChromeTime(std::int64_t unixSeconds);

std::string CookiesTxtLine(const Row& r);

// Holds a lock on a database from another process until destroyed: the
// child runs `setup` on its own connection, reports, and waits.
class LockingProcess {
 public:
  LockingProcess(const std::string& database, const std::function<bool(sqlite3*)>& setup);
  ~LockingProcess();
  bool ready() const { return ready_; }

 private:
  pid_t pid_ = -1;
  int toChild_ = -1;
  bool ready_ = false;
};

// Comparisons that never print a cookie's value.
const platform::http::Cookie* Find(const platform::cookies::LoadResult& r, const std::string& name);
bool HasValue(const platform::cookies::LoadResult& r, const std::string& name, const std::string& value);
std::vector<std::string> Names(const platform::cookies::LoadResult& r);  // sorted

}  // namespace cookietest
