#pragma once
// What the tests of auction-sim share: a libcurl client that keeps its
// connection like the programs do, page text as the programs see it, and the
// programs' cuts.
#include <curl/curl.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sim/auction_sim.h"

namespace simtest {

// A fixed site time with 13 digits, far from any wrap of the low digits.
constexpr std::int64_t kT0 = 1700000000123;

struct Answer {
  CURLcode result = CURLE_OK;
  long status = 0;
  std::string body;  // raw bytes as they came (UTF-8)
  std::string headers;
};

// One easy handle: requests made through it reuse one connection.
class Client {
 public:
  Client();
  ~Client();
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  Answer Get(const std::string& url, const std::string& cookie = "", const std::string& userAgent = "",
             const std::vector<std::string>& extraHeaders = {}, long timeoutMs = 20000);
  Answer Post(const std::string& url);

 private:
  CURL* h_;
};

// The page as the programs cut it: GBK with every CR LF pair removed.
std::string PageText(const std::string& utf8);
// A UTF-8 literal as GBK bytes.
std::string Gbk(std::string_view utf8);

// The programs' reads, each on its own working text.
std::string DetailTitle(std::string_view page);  // "title" 7, ends 35 bytes before the next "title"
std::string After(std::string_view page, std::string_view key, std::ptrdiff_t skip,
                  std::string_view delimiter);  // text before `delimiter`
std::int64_t Number(std::string_view page, std::string_view key, std::ptrdiff_t skip,
                    std::string_view delimiter);  // whole value, 64 bits
int BidCode(std::string_view answer);             // 200 for "success", else the "code" cut

// Occurrences of `needle` in `text`.
int Count(std::string_view text, std::string_view needle);

// A running auction at kT0 with sensible values.
sim::Auction Lot(std::int64_t id, const std::string& title, std::int64_t closesInMs = 600000);

}  // namespace simtest
