#include "gavelhawk/site/probe.h"

#include "gavelhawk/site/bid.h"
#include "gavelhawk/site/detail.h"
#include "platform/text/gbk.h"
#include "site/fetch.h"
#include "site/paths.h"

namespace gavelhawk::site {

using ::site::DetailPath;
using ::site::FetchPage;
using ::site::kClockDealId;
namespace {

// A title that kept a lone CR or LF must not start a line of its own.
std::string OneLine(std::string s) {
  for (char& c : s)
    if (c == '\r' || c == '\n') c = ' ';
  return s;
}

}  // namespace

int RunProbe(platform::http::Transport& t, const std::string& siteUrl, std::int32_t dealId,
             std::ostream& out) {
  std::string base = siteUrl;
  while (!base.empty() && base.back() == '/') base.pop_back();

  // The same reads, in the same order, as adding a snipe row: the detail page,
  // the detail page again for the closing time, then the clock page.
  // A request that failed is a network failure, never the site's word on
  // the auction.
  const ::site::PageResult first =
      ::site::FetchPageChecked(t, base + DetailPath(dealId), ::site::PageDeadline());
  if (first.failed) {
    out << "error=" << kMsgNetworkError << OneLine(first.error) << '\n';
    return 1;
  }
  std::string page = first.text;
  if (!IsDetailPage(page)) {
    out << "error=" << kMsgNoSuchAuction << '\n';
    return 1;
  }
  AuctionDetail d = ReadDetail(page);
  OpeningRead opening = ReadOpening(page);
  std::int64_t closing = ReadEndTime(FetchPage(t, base + DetailPath(dealId)));
  std::int64_t now = ReadNowMil(FetchPage(t, base + DetailPath(kClockDealId)));
  std::int64_t remain = closing - now;

  out << "title=" << OneLine(platform::text::GbkToUtf8(d.title)) << '\n'
      << "status=" << d.status << '\n'
      << "lower=" << d.lower << '\n'
      << "higher=" << d.higher << '\n'
      << "closing_minus_now_ms=" << remain << '\n'
      << "opening_minus_now_ms=" << (opening.opening - opening.now) << '\n'
      << "remaining=" << RemainingText(remain) << '\n';
  return 0;
}

}  // namespace gavelhawk::site
