#pragma once
// `gavelhawk snipe [--increment N] [--prep MS] [--group G] ID MAX [ID MAX]...
// [--group G ID MAX...]...`: closing
// snipes without a window. Each auction is read as 自动出价 reads it, armed
// in the engine, bid on by the program itself, and every event is one line
// of `key=value` fields on the output.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "platform/http/http.h"

namespace gavelhawk::snipe {

constexpr int kCliMaxPairs = 10;

struct CliArgs {
  std::int32_t increment = 1;
  std::int32_t prep = 1000;
  std::vector<std::pair<std::int32_t, std::int32_t>> auctions;  // id, ceiling
  std::vector<std::int32_t> groups;                             // each auction's group, 0: none
  // Options that are not the snipe's own (--site-url, --cookies, ...), for
  // the program's settings.
  std::vector<std::string> rest;
};

struct CliParse {
  CliArgs args;
  std::string error;  // a usage error, UTF-8
};

// `args` are what follows "snipe".
CliParse ParseSnipeArgs(const std::vector<std::string>& args);

// The usage text.
std::string SnipeUsage();

struct CliSite {
  std::string siteUrl;
  // A transport with the login: one for each auction's reads, one for the
  // engine's clock and one for each armed row.
  std::function<std::unique_ptr<platform::http::Transport>()> newTransport;
};

// Exit codes: 0 when every group won one auction and every auction outside
// a group was won, 1 otherwise, 130 when `interrupted` was set
// (SIGINT/SIGTERM) before the end.
int RunSnipe(const CliArgs& args, const CliSite& site, std::ostream& out,
             const std::atomic<bool>& interrupted);

// A value for a key=value line: as it is, or in double quotes (with \" and
// \\) when it is empty or holds a space, a quote or a backslash.
std::string QuoteValue(const std::string& v);

}  // namespace gavelhawk::snipe
