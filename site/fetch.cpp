#include "site/fetch.h"

#include <atomic>
#include <cstdlib>

#include "platform/text/gbk.h"
#include "site/paths.h"
#include "site/settings.h"

namespace site {

const char kAgentName[] = "\xBE\xA9\xB6\xAB";
const char kHistoryAgentName[] = "tallyglass";

namespace {
constexpr std::size_t kPiece = 2048;
}  // namespace

std::string ToPageText(std::string_view body) {
  platform::text::Utf8ToGbkStream stream;
  std::string gbk;
  gbk.reserve(body.size());
  for (std::size_t at = 0; at < body.size(); at += kPiece) stream.Feed(body.substr(at, kPiece), gbk);
  stream.Finish(gbk);
  // One left-to-right pass: "\r\r\n\n" keeps its outer CR and LF. A GBK trail
  // byte is never CR or LF, so removing bytes here cannot split a character.
  std::size_t kept = 0;
  for (std::size_t i = 0; i < gbk.size(); ++i) {
    if (gbk[i] == '\r' && i + 1 < gbk.size() && gbk[i + 1] == '\n') {
      ++i;
      continue;
    }
    gbk[kept++] = gbk[i];
  }
  gbk.resize(kept);
  return gbk;
}

std::string LinesToText(std::string_view body) {
  std::string joined;
  joined.reserve(body.size());
  platform::text::Utf8ToGbkStream stream;
  std::size_t pos = 0;
  while (pos < body.size()) {
    std::size_t eol = body.find('\n', pos);
    std::size_t end = eol == std::string_view::npos ? body.size() : eol;
    std::string_view line = body.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    stream.Feed(line, joined);
    pos = eol == std::string_view::npos ? body.size() : eol + 1;
  }
  stream.Finish(joined);
  return joined;
}

PageResult Judge(const platform::http::Response& answer, std::string_view url, Reading reading) {
  PageResult out;
  out.status = answer.status;
  // A transfer cut off at the cap is not ok either: half a page is no page.
  if (!answer.ok || answer.truncated) {
    out.failed = true;
    out.unreachable = answer.unreachable;
    out.cancelled = answer.cancelled;
    out.error = answer.timedOut ? "time-out: " + answer.error : answer.error;
    if (out.error.empty()) out.error = "no answer";
    return out;
  }
  if (answer.status == 404 && IsDetailUrl(url)) {
    out.missing = true;
    return out;
  }
  if (answer.status >= 400) {
    out.failed = true;
    out.error = "HTTP " + std::to_string(answer.status);
    return out;
  }
  out.text = reading == Reading::Pieces ? ToPageText(answer.body) : LinesToText(answer.body);
  return out;
}

PageResult FetchPageChecked(platform::http::Transport& transport, const std::string& url,
                            std::chrono::milliseconds deadline) {
  return Judge(transport.GetWithin(url, deadline), url, Reading::Pieces);
}

std::string FetchPage(platform::http::Transport& transport, const std::string& url) {
  return Judge(transport.Get(url), url, Reading::Pieces).text;
}

std::string FetchPage(platform::http::Transport& transport, const std::string& url,
                      std::chrono::milliseconds deadline) {
  return FetchPageChecked(transport, url, deadline).text;
}

PageResult FetchUrlTextChecked(platform::http::Transport& transport, const std::string& url,
                               std::chrono::milliseconds deadline) {
  return Judge(transport.GetWithin(url, deadline), url, Reading::Lines);
}

std::string FetchUrlText(platform::http::Transport& transport, const std::string& url) {
  return FetchUrlTextChecked(transport, url, PageDeadline()).text;
}

namespace {
std::atomic<std::int64_t> givenRequestMs{0};
std::atomic<std::int64_t> givenPageMs{0};

const SiteSettings& FromEnvironment() {
  static const SiteSettings s = [] {
    SiteSettings e;
    ReadSiteEnvironment(e, [](const char* name) { return std::getenv(name); });
    return e;
  }();
  return s;
}
}  // namespace

std::chrono::milliseconds RequestDeadline() {
  const std::int64_t given = givenRequestMs;
  return std::chrono::milliseconds(given > 0 ? given : FromEnvironment().requestDeadlineMs);
}

std::chrono::milliseconds PageDeadline() {
  const std::int64_t given = givenPageMs;
  return std::chrono::milliseconds(given > 0 ? given : FromEnvironment().pageDeadlineMs);
}

void SetDeadlines(std::chrono::milliseconds request, std::chrono::milliseconds page) {
  if (request.count() > 0) givenRequestMs = request.count();
  if (page.count() > 0) givenPageMs = page.count();
}

platform::http::Options SiteHttpOptions(const char* userAgent) {
  platform::http::Options o;
  o.userAgent = userAgent;
  o.connectTimeout = std::chrono::milliseconds(5000);
  o.stallTimeout = std::chrono::milliseconds(10000);
  o.maxBytes = 32u << 20;
  o.deadline = PageDeadline();
  return o;
}

}  // namespace site
