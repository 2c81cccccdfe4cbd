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
  platform::http::Response r = transport.Get(url);
  if (!r.ok) return {};
  return LinesToText(r.body);
}

platform::http::Options HistoryHttpOptions() {
  platform::http::Options o;
  o.userAgent = "tallyglass";
  return o;
}

}  // namespace tallyglass::crawl
