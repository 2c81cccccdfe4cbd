#include "fixtures.h"

#include <dirent.h>
#include <openssl/evp.h>
#include <openssl/sha.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace cookietest {

namespace {

void Exec(sqlite3* db, const std::string& sql) {
  char* err = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
    std::string msg = err ? err : "?";
    sqlite3_free(err);
    throw std::runtime_error("fixture SQL failed: " + msg);
  }
}

sqlite3* OpenDb(const std::string& path) {
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) throw std::runtime_error("cannot create " + path);
  return db;
}

void BindText(sqlite3_stmt* st, int i, const std::string& s) {
  sqlite3_bind_text(st, i, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
}

void BindBlob(sqlite3_stmt* st, int i, const std::string& s) {
  sqlite3_bind_blob(st, i, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
}

const char* kEnv[] = {"HOME", "TMPDIR", "XDG_CONFIG_HOME", "XDG_RUNTIME_DIR"};

}  // namespace

TempHome::TempHome() {
  char tmpl[] = "/tmp/cookietest-XXXXXX";
  if (!::mkdtemp(tmpl)) throw std::runtime_error("mkdtemp failed");
  root_ = tmpl;
  home_ = root_ + "/home";
  tmp_ = root_ + "/tmp";
  MakeDirs(home_);
  MakeDirs(tmp_);
  for (const char* var : kEnv) {
    const char* v = std::getenv(var);
    saved_.emplace_back(var, v ? std::optional<std::string>(v) : std::nullopt);
  }
  ::setenv("HOME", home_.c_str(), 1);
  ::setenv("TMPDIR", tmp_.c_str(), 1);
  ::unsetenv("XDG_CONFIG_HOME");
  ::unsetenv("XDG_RUNTIME_DIR");
  // The tests never reach the user's real keyring.
  platform::cookies::SetKeyringLookup([](const std::string&) { return std::nullopt; });
}

TempHome::~TempHome() {
  platform::cookies::SetKeyringLookup([](const std::string&) { return std::nullopt; });
  for (const auto& [var, value] : saved_) {
    if (value) {
      ::setenv(var.c_str(), value->c_str(), 1);
    } else {
      ::unsetenv(var.c_str());
    }
  }
  std::error_code ec;
  std::filesystem::remove_all(root_, ec);
}

std::vector<std::string> TempHome::LeftoverCopies() const {
  std::vector<std::string> out;
  for (const auto& e : std::filesystem::directory_iterator(tmp_)) {
    std::string name = e.path().filename().string();
    if (name.rfind("gavelhawk-cookies-", 0) == 0) out.push_back(name);
  }
  return out;
}

void MakeDirs(const std::string& dir) { std::filesystem::create_directories(dir); }

void WriteFile(const std::string& path, const std::string& content) {
  MakeDirs(std::filesystem::path(path).parent_path().string());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void InsertFirefoxRows(sqlite3* db, int version, const std::vector<Row>& rows) {
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(
      db,
      "INSERT INTO moz_cookies (originAttributes, name, value, host, path, expiry, lastAccessed, "
      "creationTime, isSecure, isHttpOnly) VALUES (?, ?, ?, ?, ?, ?, 0, 0, ?, ?)",
      -1, &st, nullptr);
  for (const Row& r : rows) {
    BindText(st, 1, r.originAttributes);
    BindText(st, 2, r.name);
    BindText(st, 3, r.value);
    BindText(st, 4, r.host);
    BindText(st, 5, r.path);
    sqlite3_bind_int64(st, 6, version >= 16 ? r.expires * 1000 : r.expires);
    sqlite3_bind_int(st, 7, r.secure);
    sqlite3_bind_int(st, 8, r.httpOnly);
    if (sqlite3_step(st) != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db));
    sqlite3_reset(st);
  }
  sqlite3_finalize(st);
}

void CreateFirefoxDb(const std::string& path, int version, const std::vector<Row>& rows) {
  MakeDirs(std::filesystem::path(path).parent_path().string());
  sqlite3* db = OpenDb(path);
  Exec(db,
       "CREATE TABLE moz_cookies (id INTEGER PRIMARY KEY, originAttributes TEXT NOT NULL DEFAULT '', name "
       "TEXT, "
       "value TEXT, host TEXT, path TEXT, expiry INTEGER, lastAccessed INTEGER, creationTime INTEGER, "
       "isSecure "
       "INTEGER, isHttpOnly INTEGER, inBrowserElement INTEGER DEFAULT 0, sameSite INTEGER DEFAULT 0, "
       "rawSameSite "
       "INTEGER DEFAULT 0, schemeMap INTEGER DEFAULT 0, CONSTRAINT moz_uniqueid UNIQUE (name, host, path, "
       "originAttributes))");
  Exec(db, "PRAGMA user_version = " + std::to_string(version));
  Exec(db, "BEGIN");
  InsertFirefoxRows(db, version, rows);
  Exec(db, "COMMIT");
  sqlite3_close(db);
}

std::string MakeFirefoxProfile(const std::string& dir, int version, const std::vector<Row>& rows) {
  CreateFirefoxDb(dir + "/cookies.sqlite", version, rows);
  return dir;
}

std::string ChromiumEncrypt(const std::string& value, const std::string& host, const ChromiumOptions& o) {
  unsigned char key[16];
  static const char kSalt[] = "saltysalt";
  PKCS5_PBKDF2_HMAC_SHA1(o.password.data(), static_cast<int>(o.password.size()),
                         reinterpret_cast<const unsigned char*>(kSalt), 9, 1, 16, key);
  unsigned char iv[16];
  std::fill(std::begin(iv), std::end(iv), ' ');
  std::string plain;
  if (o.version >= 24) {
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(host.data()), host.size(), digest);
    if (o.badHash) digest[0] ^= 0x55;
    plain.assign(reinterpret_cast<const char*>(digest), sizeof digest);
  }
  plain += value;
  std::string out(plain.size() + 32, '\0');
  int n1 = 0, n2 = 0;
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  EVP_EncryptInit_ex(ctx, EVP_aes_128_cbc(), nullptr, key, iv);
  EVP_EncryptUpdate(ctx, reinterpret_cast<unsigned char*>(out.data()), &n1,
                    reinterpret_cast<const unsigned char*>(plain.data()), static_cast<int>(plain.size()));
  EVP_EncryptFinal_ex(ctx, reinterpret_cast<unsigned char*>(out.data()) + n1, &n2);
  EVP_CIPHER_CTX_free(ctx);
  out.resize(static_cast<std::size_t>(n1 + n2));
  return o.prefix + out;
}

