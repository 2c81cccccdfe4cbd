// Any bytes as a cookies.txt: no crash, and nothing kept that could break a
// request header or belongs to another host.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/cookies/cookies_internal.h"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

bool Clean(const std::string& s) {
  for (const unsigned char c : s) {
    if (c < 0x20 || c == 0x7f || c == ';') return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace platform::cookies::detail;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const StoreRead r = ParseNetscapeText(text, "dbd.jd.com", 1700000000);
  for (const auto& c : r.cookies) {
    Check(!c.name.empty() && Clean(c.name) && Clean(c.value) && Clean(c.path));
    Check(platform::http::DomainMatches(c.domain, c.includeSubdomains, "dbd.jd.com"));
    Check(c.expires == 0 || c.expires > 1700000000);
  }
  return 0;
}
