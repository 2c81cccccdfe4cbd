// The history walk's reads of a detail page, the bid records and the home
// page, and the entity decoding of stored texts, on any bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "tallyglass/crawl/fetch.h"
#include "tallyglass/crawl/walk.h"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tallyglass::crawl;
  const std::string_view raw(reinterpret_cast<const char*>(data), size);
  const std::string text = LinesToText(raw);
  DetailRead d = ReadDetail(text);
  Check(d.title.size() <= text.size());
  BidRecordsRead b = ReadBidRecords(text);
  Check(b.buyer.size() <= text.size());
  Check(!b.sold || !b.buyer.empty());
  (void)ReadTrxPriceAgain(text);
  (void)ReadToday(text);
  (void)Plausible(b.trxPrice, d.listPrice, d.endDay, 0);
  // Every entity is longer than what it stands for; text without '&' stays.
  const std::string decoded = DecodeEntities(raw);
  Check(decoded.size() <= raw.size());
  if (raw.find('&') == std::string_view::npos) Check(decoded == raw);
  return 0;
}
