// Any bytes as the bid answer or the bid records: the reads must not crash,
// and the snipe's bid must stay within its ceiling whatever price they give.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "gavelhawk/site/bid.h"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace gavelhawk::site;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::int32_t current = ReadCurrentPrice(text);
  const std::int32_t code = ReadResultCode(text);
  const bool success = IsBidSuccess(text);
  Check(!success || text.find("success") != std::string_view::npos);
  Check(current >= 1);  // an unreadable price counts as 1
  constexpr std::int64_t kCeiling = 500;
  const std::int64_t bid = BidAmount(current, 10, kCeiling);
  Check(bid <= kCeiling);
  Check(!SnipeStateText(code, current, kCeiling, bid).empty());
  (void)ManualBidMessage(code);
  return 0;
}
