#pragma once
// FetchUrlText: the history tool's GET. The answer is read line by line,
// each line turned from UTF-8 into GBK, and the lines joined with nothing
// between them; the empty text on any failure.
#include <chrono>
#include <string>
#include <string_view>

#include "platform/http/http.h"

namespace tallyglass::crawl {

// The line reader's treatment of a raw answer: its lines (ended by LF or
// CR LF) converted to GBK and joined without their line ends. A lone CR
// inside a line stays.
std::string LinesToText(std::string_view body);

std::string FetchUrlText(platform::http::Transport& transport, const std::string& url);

// A fetch that also tells a failed request from a page: no connection,
// time-out, cancelled, or HTTP 500 and above. A 404 is a page (the site's
// "no such auction"). `error` is a short reason for the user.
struct FetchResult {
  std::string text;
  bool failed = false;
  bool unreachable = false;  // the site could not be reached at all
  bool cancelled = false;
  std::string error;
};
FetchResult FetchUrlTextChecked(platform::http::Transport& transport, const std::string& url,
                                std::chrono::milliseconds deadline);

// Overall limits of one request: pages (AUCTION_PAGE_DEADLINE_MS, 15000) and
// the bid records (AUCTION_REQUEST_DEADLINE_MS, 3000). Read once.
std::chrono::milliseconds PageDeadline();
std::chrono::milliseconds RequestDeadline();

// Options of the history tool's transport: its own name as the agent, the
// page deadline.
platform::http::Options HistoryHttpOptions();

}  // namespace tallyglass::crawl
