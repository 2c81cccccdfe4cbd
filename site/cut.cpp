#include "site/cut.h"

#include <limits>

namespace site {

void CutAfter(std::string_view& w, std::string_view key, std::ptrdiff_t skip) {
  size_t found = w.find(key);
  std::ptrdiff_t p = found == std::string_view::npos ? -1 : static_cast<std::ptrdiff_t>(found);
  std::ptrdiff_t size = static_cast<std::ptrdiff_t>(w.size());
  std::ptrdiff_t keep = size - p - skip;
  if (keep <= 0) {
    w = w.substr(w.size());
  } else if (keep < size) {
    w.remove_prefix(static_cast<size_t>(size - keep));
  }
}

std::string_view TextBefore(std::string_view w, std::string_view delimiter) {
  size_t q = w.find(delimiter);
  if (q == std::string_view::npos) return w.substr(0, 0);
  return w.substr(0, q);
}

std::int64_t ParseLong(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || (s[i] >= '\t' && s[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  std::int64_t v = 0;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
    int d = s[i] - '0';
    if (v > (kMax - d) / 10) {
      v = kMax;
      while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
      break;
    }
    v = v * 10 + d;
  }
  return negative ? -v : v;
}

std::int32_t ReadNumber(std::string_view w, std::string_view delimiter) {
  size_t q = w.find(delimiter);
  if (q == std::string_view::npos || q == 0) return 0;
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(ParseLong(w.substr(0, q))));
}

}  // namespace site