std::int64_t ToChromeTime(std::int64_t unixSeconds) {
  return unixSeconds == 0 ? 0 : (unixSeconds + 11644473600LL) * 1000000;
}

void CreateChromiumDb(const std::string& path, const std::vector<Row>& rows, const ChromiumOptions& o) {
  MakeDirs(std::filesystem::path(path).parent_path().string());
  sqlite3* db = OpenDb(path);
  Exec(db, "CREATE TABLE meta(key LONGVARCHAR NOT NULL UNIQUE PRIMARY KEY, value LONGVARCHAR)");
  Exec(db, "INSERT INTO meta VALUES ('version', '" + std::to_string(o.version) +
               "'), ('last_compatible_version', '16')");
  Exec(db,
       "CREATE TABLE cookies(creation_utc INTEGER NOT NULL, host_key TEXT NOT NULL, top_frame_site_key TEXT "
       "NOT "
       "NULL, name TEXT NOT NULL, value TEXT NOT NULL, encrypted_value BLOB NOT NULL, path TEXT NOT NULL, "
       "expires_utc INTEGER NOT NULL, is_secure INTEGER NOT NULL, is_httponly INTEGER NOT NULL, "
       "last_access_utc "
       "INTEGER NOT NULL, has_expires INTEGER NOT NULL, is_persistent INTEGER NOT NULL, priority INTEGER NOT "
       "NULL, "
       "samesite INTEGER NOT NULL, source_scheme INTEGER NOT NULL, source_port INTEGER NOT NULL, "
       "last_update_utc INTEGER NOT NULL)");
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db,
                     "INSERT INTO cookies VALUES (0, ?, '', ?, ?, ?, ?, ?, ?, ?, 0, ?, ?, 1, 0, 1, 80, 0)",
                     -1, &st, nullptr);
  for (const Row& r : rows) {
    BindText(st, 1, r.host);
    BindText(st, 2, r.name);
    BindText(st, 3, o.plainValue ? r.value : std::string());
    BindBlob(st, 4, o.plainValue ? std::string() : ChromiumEncrypt(r.value, r.host, o));
    BindText(st, 5, r.path);
    sqlite3_bind_int64(st, 6, ToChromeTime(r.expires));
    sqlite3_bind_int(st, 7, r.secure);
    sqlite3_bind_int(st, 8, r.httpOnly);
    sqlite3_bind_int(st, 9, r.expires != 0);
    sqlite3_bind_int(st, 10, r.expires != 0);
    if (sqlite3_step(st) != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db));
    sqlite3_reset(st);
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
}

std::string CookiesTxtLine(const Row& r) {
  bool sub = !r.host.empty() && r.host[0] == '.';
  return (r.httpOnly ? "#HttpOnly_" : "") + r.host + "\t" + (sub ? "TRUE" : "FALSE") + "\t" + r.path + "\t" +
         (r.secure ? "TRUE" : "FALSE") + "\t" + std::to_string(r.expires) + "\t" + r.name + "\t" + r.value +
         "\n";
}

LockingProcess::LockingProcess(const std::string& database, const std::function<bool(sqlite3*)>& setup) {
  int up[2], down[2];
  if (::pipe(up) != 0 || ::pipe(down) != 0) throw std::runtime_error("pipe failed");
  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    ::close(up[0]);
    ::close(down[1]);
    sqlite3* db = nullptr;
    char ok = sqlite3_open(database.c_str(), &db) == SQLITE_OK && setup(db) ? '1' : '0';
    if (::write(up[1], &ok, 1) != 1) ::_exit(1);
    char c;
    // Holds the lock, as a running browser does, until the test is done.
    while (::read(down[0], &c, 1) > 0) {
    }
    ::_exit(0);
  }
  ::close(up[1]);
  ::close(down[0]);
  toChild_ = down[1];
  char c = '0';
  ready_ = ::read(up[0], &c, 1) == 1 && c == '1';
  ::close(up[0]);
}

LockingProcess::~LockingProcess() {
  if (toChild_ >= 0) ::close(toChild_);
  if (pid_ > 0) {
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
}

const platform::http::Cookie* Find(const platform::cookies::LoadResult& r, const std::string& name) {
  for (const auto& c : r.cookies) {
    if (c.name == name) return &c;
  }
  return nullptr;
}

bool HasValue(const platform::cookies::LoadResult& r, const std::string& name, const std::string& value) {
  const platform::http::Cookie* c = Find(r, name);
  return c && c->value == value;
}

std::vector<std::string> Names(const platform::cookies::LoadResult& r) {
  std::vector<std::string> names;
  for (const auto& c : r.cookies) names.push_back(c.name);
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace cookietest
