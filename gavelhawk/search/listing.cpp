#include "gavelhawk/search/listing.h"

#include <locale.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdio>

#include "platform/text/gbk.h"
#include "site/cut.h"

namespace gavelhawk::search {
namespace {

using ::site::CutAfter;
using ::site::ParseLong;
using ::site::ReadNumber;
using ::site::TextBefore;

// GBK keys and texts, converted once.
const std::string& ListPriceKey() {
  static const std::string s = platform::text::Utf8ToGbk("京东价");
  return s;
}
const std::string& ConditionKey() {
  static const std::string s = platform::text::Utf8ToGbk("使用状态");
  return s;
}
const std::string& Minutes() {
  static const std::string s = platform::text::Utf8ToGbk("分");
  return s;
}
const std::string& Seconds() {
  static const std::string s = platform::text::Utf8ToGbk("秒");
  return s;
}

// atol of the first `n` bytes (fewer when the text is shorter).
std::int32_t LeadingNumber(std::string_view w, std::size_t n) {
  return static_cast<std::int32_t>(ParseLong(w.substr(0, n)));
}

std::string Padded2(std::int64_t v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%2lld", static_cast<long long>(v));
  return buf;
}

constexpr std::array<int, kCategoryCount> kCategoryCodes = {0, 4000, 1000, 2000, 3000, 6000, 7000};

}  // namespace

int CategoryCode(int index) {
  if (index < 0 || index >= kCategoryCount) return 0;
  return kCategoryCodes[static_cast<std::size_t>(index)];
}

std::int64_t ListingPage::ReadClock() {
  CutAfter(w_, "nowMil", 12);
  std::string_view digits = TextBefore(w_, ";");
  // The millisecond digits go; what is left is seconds modulo 100000.
  digits = digits.size() > 3 ? digits.substr(0, digits.size() - 3) : std::string_view{};
  return ParseLong(digits);
}

bool ListingPage::NextDeal(std::int32_t& closing) {
  if (w_.find("resultDeals") == std::string_view::npos) return false;
  CutAfter(w_, "resultDeals", 33);
  closing = LeadingNumber(w_, 5);
  return true;
}

std::int32_t ListingPage::ReadDealId() {
  CutAfter(w_, "|", 1);
  return LeadingNumber(w_, 7);
}

std::string_view ListingPage::ReadTitle() {
  CutAfter(w_, "title=", 7);
  return TextBefore(w_, "\"");
}

std::int64_t RemainingSeconds(std::int32_t closing, std::int64_t clock, int correction) {
  return (static_cast<std::int64_t>(closing) - clock + 100000) % 100000 + correction;
}

std::string RemainText(std::int64_t remaining) {
  if (remaining >= 60) return Padded2(remaining / 60) + Minutes() + Padded2(remaining % 60) + Seconds();
  return Padded2(remaining) + Seconds();
}

std::optional<std::int64_t> ParseRemainText(std::string_view gbk) {
  std::string t;
  for (const char c : gbk)
    if (c != ' ') t += c;
  if (t.size() <= Seconds().size() || !t.ends_with(Seconds())) return std::nullopt;
  t.resize(t.size() - Seconds().size());
  const std::size_t m = t.find(Minutes());
  const std::string_view minutes =
      m == std::string::npos ? std::string_view{} : std::string_view(t).substr(0, m);
  const std::string_view seconds =
      m == std::string::npos ? std::string_view(t) : std::string_view(t).substr(m + Minutes().size());
  auto digits = [](std::string_view d) {
    return d.size() <= 9 && std::all_of(d.begin(), d.end(), [](char c) { return c >= '0' && c <= '9'; });
  };
  if (seconds.empty() || !digits(minutes) || !digits(seconds) || (m != std::string::npos && minutes.empty()))
    return std::nullopt;
  return ParseLong(minutes) * 60 + ParseLong(seconds);
}

bool ContainsGbk(std::string_view gbk, std::string_view needle) {
  if (needle.empty()) return true;
  const std::size_t n = gbk.size();
  for (std::size_t i = 0; i < n && n - i >= needle.size();) {
    if (gbk.compare(i, needle.size(), needle) == 0) return true;
    // A lead byte with a byte after it starts a two-byte character.
    const auto c = static_cast<unsigned char>(gbk[i]);
    i += (c >= 0x81 && c <= 0xFE && i + 1 < n) ? 2 : 1;
  }
  return false;
}

bool KeywordFilter::Passes(std::string_view upperTitle) const {
  for (const std::string& k : include_)
    if (!ContainsGbk(upperTitle, k)) return false;
  for (const std::string& k : exclude_)
    if (!k.empty() && ContainsGbk(upperTitle, k)) return false;
  return true;
}

SearchDetail ReadSearchDetail(std::string_view page) {
  SearchDetail d;
  std::string_view w = page;
  CutAfter(w, ListPriceKey(), 15);
  d.listPrice = ReadNumber(w, ".");
  CutAfter(w, ConditionKey(), 10);
  d.condition = TextBefore(w, "<");
  return d;
}

std::int32_t ReadCurrentPrice(std::string_view records) {
  std::string_view w = records;
  CutAfter(w, "price", 0);
  CutAfter(w, ":", 1);
  return ReadNumber(w, ".");
}

double ParseRatio(std::string_view text) {
  // atof, but in the "C" locale: Qt sets the user's locale at start, and a
  // decimal comma there would read "0.5" as 0.
  static const locale_t c = newlocale(LC_ALL_MASK, "C", locale_t{});
  const std::string z(text.substr(0, text.find('\0')));
  return strtod_l(z.c_str(), nullptr, c);
}

bool PassesDiscount(double maxRatio, std::int32_t currentPrice, std::int32_t listPrice) {
  if (listPrice == 0) return true;
  return maxRatio > static_cast<double>(currentPrice) / static_cast<double>(listPrice);
}

float DiscountOf(std::int32_t currentPrice, std::int32_t listPrice) {
  if (listPrice == 0) return -1.0f;
  return static_cast<float>(static_cast<double>(currentPrice) / static_cast<double>(listPrice));
}

}  // namespace gavelhawk::search
