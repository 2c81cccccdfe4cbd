#include "gavelhawk/ui/update.h"

#include <charconv>
#include <cmath>

#include "pages/cut.h"
#include "platform/text/gbk.h"

namespace gavelhawk::ui {

namespace {

using pages::CutAfter;
using pages::TextBefore;

const std::string& Gbk(const char* utf8, std::string& slot) {
  if (slot.empty()) slot = platform::text::Utf8ToGbk(utf8);
  return slot;
}

const std::string& ProEdition() {
  static std::string s;
  return Gbk("专业版", s);
}

const std::string& HistoryHeading() {
  static std::string s;
  return Gbk("更新历史", s);
}

}  // namespace

double ParseDecimal(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  // from_chars takes no sign of its own here and never looks at the locale.
  if (i >= text.size() || !((text[i] >= '0' && text[i] <= '9') || text[i] == '.')) return 0;
  double value = 0;
  const auto r =
      std::from_chars(text.data() + i, text.data() + text.size(), value, std::chars_format::general);
  if (r.ec == std::errc::result_out_of_range) return negative ? -HUGE_VAL : HUGE_VAL;
  if (r.ec != std::errc()) return 0;
  return negative ? -value : value;
}

UpdateOffer ReadUpdateOffer(std::string_view page) {
  UpdateOffer offer;
  CutAfter(page, ProEdition(), 4);  // keeps the marker's last character
  CutAfter(page, "v", 1);
  const std::string_view versionText = TextBefore(page, "<");
  const double parsed = ParseDecimal(versionText);
  const float version = static_cast<float>(parsed);
  // Not a finite number (1e99, a float overflow) is no version at all.
  if (!std::isfinite(version)) return offer;
  offer.version = version;
  if (!(static_cast<double>(version) > kNewerThan)) return offer;
  // Major version (the version truncated) above 3; compared as a float so
  // that no huge value is ever converted to an integer.
  offer.kind = version >= 4.0f ? UpdateOffer::Kind::Important : UpdateOffer::Kind::Ordinary;
  std::string_view from = page;
  CutAfter(from, "http", 0);
  offer.link = std::string(TextBefore(from, "<"));
  return offer;
}

std::string ReadUpdateHistory(std::string_view page) {
  CutAfter(page, ProEdition(), 0);
  CutAfter(page, HistoryHeading(), 0);
  const std::string_view section = TextBefore(page, "<br");
  std::string out;
  out.reserve(section.size());
  constexpr std::string_view kBreak = "</p><p>";
  std::size_t pos = 0;
  while (pos < section.size()) {
    const std::size_t hit = section.find(kBreak, pos);
    if (hit == std::string_view::npos) {
      out.append(section.substr(pos));
      break;
    }
    out.append(section.substr(pos, hit - pos));
    out.append("\r\n");
    pos = hit + kBreak.size();
  }
  return out;
}

bool IsWebLink(std::string_view link) {
  auto startsWithNoCase = [&](std::string_view prefix) {
    if (link.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
      char c = link[i];
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      if (c != prefix[i]) return false;
    }
    return true;
  };
  std::size_t hostStart = 0;
  if (startsWithNoCase("http://")) {
    hostStart = 7;
  } else if (startsWithNoCase("https://")) {
    hostStart = 8;
  } else {
    return false;
  }
  // Blanks, control bytes and quotes have no place in a web address.
  for (const char ch : link) {
    const auto c = static_cast<unsigned char>(ch);
    if (c <= 0x20 || c == 0x7F || c == '"' || c == '\'' || c == '\\') return false;
  }
  const std::string_view rest = link.substr(hostStart);
  const std::size_t hostEnd = rest.find_first_of("/?#");
  const std::string_view authority = rest.substr(0, hostEnd);
  const std::size_t at = authority.rfind('@');
  const std::string_view host = at == std::string_view::npos ? authority : authority.substr(at + 1);
  if (host.empty() || host.front() == ':' || host.front() == '.' || host.front() == '-') return false;
  for (const char ch : host) {
    const auto c = static_cast<unsigned char>(ch);
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                    c == '-' || c == ':' || c == '[' || c == ']' || c == '_';
    if (!ok) return false;
  }
  return true;
}

}  // namespace gavelhawk::ui
