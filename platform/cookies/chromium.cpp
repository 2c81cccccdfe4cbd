// Chromium and Chrome: the Cookies database with AES-encrypted values.
#include <dirent.h>
#include <openssl/evp.h>
#include <openssl/sha.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <map>
#include <mutex>
#include <optional>
#include <set>

#include "platform/cookies/cookies.h"
#include "platform/cookies/cookies_internal.h"
#include "platform/cookies/sqlite_util.h"

#ifdef HAVE_LIBSECRET
#include <libsecret/secret.h>
#endif

namespace platform::cookies {

namespace {

std::mutex g_keyringMutex;
KeyringLookup g_keyringLookup;
// Per application: the password found, or when the keyring last said no.
struct KeyringAnswer {
  std::optional<std::string> password;
  std::chrono::steady_clock::time_point at;
};
std::map<std::string, KeyringAnswer> g_keyringCache;

std::optional<std::string> SecretServiceLookup(const std::string& application) {
#ifdef HAVE_LIBSECRET
  for (const char* schemaName :
       {"chrome_libsecret_os_crypt_password_v2", "chrome_libsecret_os_crypt_password_v1"}) {
    SecretSchema schema{};
    schema.name = schemaName;
    schema.flags = SECRET_SCHEMA_DONT_MATCH_NAME;
    schema.attributes[0].name = "application";
    schema.attributes[0].type = SECRET_SCHEMA_ATTRIBUTE_STRING;
    GError* error = nullptr;
    gchar* pw =
        secret_password_lookup_sync(&schema, nullptr, &error, "application", application.c_str(), nullptr);
    if (error) g_error_free(error);
    if (pw) {
      std::string s = pw;
      secret_password_free(pw);
      return s;
    }
  }
#else
  (void)application;
#endif
  return std::nullopt;
}

}  // namespace

void SetKeyringLookup(KeyringLookup lookup) {
  std::lock_guard<std::mutex> lock(g_keyringMutex);
  g_keyringLookup = std::move(lookup);
  g_keyringCache.clear();
}

namespace detail {

namespace {

// Asked only when a v11 value of the site turns up. A password once found is
// kept; a refusal is believed for a minute, so that a locked keyring does not
// hold up every request while the browser keeps writing its cookies.
std::optional<std::string> KeyringPassword(const std::string& application) {
  std::lock_guard<std::mutex> lock(g_keyringMutex);
  auto now = std::chrono::steady_clock::now();
  auto it = g_keyringCache.find(application);
  if (it != g_keyringCache.end() && (it->second.password || now - it->second.at < std::chrono::minutes(1))) {
    return it->second.password;
  }
  std::optional<std::string> pw =
      g_keyringLookup ? g_keyringLookup(application) : SecretServiceLookup(application);
  g_keyringCache[application] = {pw, now};
  return pw;
}

using Key = std::array<unsigned char, 16>;

Key DeriveKey(const std::string& password) {
  Key key{};
  static const char kSalt[] = "saltysalt";
  PKCS5_PBKDF2_HMAC_SHA1(password.data(), static_cast<int>(password.size()),
                         reinterpret_cast<const unsigned char*>(kSalt), sizeof kSalt - 1, 1,
                         static_cast<int>(key.size()), key.data());
  return key;
}

std::optional<std::string> Decrypt(const Key& key, const std::string& data) {
  static const unsigned char kIv[16] = {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
                                        ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
  if (data.empty() || data.size() % 16 != 0) return std::nullopt;
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  if (!ctx) return std::nullopt;
  std::string out(data.size() + 16, '\0');
  int n1 = 0, n2 = 0;
  bool ok = EVP_DecryptInit_ex(ctx, EVP_aes_128_cbc(), nullptr, key.data(), kIv) == 1 &&
            EVP_DecryptUpdate(ctx, reinterpret_cast<unsigned char*>(out.data()), &n1,
                              reinterpret_cast<const unsigned char*>(data.data()),
                              static_cast<int>(data.size())) == 1 &&
            EVP_DecryptFinal_ex(ctx, reinterpret_cast<unsigned char*>(out.data()) + n1, &n2) == 1;
  EVP_CIPHER_CTX_free(ctx);
  if (!ok) return std::nullopt;
  out.resize(static_cast<std::size_t>(n1 + n2));
  return out;
}

// From database version 24 on, the plain text starts with the SHA-256 of
// the cookie's host; checking it also tells a wrong key from the right one.
std::optional<std::string> StripHash(std::string plain, const std::string& hostKey, bool hashed) {
  if (!hashed) return plain;
  unsigned char digest[SHA256_DIGEST_LENGTH];
  SHA256(reinterpret_cast<const unsigned char*>(hostKey.data()), hostKey.size(), digest);
  if (plain.size() < sizeof digest ||
      plain.compare(0, sizeof digest, reinterpret_cast<const char*>(digest), sizeof digest) != 0) {
    return std::nullopt;
  }
  return plain.substr(sizeof digest);
}

class Decrypter {
 public:
  explicit Decrypter(std::string application) : application_(std::move(application)) {}

  std::optional<std::string> Value(const std::string& encrypted, const std::string& hostKey, bool hashed) {
    std::string prefix = encrypted.substr(0, 3);
    std::string body = encrypted.size() > 3 ? encrypted.substr(3) : std::string();
    std::vector<const Key*> keys;
    if (prefix == "v11") {
      if (!asked_) {
        asked_ = true;
        if (std::optional<std::string> pw = KeyringPassword(application_)) keyring_ = DeriveKey(*pw);
      }
      if (keyring_) keys.push_back(&*keyring_);
    } else if (prefix != "v10") {
      return std::nullopt;
    }
    // Without a keyring Chromium falls back to the fixed password, and some
    // versions to an empty one.
    keys.push_back(&peanuts_);
    keys.push_back(&empty_);
    for (const Key* k : keys) {
      std::optional<std::string> plain = Decrypt(*k, body);
      if (!plain) continue;
      if (std::optional<std::string> v = StripHash(std::move(*plain), hostKey, hashed)) return v;
    }
    return std::nullopt;
  }

 private:
  std::string application_;
  bool asked_ = false;
  std::optional<Key> keyring_;
  Key peanuts_ = DeriveKey("peanuts");
  Key empty_ = DeriveKey("");
};

// Microseconds since 1601 -> seconds since 1970; 0 stays a session cookie.
std::int64_t FromChromeTime(std::int64_t us) {
  if (us <= 0) return 0;
  std::int64_t s = us / 1000000 - 11644473600LL;
  return s <= 0 ? 1 : s;
}

std::vector<std::string> NumberedProfiles(const std::string& base) {
  std::vector<std::pair<long, std::string>> found;
  DIR* d = ::opendir(base.c_str());
  if (!d) return {};
  while (dirent* e = ::readdir(d)) {
    std::string name = e->d_name;
    if (name.rfind("Profile ", 0) != 0) continue;
    char* end = nullptr;
    long n = std::strtol(name.c_str() + 8, &end, 10);
    if (end && *end == '\0') found.push_back({n, name});
  }
  ::closedir(d);
  std::sort(found.begin(), found.end());
  std::vector<std::string> out;
  for (auto& f : found) out.push_back(base + "/" + f.second);
  return out;
}

}  // namespace

std::vector<std::string> ChromiumBases(const std::string& browser) {
  std::string home = HomeDir();
  if (browser == "chrome") {
    return {ConfigHome() + "/google-chrome", home + "/.var/app/com.google.Chrome/config/google-chrome"};
  }
  return {ConfigHome() + "/chromium", home + "/snap/chromium/common/chromium",
          home + "/.var/app/org.chromium.Chromium/config/chromium"};
}

std::vector<ChromiumProfile> ChromiumProfiles(const std::string& browser) {
  std::vector<ChromiumProfile> out;
  for (const std::string& base : ChromiumBases(browser)) {
    if (!IsDir(base)) continue;
    bool flatpak = base.find("/.var/app/") != std::string::npos;
    std::vector<std::string> dirs{base + "/Default"};
    for (std::string& p : NumberedProfiles(base)) dirs.push_back(std::move(p));
    for (const std::string& dir : dirs) {
      if (IsDir(dir)) out.push_back({dir, ChromiumDatabase(dir), flatpak});
    }
  }
  return out;
}

std::string ChromiumDatabase(const std::string& where) {
  if (IsFile(where)) return where;
  for (const char* rel : {"/Network/Cookies", "/Cookies"}) {
    if (IsFile(where + rel)) return where + rel;
  }
  return {};
}

StoreRead ReadChromiumDatabase(const std::string& database, const std::string& browser,
                               const std::string& host, std::int64_t now) {
  StoreRead r;
  StoreSnapshot store;
  r.error = store.Open(database, "cookies", {"host_key", "name", "value", "path", "expires_utc"},
                       "Cookies 数据库", "不是 Chromium 的 Cookies 数据库");
  r.busy = store.busy;
  r.damaged = store.damaged;
  if (!r.error.empty()) return r;
  const Db& db = store.db;
  const std::set<std::string>& cols = store.cols;
  std::int64_t version = 0;
  if (!db.Columns("meta").empty()) {
    Stmt v(db.get(), "SELECT value FROM meta WHERE key = 'version'");
    if (v.ok() && sqlite3_step(v.get()) == SQLITE_ROW) version = std::atoll(v.Text(0).c_str());
  }
  auto pick = [&](const char* current, const char* old) {
    return cols.count(current) ? std::string(current) : cols.count(old) ? std::string(old) : std::string("0");
  };
  std::string sql = "SELECT host_key, name, value, " +
                    std::string(cols.count("encrypted_value") ? "encrypted_value" : "''") +
                    ", path, expires_utc, " + pick("is_secure", "secure") + ", " +
                    pick("is_httponly", "httponly") + " FROM cookies";
  Stmt st(db.get(), sql);
  if (!st.ok()) {
    r.error = db.Failure("Cookies 数据库", &r.damaged);
    return r;
  }
  Decrypter decrypter(browser);
  int undecryptable = 0;
  int rc;
  while ((rc = sqlite3_step(st.get())) == SQLITE_ROW) {
    Cookie c;
    c.domain = st.Text(0);
    c.includeSubdomains = !c.domain.empty() && c.domain[0] == '.';
    c.name = st.Text(1);
    c.path = st.Text(4);
    if (c.path.empty()) c.path = "/";
    c.expires = FromChromeTime(st.Int(5));
    c.secure = st.Int(6) != 0;
    c.httpOnly = st.Int(7) != 0;
    // Only the site's cookies are decrypted at all.
    if (!Keep(c, host, now)) continue;
    std::string encrypted = st.Text(3);
    if (encrypted.empty()) {
      c.value = st.Text(2);
    } else if (std::optional<std::string> v = decrypter.Value(encrypted, c.domain, version >= 24)) {
      c.value = std::move(*v);
    } else {
      ++undecryptable;
      continue;
    }
    if (Keep(c, host, now)) r.cookies.push_back(std::move(c));
  }
  if (rc != SQLITE_DONE) {
    r.cookies.clear();
    r.error = db.Failure("Cookies 数据库", &r.damaged);
    return r;
  }
  r.opened = true;
  if (r.cookies.empty() && undecryptable > 0) {
    r.opened = false;
    r.error = std::to_string(undecryptable) + " 个 cookie 无法解密 (密钥环不可用?)";
  }
  return r;
}

}  // namespace detail
}  // namespace platform::cookies
