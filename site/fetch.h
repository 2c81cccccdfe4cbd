#pragma once
// The one way both programs read the site: a GET, judged by one rule, whose
// answer becomes GBK page text.
//
// The rule: a request failed when the transfer did not complete (refused,
// timed out, cancelled, cut off at the size cap or ended early) or the site
// answered with an HTTP status of 400 or more. A failure carries its reason
// and no page text, so nothing the site did not say is read as a page. The
// one exception: a detail page the site answers with 404 is the site's "no
// such auction", an empty page and no failure.
#include <chrono>
#include <string>
#include <string_view>

#include "platform/http/http.h"

namespace site {

// The User-Agent of gavelhawk's requests: "京东" as its 4 GBK bytes.
extern const char kAgentName[];
// The history tool sends its own name.
extern const char kHistoryAgentName[];

// How an answer's bytes become page text. Both convert UTF-8 to GBK (a
// character GBK lacks becomes '?', one split between two pieces is joined).
enum class Reading {
  // FetchPage's: pieces of up to 2048 bytes, then every CR LF pair removed;
  // a lone CR or LF stays.
  Pieces,
  // FetchUrlText's line reader: lines (ended by LF or CR LF) joined without
  // their line ends; a lone CR inside a line stays.
  Lines,
};
std::string ToPageText(std::string_view body);   // Reading::Pieces
std::string LinesToText(std::string_view body);  // Reading::Lines

struct PageResult {
  std::string text;  // page text; empty when failed or missing
  bool failed = false;
  std::string error;         // why it failed, for the user ("HTTP 503", "time-out: ...")
  bool missing = false;      // a detail page answered 404: no such auction
  bool unreachable = false;  // no connection could be made at all
  bool cancelled = false;
  long status = 0;  // HTTP status, 0 when none arrived
};

// The rule above applied to the answer to `url`.
PageResult Judge(const platform::http::Response& answer, std::string_view url, Reading reading);

// GET within `deadline`, judged; page text as FetchPage gives it.
PageResult FetchPageChecked(platform::http::Transport& transport, const std::string& url,
                            std::chrono::milliseconds deadline);
// The page text alone: empty on failure or for a missing auction.
std::string FetchPage(platform::http::Transport& transport, const std::string& url);
std::string FetchPage(platform::http::Transport& transport, const std::string& url,
                      std::chrono::milliseconds deadline);

// The history tool's reads: the same rule, its line reader.
PageResult FetchUrlTextChecked(platform::http::Transport& transport, const std::string& url,
                               std::chrono::milliseconds deadline);
std::string FetchUrlText(platform::http::Transport& transport, const std::string& url);

// Overall limits of a site request: the clock read, bid records and bids,
// and whole pages. SetDeadlines gives them from the settings; until then
// the environment's (read once) or the defaults.
std::chrono::milliseconds RequestDeadline();
std::chrono::milliseconds PageDeadline();
// 0 leaves one as it is.
void SetDeadlines(std::chrono::milliseconds request, std::chrono::milliseconds page);

// Options of a site transport: `userAgent`, connect and stall time-outs,
// the size cap, the page deadline.
platform::http::Options SiteHttpOptions(const char* userAgent = kAgentName);

}  // namespace site
