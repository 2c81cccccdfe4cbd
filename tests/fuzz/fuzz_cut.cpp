// The cutting idiom with any key, skip and delimiter on any text.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "site/cut.h"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

}  // namespace

// Input: skip (1 byte, signed, times 4), key length (1 byte), delimiter
// length (1 byte), the key, the delimiter, then the working text.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ::site;
  if (size < 3) return 0;
  std::ptrdiff_t skip = static_cast<std::int8_t>(data[0]) * 4;
  std::size_t keyLen = data[1] % 24, delimLen = data[2] % 4;
  std::string_view rest(reinterpret_cast<const char*>(data) + 3, size - 3);
  if (rest.size() < keyLen + delimLen) return 0;
  std::string_view key = rest.substr(0, keyLen);
  std::string_view delim = rest.substr(keyLen, delimLen);
  std::string_view text = rest.substr(keyLen + delimLen);

  std::string_view w = text;
  CutAfter(w, key, skip);
  // Always a suffix of the text: the cut never reads outside the page.
  Check(w.size() <= text.size());
  Check(w.empty() || w.data() + w.size() == text.data() + text.size());
  std::size_t p = text.find(key);
  if (p != std::string_view::npos && skip >= 0 && p + static_cast<std::size_t>(skip) <= text.size()) {
    Check(w.size() == text.size() - p - static_cast<std::size_t>(skip));
  }

  std::string_view before = TextBefore(w, delim);
  Check(before.size() <= w.size());
  Check(before.empty() || before.data() == w.data());
  if (!delim.empty()) Check(before.find(delim) == std::string_view::npos);

  ReadNumber(w, delim);
  ParseLong(before);
  return 0;
}
