#pragma once
// FetchPage: one GET whose whole answer comes back as GBK page text with
// every CR LF pair removed; the empty text when nothing was fetched.
#include <chrono>
#include <string>
#include <string_view>

#include "platform/http/http.h"

namespace gavelhawk::site {

// The User-Agent of every site request: "京东" as its 4 GBK bytes.
extern const char kAgentName[];

// Turns a raw answer (UTF-8) into page text: read in pieces of up to 2048
// bytes, each converted to GBK as it arrives (a character split between two
// pieces is joined), then every CR LF pair removed. A lone CR or LF stays.
std::string ToPageText(std::string_view body);

// GET of `url` through `transport`; the answer as page text, or the empty
// text on any failure. The HTTP status is not looked at.
std::string FetchPage(platform::http::Transport& transport, const std::string& url);

// The same with an overall deadline for this request.
std::string FetchPage(platform::http::Transport& transport, const std::string& url,
                      std::chrono::milliseconds deadline);

// A fetch that also says whether the request itself failed: refused, timed
// out, TLS, cancelled, or an HTTP status of 400 or more. `error` is a short
// reason for the user; `text` is the page text as FetchPage gives it.
struct PageResult {
  std::string text;
  bool failed = false;
  std::string error;
  long status = 0;  // HTTP status, 0 when none arrived
};
PageResult FetchPageChecked(platform::http::Transport& transport, const std::string& url,
                            std::chrono::milliseconds deadline);

// Overall limits of a site request: the clock read, bid records and bids
// (AUCTION_REQUEST_DEADLINE_MS, 3000 by default), and whole pages
// (AUCTION_PAGE_DEADLINE_MS, 15000). Read from the environment once,
// unless SetDeadlines gave them.
std::chrono::milliseconds RequestDeadline();
std::chrono::milliseconds PageDeadline();
// The command line's values, over the environment's; 0 leaves one as it is.
void SetDeadlines(std::chrono::milliseconds request, std::chrono::milliseconds page);

// Options for the site's transport: the agent name, time-outs, the cap, the
// page deadline.
platform::http::Options SiteHttpOptions();

}  // namespace gavelhawk::site
