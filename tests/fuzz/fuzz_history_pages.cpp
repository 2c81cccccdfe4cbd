// Any bytes as the history crawl's pages (home page, detail page, bid
// records, each as the site's lines): the reads must neither crash nor
// invent a sale or a day that is not there; entity decoding of stored texts.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "site/fetch.h"
#include "tallyglass/crawl/walk.h"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

}  // namespace

// Input: home page, 0x00, detail page, 0x00, bid records.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tallyglass::crawl;
  std::string_view in(reinterpret_cast<const char*>(data), size);
  std::string parts[3];
  for (auto& p : parts) {
    const std::size_t end = in.find('\0');
    p = ::site::LinesToText(in.substr(0, end));
    in = end == std::string_view::npos ? std::string_view() : in.substr(end + 1);
  }
  const std::int32_t today = ReadToday(parts[0]);
  if (parts[0].find("nowMil") == std::string::npos) Check(today == 0);
  const DetailRead d = ReadDetail(parts[1]);
  Check(d.title.size() <= parts[1].size());
  const BidRecordsRead r = ReadBidRecords(parts[2]);
  // The reader drops stray carriage returns before it looks for the key.
  std::string records = parts[2];
  std::erase(records, '\r');
  if (records.find("trxBuyerName") == std::string::npos) Check(!r.sold);
  Check(r.buyer.size() <= parts[2].size());
  (void)ReadTrxPriceAgain(parts[2]);
  (void)NeedsSecondRead(d.listPrice, r.trxPrice);
  (void)Plausible(r.trxPrice, d.listPrice, d.endDay, today);
  // Every entity is longer than what it stands for; text without '&' stays.
  const std::string_view raw(reinterpret_cast<const char*>(data), size);
  const std::string decoded = DecodeEntities(raw);
  Check(decoded.size() <= raw.size());
  if (raw.find('&') == std::string_view::npos) Check(decoded == raw);
  return 0;
}
