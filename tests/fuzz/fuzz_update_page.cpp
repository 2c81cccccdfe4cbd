// Any bytes as the update page: the offer, its link check and the history
// must neither crash nor offer a link the check refuses.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "gavelhawk/app/update.h"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace gavelhawk::ui;
  const std::string_view page(reinterpret_cast<const char*>(data), size);
  const UpdateOffer offer = ReadUpdateOffer(page);
  Check(offer.link.size() <= page.size());
  if (offer.kind == UpdateOffer::Kind::None) Check(offer.link.empty());
  // Whatever the page holds, a link passes only on the page's own host.
  for (const std::string_view link : {std::string_view(offer.link), page}) {
    if (!IsUpdateLink(link, "https://update.example/page")) continue;
    std::string lower(link);
    for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    Check(lower.rfind("https://update.example/", 0) == 0 || lower.rfind("https://update.example:", 0) == 0);
    Check(link.find('@') == std::string_view::npos);
  }
  const std::string history = ReadUpdateHistory(page);
  Check(history.size() <= page.size() * 2);
  return 0;
}
