#include "platform/cookies/cookies.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <unordered_map>

#include "platform/cookies/cookies_internal.h"

namespace platform::cookies {
namespace detail {

namespace {

bool Unsafe(const std::string& s, bool forbidSemicolon) {
  for (unsigned char ch : s) {
    if (ch < 0x20 || ch == 0x7f) return true;
    if (forbidSemicolon && ch == ';') return true;
  }
  return false;
}

std::string ExpandHome(const std::string& path) {
  if (path == "~") return HomeDir();
  if (path.rfind("~/", 0) == 0) return HomeDir() + path.substr(1);
  return path;
}

std::string Stamp(const std::vector<std::string>& files) {
  std::string s;
  for (const std::string& f : files) {
    struct stat st {};
    s += f;
    if (::stat(f.c_str(), &st) == 0) {
      s += ':' + std::to_string(st.st_ino) + '/' + std::to_string(st.st_size) + '/' +
           std::to_string(st.st_mtim.tv_sec) + '.' + std::to_string(st.st_mtim.tv_nsec);
    } else {
      s += ":-";
    }
    s += '\n';
  }
  return s;
}

bool OnPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  if (!path) return false;
  std::string all = path;
  std::size_t start = 0;
  while (start <= all.size()) {
    std::size_t end = all.find(':', start);
    if (end == std::string::npos) end = all.size();
    std::string dir = all.substr(start, end - start);
    if (!dir.empty() && ::access((dir + "/" + program).c_str(), X_OK) == 0) return true;
    start = end + 1;
  }
  return false;
}

}  // namespace

bool Keep(const Cookie& c, const std::string& host, std::int64_t now) {
  if (c.name.empty() || c.name.find('=') != std::string::npos) return false;
  if (Unsafe(c.name, true) || Unsafe(c.value, true) || Unsafe(c.path, true) || Unsafe(c.domain, true))
    return false;
  if (c.expires != 0 && c.expires <= now) return false;
  return http::DomainMatches(c.domain, c.includeSubdomains, host);
}

std::string HomeDir() {
  const char* h = std::getenv("HOME");
  if (h && *h) return h;
  struct passwd pw {};
  struct passwd* found = nullptr;
  char buf[4096];
  if (::getpwuid_r(::getuid(), &pw, buf, sizeof buf, &found) == 0 && found && found->pw_dir)
    return found->pw_dir;
  return "/";
}

std::string ConfigHome() {
  const char* x = std::getenv("XDG_CONFIG_HOME");
  if (x && *x == '/') return x;
  return HomeDir() + "/.config";
}

bool IsFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool IsDir(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void RemoveStaleCopies() {
  // Earlier versions copied the stores into folders of this name; a run
  // killed while reading left its copy, with every site's cookies, behind.
  // Where they went: the runtime folder, else the temporary one.
  std::vector<std::string> bases;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && *runtime == '/') bases.emplace_back(runtime);
  const char* tmp = std::getenv("TMPDIR");
  bases.emplace_back(tmp && *tmp == '/' ? tmp : "/tmp");
  for (const std::string& base : bases) {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(base, ec)) {
      const std::string name = entry.path().filename().string();
      if (name.rfind("gavelhawk-cookies-", 0) != 0) continue;
      struct stat st {};
      // Only our own real folders; a link is never followed.
      if (::lstat(entry.path().c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid())
        continue;
      std::error_code ignored;
      std::filesystem::remove_all(entry.path(), ignored);
    }
  }
}

}  // namespace detail

