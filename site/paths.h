#pragma once
// Where the site keeps each page both programs read: every address is the
// site's base (scheme and host, no trailing slash) plus one of these paths.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace site {

constexpr int kClockDealId = 3333333;         // the detail page the site clock is read from
constexpr std::size_t kMinDetailPage = 1024;  // a shorter detail page means "no such auction"
constexpr char kHomePath[] = "/";             // the home page, which carries the site's clock too

std::string DetailPath(std::int64_t dealId);                   // "/detail/%d"
std::string BidRecordsPath(std::int64_t dealId);               // "/json/paimai/bid_records?dealId=%d"
std::string BidPath(std::int64_t dealId, std::int64_t price);  // "/json/paimai/bid?dealId=%d&price=%d"
// The listing of open auctions of a category (0: all), pages from 1.
std::string ListingPath(int categoryCode, int page);  // "/paimai/0-0-%d-0-0-0-1-0-0-0-%d.html"

// True when the path of the absolute address `url` is a detail page's.
bool IsDetailUrl(std::string_view url);

}  // namespace site
