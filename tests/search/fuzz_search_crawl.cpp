// Any bytes as the listing page, the detail page and the bid records: the
// crawl must neither crash nor break its limits.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "gavelhawk/search/crawl.h"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

}  // namespace

// Input: listing page, 0x00, detail page, 0x00, bid records (missing parts
// are empty, as an unreadable page is).
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace gavelhawk::search;
  std::string_view in(reinterpret_cast<const char*>(data), size);
  std::string_view parts[3];
  for (auto& p : parts) {
    const std::size_t end = in.find('\0');
    p = in.substr(0, end);
    in = end == std::string_view::npos ? std::string_view() : in.substr(end + 1);
  }
  CrawlHooks hooks;
  int requests = 0, expected = 0;
  hooks.fetch = [&](const std::string& path) {
    ++requests;
    if (path.rfind("/paimai/", 0) == 0) return std::string(parts[0]);
    if (path.rfind("/detail/", 0) == 0) return std::string(parts[1]);
    return std::string(parts[2]);
  };
  hooks.maxDiscount = [] { return 0.9; };
  hooks.store = [&](int slot, const Hit& hit) {
    Check(slot == expected++);
    Check(slot >= 0 && slot < kHitSlots);
    Check(hit.strStatus.size() <= kMaxConditionBytes);
    Check(!hit.strRemain.empty());
  };
  const CrawlOutcome out = Crawl(KeywordFilter(), hooks);
  Check(out.hitLast == expected - 1);
  Check(out.requests == requests);
  Check(out.pages <= 30 && requests <= 30 + 2 * 16 * 30);
  return 0;
}
