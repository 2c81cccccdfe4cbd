#include "gavelhawk/snipe/reads.h"

#include "site/fetch.h"

namespace gavelhawk::snipe {

AuctionRead ReadAuction(platform::http::Transport& t, const std::string& siteUrl, std::int32_t dealId,
                        bool withDetail) {
  AuctionRead out;
  const std::string url = siteUrl + ::site::DetailPath(dealId);
  auto get = [&]() -> std::string {
    ::site::PageResult r = ::site::FetchPageChecked(t, url, ::site::PageDeadline());
    // "Not found" is the site's own answer about the auction, not a failed
    // request.
    if (r.status == 404) return std::string();
    if (r.failed && !out.failed) {
      out.failed = true;
      out.error = r.error;
    }
    return r.text;
  };
  if (withDetail) {
    const std::string page = get();
    if (out.failed || !site::IsDetailPage(page)) return out;
    out.found = true;
    out.detail = site::ReadDetail(page);
    if (out.detail.status == 2) return out;
  }
  for (int attempt = 0; attempt < 2 && out.endTime <= 0 && !out.failed; ++attempt)
    out.endTime = site::ReadEndTime(get());
  return out;
}

}  // namespace gavelhawk::snipe
