#pragma once
// GBK (code page 936) conversions. The site's text is kept as GBK bytes from
// the fetch to the cut that uses it; it becomes UTF-8 or UTF-16 only where it
// is shown or stored.
#include <string>
#include <string_view>

namespace platform::text {

// UTF-8 -> GBK. A character that GBK lacks, and any malformed UTF-8 byte,
// becomes '?'.
std::string Utf8ToGbk(std::string_view utf8);

// GBK -> UTF-8. A malformed GBK byte becomes U+FFFD.
std::string GbkToUtf8(std::string_view gbk);

// GBK -> UTF-16.
std::u16string GbkToUtf16(std::string_view gbk);

// Upper-cases the ASCII letters of a GBK text. The second byte of a two-byte
// character is never touched, even when it falls in the ASCII letter range.
void GbkUpperAscii(std::string& gbk);
std::string GbkUpperAsciiCopy(std::string_view gbk);

// Converts a UTF-8 byte stream that arrives in pieces. A character split
// between two pieces is held back and joined with the rest of it.
class Utf8ToGbkStream {
 public:
  // Converts what can be converted of `piece` (plus any held-back bytes) and
  // appends it to `out`.
  void Feed(std::string_view piece, std::string& out);
  // Flushes a trailing incomplete character as '?'.
  void Finish(std::string& out);

 private:
  std::string pending_;
};

}  // namespace platform::text
