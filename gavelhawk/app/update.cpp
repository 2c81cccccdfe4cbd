#include "gavelhawk/app/update.h"

#include <charconv>
#include <cmath>
#include <optional>

#include "platform/text/gbk.h"
#include "site/cut.h"

namespace gavelhawk::ui {

namespace {

using ::site::CutAfter;
using ::site::TextBefore;

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

namespace {

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (LowerAscii(text[i]) != prefix[i]) return false;
  }
  return true;
}

// Scheme, host and port of an address of the form http(s)://HOST[:PORT]/...
// with nothing but a host name or address in HOST.
struct WebOrigin {
  bool https = false;
  std::string host;  // lower case
  std::string port;  // the scheme's own when none is written
};

std::optional<WebOrigin> OriginOf(std::string_view url) {
  WebOrigin o;
  std::size_t hostStart = 0;
  if (StartsWithNoCase(url, "http://")) {
    hostStart = 7;
  } else if (StartsWithNoCase(url, "https://")) {
    hostStart = 8;
    o.https = true;
  } else {
    return std::nullopt;
  }
  // Blanks, control bytes, quotes and backslashes have no place in a web
  // address; a browser would mend them into something else.
  for (const char ch : url) {
    const auto c = static_cast<unsigned char>(ch);
    if (c <= 0x20 || c >= 0x7F || c == '"' || c == '\'' || c == '\\' || c == '<' || c == '>')
      return std::nullopt;
  }
  const std::string_view rest = url.substr(hostStart);
  const std::size_t slash = rest.find('/');
  if (slash == std::string_view::npos) return std::nullopt;
  // No user part, no query or fragment in place of the path.
  const std::string_view authority = rest.substr(0, slash);
  if (authority.find_first_of("@?#") != std::string_view::npos) return std::nullopt;
  std::string_view host = authority;
  std::string_view port;
  if (const std::size_t colon = authority.rfind(':');
      colon != std::string_view::npos && authority.front() != '[') {
    host = authority.substr(0, colon);
    port = authority.substr(colon + 1);
  } else if (authority.front() == '[') {
    const std::size_t close = authority.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    host = authority.substr(0, close + 1);
    if (close + 1 < authority.size()) {
      if (authority[close + 1] != ':') return std::nullopt;
      port = authority.substr(close + 2);
    }
  }
  if (host.empty() || host.front() == '.' || host.front() == '-') return std::nullopt;
  for (const char c : host) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                    c == '-' || c == '_' || c == '[' || c == ']' || c == ':';
    if (!ok) return std::nullopt;
  }
  for (const char c : port) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  for (const char c : host) o.host += LowerAscii(c);
  while (port.size() > 1 && port.front() == '0') port.remove_prefix(1);
  o.port = port.empty() ? (o.https ? "443" : "80") : std::string(port);
  return o;
}

}  // namespace

bool IsUpdateLink(std::string_view link, std::string_view updatePageUrl) {
  const auto page = OriginOf(updatePageUrl);
  const auto target = OriginOf(link);
  if (!page || !target) return false;
  // A page read over https never sends the user on over plain http.
  if (page->https && !target->https) return false;
  if (target->host != page->host) return false;
  // The same scheme on another port may be another program of that host;
  // http to https is the same site made safer.
  return target->https != page->https || target->port == page->port;
}

}  // namespace gavelhawk::ui
