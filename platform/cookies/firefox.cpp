// Firefox: profiles.ini names the profiles; cookies.sqlite holds moz_cookies.
#include <dirent.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string_view>
#include <tuple>

#include "platform/cookies/cookies_internal.h"
#include "platform/cookies/sqlite_util.h"

namespace platform::cookies::detail {

namespace {

struct IniSection {
  std::string name;
  std::map<std::string, std::string> values;
};

std::vector<IniSection> ParseIni(std::string_view text) {
  std::vector<IniSection> sections;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t eol = text.find('\n', pos);
    if (eol == std::string_view::npos) eol = text.size();
    std::string line(text.substr(pos, eol - pos));
    pos = eol + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line[0] == '[') {
      std::size_t end = line.find(']');
      sections.push_back({line.substr(1, end == std::string::npos ? std::string::npos : end - 1), {}});
      continue;
    }
    std::size_t eq = line.find('=');
    if (eq == std::string::npos || sections.empty()) continue;
    sections.back().values[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return sections;
}

std::string Get(const IniSection& s, const std::string& key) {
  auto it = s.values.find(key);
  return it == s.values.end() ? std::string() : it->second;
}

std::string Resolve(const std::string& base, const std::string& path, bool relative) {
  if (path.empty()) return {};
  if (path[0] == '/') return path;
  // An absolute entry that is not absolute names no folder; taken as it
  // stands it would be looked for wherever the program was started.
  if (!relative) return {};
  return base + "/" + path;
}

// Without profiles.ini: the folders that hold a cookies.sqlite, the usual
// default names first.
std::vector<std::string> ScanProfiles(const std::string& base) {
  std::vector<std::string> found;
  DIR* d = ::opendir(base.c_str());
  if (!d) return found;
  while (dirent* e = ::readdir(d)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    if (IsFile(base + "/" + name + "/cookies.sqlite")) found.push_back(name);
  }
  ::closedir(d);
  auto rank = [](const std::string& n) {
    if (n.size() >= 16 && n.compare(n.size() - 16, 16, ".default-release") == 0) return 0;
    if (n.size() >= 8 && n.compare(n.size() - 8, 8, ".default") == 0) return 1;
    return 2;
  };
  std::sort(found.begin(), found.end(), [&](const std::string& a, const std::string& b) {
    return std::make_tuple(rank(a), a) < std::make_tuple(rank(b), b);
  });
  for (std::string& n : found) n = base + "/" + n;
  return found;
}

}  // namespace

std::vector<std::string> FirefoxBases() {
  std::string home = HomeDir();
  return {
      home + "/.mozilla/firefox",
      ConfigHome() + "/mozilla/firefox",
      home + "/snap/firefox/common/.mozilla/firefox",
      home + "/.var/app/org.mozilla.firefox/.mozilla/firefox",
      home + "/.var/app/org.mozilla.firefox/config/mozilla/firefox",
  };
}

std::vector<std::string> ProfileOrder(const std::string& base, std::string_view iniText) {
  const std::vector<IniSection> ini = ParseIni(iniText);
  std::vector<std::string> ordered;
  // The profile an installation starts with is the one the user logs in with.
  for (const IniSection& s : ini) {
    if (s.name.rfind("Install", 0) == 0) ordered.push_back(Resolve(base, Get(s, "Default"), true));
  }
  for (int pass = 0; pass < 2; ++pass) {
    for (const IniSection& s : ini) {
      if (s.name.rfind("Profile", 0) != 0) continue;
      bool isDefault = Get(s, "Default") == "1";
      if ((pass == 0) != isDefault) continue;
      ordered.push_back(Resolve(base, Get(s, "Path"), Get(s, "IsRelative") != "0"));
    }
  }
  return ordered;
}

std::vector<FirefoxProfile> FirefoxProfiles() {
  std::vector<FirefoxProfile> out;
  std::set<std::string> seen;
  for (const std::string& base : FirefoxBases()) {
    if (!IsDir(base)) continue;
    bool flatpak = base.find("/.var/app/") != std::string::npos;
    std::ifstream in(base + "/profiles.ini", std::ios::binary);
    std::ostringstream ini;
    ini << in.rdbuf();
    const std::vector<std::string> ordered = ProfileOrder(base, ini.str());
    bool any = false;
    for (const std::string& dir : ordered) {
      if (dir.empty() || !IsDir(dir)) continue;
      any = true;
      if (seen.insert(dir).second) out.push_back({dir, flatpak});
    }
    if (!any) {
      for (const std::string& dir : ScanProfiles(base)) {
        if (seen.insert(dir).second) out.push_back({dir, flatpak});
      }
    }
  }
  return out;
}

std::string FirefoxDatabase(const std::string& where) {
  if (IsFile(where)) return where;
  if (IsFile(where + "/cookies.sqlite")) return where + "/cookies.sqlite";
  return {};
}

StoreRead ReadFirefoxDatabase(const std::string& database, const std::string& host, std::int64_t now) {
  StoreRead r;
  StoreSnapshot store;
  r.error = store.Open(database, "moz_cookies", {"host", "name", "value", "path", "expiry"}, "cookies.sqlite",
                       "不是 Firefox 的 cookies 数据库");
  r.busy = store.busy;
  r.damaged = store.damaged;
  if (!r.error.empty()) return r;
  const Db& db = store.db;
  const std::set<std::string>& cols = store.cols;
  std::int64_t version = 0;
  {
    Stmt v(db.get(), "PRAGMA user_version");
    if (v.ok() && sqlite3_step(v.get()) == SQLITE_ROW) version = v.Int(0);
  }
  auto col = [&](const char* name) { return cols.count(name) ? std::string(name) : std::string("0"); };
  std::string origin = cols.count("originAttributes") ? "originAttributes" : "''";
  // The default container first, so that its cookie wins over a container's.
  std::string sql = "SELECT host, name, value, path, expiry, " + col("isSecure") + ", " + col("isHttpOnly") +
                    " FROM moz_cookies ORDER BY (" + origin + " <> '')";
  Stmt st(db.get(), sql);
  if (!st.ok()) {
    r.error = db.Failure("cookies.sqlite", &r.damaged);
    return r;
  }
  std::set<std::tuple<std::string, std::string, std::string>> taken;
  int rc;
  while ((rc = sqlite3_step(st.get())) == SQLITE_ROW) {
    Cookie c;
    c.domain = st.Text(0);
    c.includeSubdomains = !c.domain.empty() && c.domain[0] == '.';
    c.name = st.Text(1);
    c.value = st.Text(2);
    c.path = st.Text(3);
    if (c.path.empty()) c.path = "/";
    std::int64_t expiry = st.Int(4);
    // From schema 16 on Firefox counts the expiry in milliseconds.
    if (version >= 16) expiry /= 1000;
    c.expires = expiry < 0 ? 1 : expiry;
    c.secure = st.Int(5) != 0;
    c.httpOnly = st.Int(6) != 0;
    if (!Keep(c, host, now)) continue;
    if (!taken.insert({c.domain, c.path, c.name}).second) continue;
    r.cookies.push_back(std::move(c));
  }
  if (rc != SQLITE_DONE) {
    r.cookies.clear();
    r.error = db.Failure("cookies.sqlite", &r.damaged);
    return r;
  }
  r.opened = true;
  return r;
}

}  // namespace platform::cookies::detail
