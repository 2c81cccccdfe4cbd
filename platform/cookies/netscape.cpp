// cookies.txt in the Netscape format, as browser extensions and curl write it.
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string_view>

#include "platform/cookies/cookies_internal.h"

namespace platform::cookies::detail {

namespace {

std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> f;
  std::size_t start = 0;
  for (;;) {
    std::size_t tab = line.find('\t', start);
    if (tab == std::string::npos) {
      f.push_back(line.substr(start));
      return f;
    }
    f.push_back(line.substr(start, tab - start));
    start = tab + 1;
  }
}

bool IsTrue(const std::string& s) { return s == "TRUE" || s == "true" || s == "1"; }

// Some exporters write the expiry with a fraction; the whole seconds count.
bool ParseExpiry(const std::string& s, std::int64_t& out) {
  std::size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
  std::int64_t v = 0;
  std::size_t digits = 0;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i, ++digits) {
    if (v > (INT64_MAX - 9) / 10) return false;
    v = v * 10 + (s[i] - '0');
  }
  if (digits == 0) return false;
  if (i < s.size() && s[i] != '.') return false;
  // A negative expiry is already past; a session cookie is written as 0.
  out = negative ? (v == 0 ? 0 : 1) : v;
  return true;
}

}  // namespace

StoreRead ParseNetscapeText(std::string_view text, const std::string& host, std::int64_t now) {
  StoreRead r;
  r.opened = true;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t eol = text.find('\n', pos);
    if (eol == std::string_view::npos) eol = text.size();
    std::string line(text.substr(pos, eol - pos));
    pos = eol + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    bool httpOnly = false;
    static const std::string kHttpOnly = "#HttpOnly_";
    if (line.rfind(kHttpOnly, 0) == 0) {
      httpOnly = true;
      line.erase(0, kHttpOnly.size());
    } else if (line.empty() || line[0] == '#') {
      continue;
    }
    std::vector<std::string> f = SplitTabs(line);
    // A cookie with an empty value may lose its last tab.
    if (f.size() == 6) f.emplace_back();
    if (f.size() != 7) continue;
    Cookie c;
    c.domain = f[0];
    c.includeSubdomains = IsTrue(f[1]) || (!c.domain.empty() && c.domain[0] == '.');
    c.path = f[2].empty() ? "/" : f[2];
    c.secure = IsTrue(f[3]);
    c.httpOnly = httpOnly;
    if (!ParseExpiry(f[4], c.expires)) continue;
    c.name = f[5];
    c.value = f[6];
    if (Keep(c, host, now)) r.cookies.push_back(std::move(c));
  }
  return r;
}

StoreRead ReadNetscapeFile(const std::string& path, const std::string& host, std::int64_t now) {
  StoreRead r;
  if (!IsFile(path)) {
    r.error = "文件不存在";
    return r;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    r.error = "文件无法读取";
    return r;
  }
  std::ostringstream all;
  all << in.rdbuf();
  if (in.bad()) {
    r.error = "文件无法读取";
    return r;
  }
  return ParseNetscapeText(all.str(), host, now);
}

}  // namespace platform::cookies::detail
