#pragma once
// The find-and-cut idiom that every read of site text uses: find a key, keep
// the text from the key's position plus a fixed count of bytes, then read up
// to a delimiter. All counts are bytes of GBK text. The working text is a
// view into one page buffer; cuts never copy.
#include <cstdint>
#include <string_view>

namespace site {

// w becomes w from (position of the first `key`, or -1 when absent) + skip
// to its end. A resulting length of 0 or less gives the empty text; a length
// of size(w) or more leaves w whole.
void CutAfter(std::string_view& w, std::string_view key, std::ptrdiff_t skip);

// The text before the first `delimiter`; empty when the delimiter is absent.
std::string_view TextBefore(std::string_view w, std::string_view delimiter);

// The C library's decimal conversion (leading blanks, optional sign, digits)
// of the text before the first `delimiter`. Absent delimiter, or none of the
// text before it a number: 0. Wraps to 32 bits as the original's long did.
std::int32_t ReadNumber(std::string_view w, std::string_view delimiter);

// atol of a whole text, 64 bits, saturating instead of overflowing.
std::int64_t ParseLong(std::string_view text);

}  // namespace site
