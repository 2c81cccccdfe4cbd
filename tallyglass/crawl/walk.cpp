#include "tallyglass/crawl/walk.h"

#include <algorithm>

#include "pages/cut.h"
#include "platform/text/gbk.h"
#include "tallyglass/crawl/fetch.h"

namespace tallyglass::crawl {

using pages::CutAfter;
using pages::ParseLong;
using pages::ReadNumber;
using pages::TextBefore;

namespace {

// The first 10 bytes of a time written in milliseconds are its seconds.
std::int64_t LeadingSeconds(std::string_view w) {
  return ParseLong(w.substr(0, std::min<std::size_t>(10, w.size())));
}

QString ToStored(std::string_view gbk) { return QString::fromStdString(platform::text::GbkToUtf8(gbk)); }

}  // namespace

std::int32_t DayOf(std::int64_t seconds) { return static_cast<std::int32_t>(seconds / 86400); }

std::int32_t ReadToday(std::string_view homePage) {
  if (homePage.find("nowMil") == std::string_view::npos) return 0;
  std::string_view w = homePage;
  CutAfter(w, "nowMil", 7);
  return DayOf(LeadingSeconds(w));
}

DetailRead ReadDetail(std::string_view page) {
  DetailRead d;
  std::string_view w = page;
  CutAfter(w, "title", 7);
  std::size_t next = w.find("title");
  if (next != std::string_view::npos && next > 35) d.title = std::string(w.substr(0, next - 35));

  if (page.find("endTimeMili") != std::string_view::npos) {
    w = page;
    CutAfter(w, "endTimeMili", 12);
    d.hasEnd = true;
    d.endDay = DayOf(LeadingSeconds(w));
  }
  w = page;
  CutAfter(w, "auctionStatus", 16);
  d.status = ReadNumber(w, ";");
  w = page;
  CutAfter(w, "parseInt", 10);
  d.listPrice = ReadNumber(w, ".");
  return d;
}

BidRecordsRead ReadBidRecords(std::string_view text) {
  BidRecordsRead b;
  std::string clean(text);
  std::erase(clean, '\r');
  // Without the key the cut would make a buyer out of whatever stands at the
  // start of the text: a failed request would be stored as a sale at 0.
  if (clean.find("trxBuyerName") == std::string::npos) return b;
  std::string_view w = clean;
  CutAfter(w, "trxBuyerName", 14);
  std::string_view name = TextBefore(w, ",");
  if (name == "null") return b;
  b.buyer = std::string(name);
  std::erase(b.buyer, '"');
  if (b.buyer.empty()) return b;
  b.sold = true;
  CutAfter(w, ":", 1);
  b.trxPrice = ReadNumber(w, ".");
  return b;
}

std::int32_t ReadTrxPriceAgain(std::string_view text) {
  std::string_view w = text;
  if (w.find("trxPrice") != std::string_view::npos) {
    CutAfter(w, "trxPrice", 10);
  } else {
    CutAfter(w, ":", 1);
  }
  return ReadNumber(w, ".");
}

bool NeedsSecondRead(std::int32_t listPrice, std::int32_t trxPrice) {
  return listPrice > 0 && static_cast<std::int64_t>(trxPrice) * 10 < listPrice;
}

AuctionOutcome CrawlAuction(platform::http::Transport& transport, const std::string& siteUrl, std::int32_t id,
                            std::int32_t today) {
  AuctionOutcome out;
  const std::string detail = FetchUrlText(transport, siteUrl + "/detail/" + std::to_string(id));
  if (detail.size() < kMinDetailBytes) return out;
  DetailRead d = ReadDetail(detail);
  if (!d.hasEnd) return out;
  if (d.endDay == today && d.status == 0) {
    out.kind = AuctionOutcome::EndOfWalk;
    return out;
  }
  const std::string recordsUrl = siteUrl + "/json/paimai/bid_records?dealId=" + std::to_string(id);
  BidRecordsRead b = ReadBidRecords(FetchUrlText(transport, recordsUrl));
  if (!b.sold) return out;
  // A deal price below a tenth of the list price is read once more; the
  // second answer stands.
  if (NeedsSecondRead(d.listPrice, b.trxPrice))
    b.trxPrice = ReadTrxPriceAgain(FetchUrlText(transport, recordsUrl));

  out.kind = AuctionOutcome::Sold;
  out.record.nProductId = id;
  out.record.strTitle = ToStored(d.title);
  out.record.nTrxPrice = b.trxPrice;
  out.record.strBuyerName = ToStored(b.buyer);
  out.record.nPrice = d.listPrice;
  out.record.nBidTime = d.endDay;
  return out;
}

std::int32_t FetchToday(platform::http::Transport& transport, const std::string& siteUrl) {
  return ReadToday(FetchUrlText(transport, siteUrl + "/"));
}

}  // namespace tallyglass::crawl