namespace {

using detail::StoreRead;

std::string Trim(const std::string& s) {
  std::size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return {};
  std::size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

std::string Lower(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

std::string Command(const std::string& browser, bool flatpak) {
  if (browser == "firefox") return flatpak ? "flatpak run org.mozilla.firefox" : "firefox";
  if (browser == "chrome") return flatpak ? "flatpak run com.google.Chrome" : "google-chrome";
  if (browser == "chromium") {
    if (flatpak) return "flatpak run org.chromium.Chromium";
    return detail::OnPath("chromium") || !detail::OnPath("chromium-browser") ? "chromium"
                                                                             : "chromium-browser";
  }
  return {};
}

bool FlatpakPath(const std::string& path) { return path.find("/.var/app/") != std::string::npos; }

// More cookies of one site than any browser keeps (about 180 a domain) and
// than a request carries (curl sends at most 150): the rest could never
// reach the site, and handing each to the transport costs time that grows
// with the square of their number.
constexpr std::size_t kMaxSiteCookies = 300;

// One cookie per domain, path and name, the later one winning as in the
// browser, in the order first seen; at most kMaxSiteCookies. Linear.
std::vector<http::Cookie> Distinct(std::vector<http::Cookie> all) {
  std::unordered_map<std::string, std::size_t> at;
  at.reserve(all.size());
  std::vector<http::Cookie> out;
  for (http::Cookie& c : all) {
    std::string key = c.domain + '\t' + c.path + '\t' + c.name;
    const auto [it, fresh] = at.try_emplace(std::move(key), out.size());
    if (!fresh) {
      out[it->second] = std::move(c);
    } else if (out.size() < kMaxSiteCookies) {
      out.push_back(std::move(c));
    } else {
      at.erase(it);
    }
  }
  return out;
}

// One store read into a result; the source names it so the user can put the
// same text into AUCTION_COOKIES.
LoadResult FromStore(StoreRead read, std::string source, const std::string& browser, bool flatpak) {
  LoadResult r;
  r.cookies = Distinct(std::move(read.cookies));
  r.source = std::move(source);
  r.browser = browser;
  r.browserCommand = Command(browser, flatpak);
  r.error = std::move(read.error);
  r.busy = read.busy;
  r.damaged = read.damaged;
  return r;
}

std::string NoCookieError(const std::string& host) { return "其中没有 " + host + " 的 cookie"; }

LoadResult LoadFirefoxProfile(const std::string& where, const std::string& host, std::int64_t now) {
  std::string db = detail::FirefoxDatabase(where);
  StoreRead read;
  if (db.empty()) {
    read.error = "没有 cookies.sqlite";
  } else {
    read = detail::ReadFirefoxDatabase(db, host, now);
    if (read.opened && read.cookies.empty()) read.error = NoCookieError(host);
  }
  return FromStore(std::move(read), "firefox:" + where, "firefox", FlatpakPath(where));
}

LoadResult LoadChromiumProfile(const std::string& browser, const std::string& where, const std::string& host,
                               std::int64_t now) {
  std::string db = detail::ChromiumDatabase(where);
  StoreRead read;
  if (db.empty()) {
    read.error = "没有 Cookies 数据库";
  } else {
    read = detail::ReadChromiumDatabase(db, browser, host, now);
    if (read.opened && read.cookies.empty()) read.error = NoCookieError(host);
  }
  return FromStore(std::move(read), browser + ":" + where, browser, FlatpakPath(where));
}

// The first profile of the browser that holds a cookie of the host; else
// what the first (the default) profile said.
LoadResult LoadBrowser(const std::string& browser, const std::string& host, std::int64_t now) {
  std::optional<LoadResult> first;
  bool busy = false;
  auto consider = [&](LoadResult r) -> bool {
    busy = busy || r.busy;
    if (!r.cookies.empty()) {
      first = std::move(r);
      return true;
    }
    if (!first) first = std::move(r);
    return false;
  };
  if (browser == "firefox") {
    for (const detail::FirefoxProfile& p : detail::FirefoxProfiles()) {
      if (consider(LoadFirefoxProfile(p.dir, host, now))) break;
    }
  } else {
    for (const detail::ChromiumProfile& p : detail::ChromiumProfiles(browser)) {
      if (consider(LoadChromiumProfile(browser, p.dir, host, now))) break;
    }
  }
  if (first) {
    if (first->cookies.empty()) first->busy = busy;
    return std::move(*first);
  }
  LoadResult r;
  r.source = browser;
  r.browser = browser;
  r.browserCommand = Command(browser, false);
  r.error = "未找到 " + browser + " 的配置文件";
  return r;
}

LoadResult LoadCookiesTxt(const std::string& path, const std::string& host, std::int64_t now) {
  StoreRead read = detail::ReadNetscapeFile(path, host, now);
  if (read.opened && read.cookies.empty()) read.error = NoCookieError(host);
  return FromStore(std::move(read), path, "", false);
}

}  // namespace

LoadResult LoadCookies(const std::string& rawSourceName, const std::string& rawHost, std::int64_t now) {
  detail::RemoveStaleCopies();
  std::string sourceName = Trim(rawSourceName);
  std::string host = Lower(Trim(rawHost));
  std::string key = Lower(sourceName);
  if (key.empty() || key == "auto") {
    const char* order[] = {"firefox", "chrome", "chromium"};
    std::vector<LoadResult> tried;
    for (const char* b : order) {
      LoadResult r = LoadBrowser(b, host, now);
      if (!r.cookies.empty()) return r;
      tried.push_back(std::move(r));
    }
    LoadResult none;
    none.source = "auto";
    std::string sep = ": ";
    for (const LoadResult& t : tried) {
      none.busy = none.busy || t.busy;
      none.damaged = none.damaged || t.damaged;
      // A browser without a profile is not worth naming.
      if (t.source == t.browser) continue;
      none.source += sep + t.source;
      none.error += (none.error.empty() ? "" : "; ") + t.source + ": " + t.error;
      sep = ", ";
      // The user logs in where the cookies will be looked for.
      if (none.browser.empty()) {
        none.browser = t.browser;
        none.browserCommand = t.browserCommand;
      }
    }
    if (none.error.empty()) none.error = "未找到 Firefox、Chrome 或 Chromium 的配置文件";
    return none;
  }
  if (key == "none") {
    LoadResult r;
    r.source = "none";
    r.error = "AUCTION_COOKIES=none";
    return r;
  }
  for (const std::string b : {"firefox", "chrome", "chromium"}) {
    if (key == b) return LoadBrowser(b, host, now);
    if (key.rfind(b + ":", 0) == 0) {
      std::string where = detail::ExpandHome(Trim(sourceName.substr(b.size() + 1)));
      return b == "firefox" ? LoadFirefoxProfile(where, host, now) : LoadChromiumProfile(b, where, host, now);
    }
  }
  return LoadCookiesTxt(detail::ExpandHome(sourceName), host, now);
}

std::string NoLoginNotice(const LoadResult& result) {
  if (!result.cookies.empty()) return {};
  if (result.damaged) return "未找到京东登录：浏览器的 cookie 存储已损坏 (" + result.error + ")";
  return "未找到京东登录 (来源: " + result.source + ")";
}

CookieSource::CookieSource(std::string sourceName, std::string host)
    : sourceName_(std::move(sourceName)), host_(std::move(host)) {}

const LoadResult& CookieSource::Current() { return Current(static_cast<std::int64_t>(std::time(nullptr))); }

std::vector<http::Cookie> CookieSource::Cookies() {
  const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
  std::lock_guard lk(mu_);
  return CurrentLocked(now).cookies;
}

const LoadResult& CookieSource::Current(std::int64_t now) {
  std::lock_guard lk(mu_);
  return CurrentLocked(now);
}

const LoadResult& CookieSource::CurrentLocked(std::int64_t now) {
  // Taken before the load, so that a change during the load is seen next time.
  std::string stamp = detail::Stamp(detail::WatchedFiles(sourceName_));
  if (!loaded_ || stamp != stamp_) {
    LoadResult fresh = LoadCookies(sourceName_, host_, now);
    // A store the browser is busy writing keeps the login read before it;
    // the stamp stays old, so the next request reads it again.
    if (fresh.busy && fresh.cookies.empty() && loaded_ && !last_.cookies.empty()) {
      // keep last_
    } else {
      last_ = std::move(fresh);
      stamp_ = std::move(stamp);
      loaded_ = true;
    }
  }
  auto gone = std::remove_if(last_.cookies.begin(), last_.cookies.end(),
                             [now](const http::Cookie& c) { return c.expires != 0 && c.expires <= now; });
  if (gone != last_.cookies.end()) {
    last_.cookies.erase(gone, last_.cookies.end());
    if (last_.cookies.empty()) last_.error = "登录已过期";
  }
  return last_;
}

void KeepLoginCurrent(CookieSource& source, http::CurlTransport& transport) {
  auto applied = std::make_shared<std::vector<http::Cookie>>(source.Cookies());
  transport.SetCookies(*applied);
  transport.SetBeforeRequest([&source, applied](http::CurlTransport& t) {
    std::vector<http::Cookie> now = source.Cookies();
    if (now == *applied) return;
    *applied = now;
    t.SetCookies(now);
  });
}

SharedLogin::SharedLogin(std::string sourceName, std::string host)
    : source_(std::move(sourceName), std::move(host)) {
  Refresh();
}

SharedLogin::~SharedLogin() {
  {
    std::lock_guard lk(mu_);
    stop_ = true;
  }
  cv_.notify_all();
  if (refresher_.joinable()) refresher_.join();
}

std::shared_ptr<const LoadResult> SharedLogin::Current() const {
  std::lock_guard lk(mu_);
  return current_;
}

void SharedLogin::Refresh() {
  std::lock_guard source(sourceMu_);
  const LoadResult& now = source_.Current();
  std::lock_guard lk(mu_);
  if (current_ && current_->cookies == now.cookies && current_->error == now.error) return;
  current_ = std::make_shared<const LoadResult>(now);
}

void SharedLogin::RefreshEvery(std::chrono::milliseconds every) {
  if (refresher_.joinable()) return;
  refresher_ = std::thread([this, every] {
    std::unique_lock lk(mu_);
    while (!cv_.wait_for(lk, every, [this] { return stop_; })) {
      lk.unlock();
      Refresh();
      lk.lock();
    }
  });
}

void KeepLoginCurrent(SharedLogin& login, http::CurlTransport& transport) {
  auto applied = std::make_shared<std::shared_ptr<const LoadResult>>(login.Current());
  if (*applied) transport.SetCookies((*applied)->cookies);
  transport.SetBeforeRequest([&login, applied](http::CurlTransport& t) {
    std::shared_ptr<const LoadResult> now = login.Current();
    if (now == *applied) return;
    // Only when the browser's cookies changed: cookies the site set during
    // the session survive otherwise.
    const bool changed = !*applied || !now || (*applied)->cookies != now->cookies;
    *applied = now;
    if (changed && now) t.SetCookies(now->cookies);
  });
}

namespace detail {

std::vector<std::string> WatchedFiles(const std::string& rawSourceName) {
  std::string sourceName = Trim(rawSourceName);
  std::string key = Lower(sourceName);
  std::vector<std::string> files;
  auto firefoxProfile = [&files](const std::string& where) {
    std::string db = FirefoxDatabase(where);
    if (db.empty()) db = where + "/cookies.sqlite";
    files.push_back(db);
    files.push_back(db + "-wal");
  };
  auto chromiumProfile = [&files](const std::string& where) {
    std::string db = ChromiumDatabase(where);
    if (db.empty()) {
      files.push_back(where + "/Network/Cookies");
      files.push_back(where + "/Cookies");
      return;
    }
    files.push_back(db);
    files.push_back(db + "-journal");
    files.push_back(db + "-wal");
  };
  auto firefox = [&]() {
    for (const std::string& base : FirefoxBases()) {
      files.push_back(base);  // a profile folder without profiles.ini
      files.push_back(base + "/profiles.ini");
    }
    for (const FirefoxProfile& p : FirefoxProfiles()) firefoxProfile(p.dir);
  };
  auto chromium = [&](const std::string& browser) {
    // A new profile folder changes its parent.
    for (const std::string& base : ChromiumBases(browser)) files.push_back(base);
    for (const ChromiumProfile& p : ChromiumProfiles(browser)) chromiumProfile(p.dir);
  };
  if (key.empty() || key == "auto") {
    firefox();
    chromium("chrome");
    chromium("chromium");
  } else if (key == "none") {
  } else if (key == "firefox") {
    firefox();
  } else if (key == "chrome" || key == "chromium") {
    chromium(key);
  } else if (key.rfind("firefox:", 0) == 0) {
    firefoxProfile(ExpandHome(Trim(sourceName.substr(8))));
  } else if (key.rfind("chrome:", 0) == 0) {
    chromiumProfile(ExpandHome(Trim(sourceName.substr(7))));
  } else if (key.rfind("chromium:", 0) == 0) {
    chromiumProfile(ExpandHome(Trim(sourceName.substr(9))));
  } else {
    files.push_back(ExpandHome(sourceName));
  }
  return files;
}

}  // namespace detail
}  // namespace platform::cookies
