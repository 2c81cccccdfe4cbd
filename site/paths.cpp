#include "site/paths.h"

namespace site {

namespace {
constexpr std::string_view kDetailPrefix = "/detail/";
}  // namespace

std::string DetailPath(std::int64_t dealId) { return std::string(kDetailPrefix) + std::to_string(dealId); }

std::string BidRecordsPath(std::int64_t dealId) {
  return "/json/paimai/bid_records?dealId=" + std::to_string(dealId);
}

std::string BidPath(std::int64_t dealId, std::int64_t price) {
  return "/json/paimai/bid?dealId=" + std::to_string(dealId) + "&price=" + std::to_string(price);
}

std::string ListingPath(int categoryCode, int page) {
  return "/paimai/0-0-" + std::to_string(categoryCode) + "-0-0-0-1-0-0-0-" + std::to_string(page) + ".html";
}

bool IsDetailUrl(std::string_view url) {
  const std::size_t scheme = url.find("://");
  if (scheme == std::string_view::npos) return false;
  const std::size_t path = url.find('/', scheme + 3);
  return path != std::string_view::npos && url.substr(path, kDetailPrefix.size()) == kDetailPrefix;
}

}  // namespace site
