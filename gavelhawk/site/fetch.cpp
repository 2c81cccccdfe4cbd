#include "gavelhawk/site/fetch.h"

#include <atomic>

#include "platform/text/gbk.h"

namespace gavelhawk::site {

const char kAgentName[] = "\xBE\xA9\xB6\xAB";

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

std::string FetchPage(platform::http::Transport& transport, const std::string& url) {
  platform::http::Response r = transport.Get(url);
  // A capped answer is still an answer: its first part is read as usual.
  if (!r.ok && !r.truncated) return {};
  return ToPageText(r.body);
}

std::string FetchPage(platform::http::Transport& transport, const std::string& url,
                      std::chrono::milliseconds deadline) {
  platform::http::Response r = transport.GetWithin(url, deadline);
  if (!r.ok && !r.truncated) return {};
  return ToPageText(r.body);
}

PageResult FetchPageChecked(platform::http::Transport& transport, const std::string& url,
                            std::chrono::milliseconds deadline) {
  platform::http::Response r = transport.GetWithin(url, deadline);
  PageResult out;
  out.status = r.status;
  if (!r.ok && !r.truncated) {
    out.failed = true;
    out.error = r.timedOut ? "time-out: " + r.error : r.error;
    if (out.error.empty()) out.error = "no answer";
    return out;
  }
  if (r.status >= 400) {
    out.failed = true;
    out.error = "HTTP " + std::to_string(r.status);
  }
  out.text = ToPageText(r.body);
  return out;
}

namespace {
std::atomic<std::int64_t> givenRequestMs{0};
std::atomic<std::int64_t> givenPageMs{0};
}  // namespace

std::chrono::milliseconds RequestDeadline() {
  static const std::chrono::milliseconds d =
      platform::http::DeadlineFromEnvironment("AUCTION_REQUEST_DEADLINE_MS", std::chrono::milliseconds(3000));
  const std::int64_t given = givenRequestMs;
  return given > 0 ? std::chrono::milliseconds(given) : d;
}

std::chrono::milliseconds PageDeadline() {
  static const std::chrono::milliseconds d =
      platform::http::DeadlineFromEnvironment("AUCTION_PAGE_DEADLINE_MS", std::chrono::milliseconds(15000));
  const std::int64_t given = givenPageMs;
  return given > 0 ? std::chrono::milliseconds(given) : d;
}

void SetDeadlines(std::chrono::milliseconds request, std::chrono::milliseconds page) {
  if (request.count() > 0) givenRequestMs = request.count();
  if (page.count() > 0) givenPageMs = page.count();
}

platform::http::Options SiteHttpOptions() {
  platform::http::Options o;
  o.userAgent = kAgentName;
  o.connectTimeout = std::chrono::milliseconds(5000);
  o.stallTimeout = std::chrono::milliseconds(10000);
  o.maxBytes = 32u << 20;
  o.deadline = PageDeadline();
  return o;
}

}  // namespace gavelhawk::site
