#pragma once
// FetchPage: one GET whose whole answer comes back as GBK page text with
// every CR LF pair removed; the empty text when nothing was fetched.
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

// Options for the site's transport: the agent name, time-outs, the cap.
platform::http::Options SiteHttpOptions();

}  // namespace gavelhawk::site
