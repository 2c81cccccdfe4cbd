#include "gavelhawk/search/crawl.h"

#include "gavelhawk/site/detail.h"
#include "platform/text/gbk.h"
#include "site/paths.h"

namespace gavelhawk::search {

CrawlOutcome Crawl(const KeywordFilter& keywords, const CrawlHooks& hooks) {
  CrawlOutcome out;
  auto stop = [&] { return hooks.stopRequested && hooks.stopRequested(); };
  auto fetch = [&](const std::string& path) {
    ++out.requests;
    return hooks.fetch ? hooks.fetch(path) : std::string();
  };

  int page = 1;
  for (int correction = kFirstCorrection; correction <= kLastCorrection;
       correction += kCorrectionStep, ++page) {
    if (stop()) {
      out.end = CrawlEnd::Stopped;
      return out;
    }
    const int code = CategoryCode(hooks.categoryIndex ? hooks.categoryIndex() : 0);
    const std::string text = fetch(::site::ListingPath(code, page));
    ++out.pages;
    ListingPage listing(text);
    const std::int64_t now = listing.ReadClock();
    if (now < 0 || now > 99999) {
      out.end = CrawlEnd::BadClock;
      return out;
    }

    for (int pass = 0; pass < kDealsPerPage; ++pass) {
      if (stop()) {
        out.end = CrawlEnd::Stopped;
        return out;
      }
      std::int32_t closing = 0;
      if (!listing.NextDeal(closing)) break;
      const std::int64_t remaining = RemainingSeconds(closing, now, correction);
      if (remaining < kMinRemaining) continue;
      if (remaining > kMaxRemaining) break;  // closing soonest first: the rest are later still

      Hit hit;
      hit.strRemain = RemainText(remaining);
      hit.nDealId = listing.ReadDealId();
      const std::string_view title = listing.ReadTitle();
      // Cheap filters first: a deal that fails here costs no request.
      if (!keywords.Passes(platform::text::GbkUpperAsciiCopy(title))) continue;

      const std::string detail = fetch(::site::DetailPath(hit.nDealId));
      const SearchDetail d = ReadSearchDetail(detail);
      if (!ConditionAccepted(d.condition)) continue;

      const std::string records = fetch(::site::BidRecordsPath(hit.nDealId));
      hit.nCurPrice = ReadCurrentPrice(records);
      hit.nListPrice = d.listPrice;
      const double maxRatio = hooks.maxDiscount ? hooks.maxDiscount() : 0.0;
      if (PassesDiscount(maxRatio, hit.nCurPrice, hit.nListPrice)) {
        hit.strTitle.assign(title);
        hit.strStatus.assign(d.condition);
        hit.fDiscount = DiscountOf(hit.nCurPrice, hit.nListPrice);
        ++out.hitLast;
        if (hooks.store) hooks.store(out.hitLast, hit);
      }
      if (out.hitLast + 1 >= kHitSlots) {
        out.end = CrawlEnd::TableFull;
        return out;
      }
    }
  }
  out.end = CrawlEnd::AllPages;
  return out;
}

}  // namespace gavelhawk::search
