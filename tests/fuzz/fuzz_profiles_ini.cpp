// Any bytes as Firefox's profiles.ini: no crash, and every profile named is
// a folder under the base or an absolute path the file gives.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/cookies/cookies_internal.h"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace platform::cookies::detail;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::string base = "/home/u/.mozilla/firefox";
  for (const std::string& dir : ProfileOrder(base, text)) {
    Check(dir.empty() || dir.front() == '/');
    Check(dir.size() <= base.size() + 1 + size);
  }
  return 0;
}
