#pragma once
// FetchUrlText: the history tool's GET. The answer is read line by line,
// each line turned from UTF-8 into GBK, and the lines joined with nothing
// between them; the empty text on any failure.
#include <string>
#include <string_view>

#include "platform/http/http.h"

namespace tallyglass::crawl {

// The line reader's treatment of a raw answer: its lines (ended by LF or
// CR LF) converted to GBK and joined without their line ends. A lone CR
// inside a line stays.
std::string LinesToText(std::string_view body);

std::string FetchUrlText(platform::http::Transport& transport, const std::string& url);

// Options of the history tool's transport: its own name as the agent.
platform::http::Options HistoryHttpOptions();

}  // namespace tallyglass::crawl
