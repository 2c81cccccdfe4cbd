#include "tallyglass/crawl/fetch.h"

#include "platform/text/gbk.h"

namespace tallyglass::crawl {

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

std::string FetchUrlText(platform::http::Transport& transport, const std::string& url) {
  FetchResult r = FetchUrlTextChecked(transport, url, PageDeadline());
  return r.failed ? std::string() : std::move(r.text);
}

FetchResult FetchUrlTextChecked(platform::http::Transport& transport, const std::string& url,
                                std::chrono::milliseconds deadline) {
  platform::http::Response r = transport.GetWithin(url, deadline);
  FetchResult out;
  if (!r.ok) {
    out.failed = true;
    out.unreachable = r.unreachable;
    out.cancelled = r.cancelled;
    out.error = r.timedOut ? "time-out: " + r.error : r.error;
    if (out.error.empty()) out.error = "no answer";
    return out;
  }
  if (r.status >= 500) {
    out.failed = true;
    out.error = "HTTP " + std::to_string(r.status);
    return out;
  }
  out.text = LinesToText(r.body);
  return out;
}

std::chrono::milliseconds PageDeadline() {
  static const std::chrono::milliseconds d =
      platform::http::DeadlineFromEnvironment("AUCTION_PAGE_DEADLINE_MS", std::chrono::milliseconds(15000));
  return d;
}

std::chrono::milliseconds RequestDeadline() {
  static const std::chrono::milliseconds d =
      platform::http::DeadlineFromEnvironment("AUCTION_REQUEST_DEADLINE_MS", std::chrono::milliseconds(3000));
  return d;
}

platform::http::Options HistoryHttpOptions() {
  platform::http::Options o;
  o.userAgent = "tallyglass";
  o.connectTimeout = std::chrono::milliseconds(5000);
  o.stallTimeout = std::chrono::milliseconds(10000);
  o.deadline = PageDeadline();
  return o;
}

}  // namespace tallyglass::crawl
