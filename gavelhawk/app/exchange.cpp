#include "gavelhawk/app/exchange.h"

#include <cstdio>
#include <limits>

namespace gavelhawk::ui {

std::optional<std::int32_t> ParseWholeNumber(std::string_view text) {
  std::size_t i = 0;
  auto blank = [&](std::size_t k) { return k < text.size() && (text[k] == ' ' || text[k] == '\t'); };
  while (blank(i)) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  const std::size_t digitsStart = i;
  std::int64_t value = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    value = value * 10 + (text[i] - '0');
    if (value > std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1) return std::nullopt;
    ++i;
  }
  if (i == digitsStart) return std::nullopt;
  while (blank(i)) ++i;
  if (i != text.size()) return std::nullopt;
  if (negative) value = -value;
  if (value < std::numeric_limits<std::int32_t>::min() || value > std::numeric_limits<std::int32_t>::max()) {
    return std::nullopt;
  }
  return static_cast<std::int32_t>(value);
}

std::string FormatRemain(std::int64_t remainMs) {
  const std::int64_t s = remainMs / 1000;  // truncated toward zero
  if (s <= 0) return "已结束";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%lld分%lld秒", static_cast<long long>(s / 60),
                static_cast<long long>(s % 60));
  return buf;
}

}  // namespace gavelhawk::ui
