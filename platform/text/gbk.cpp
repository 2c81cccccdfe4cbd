#include "platform/text/gbk.h"

#include <iconv.h>

#include <cerrno>
#include <stdexcept>

namespace platform::text {
namespace {

// One converter per thread and direction; iconv_open is not free and the
// fetch path converts every page.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {
    if (cd_ == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("iconv_open failed");
  }
  ~Converter() { iconv_close(cd_); }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  iconv_t get() {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);  // reset shift state
    return cd_;
  }

 private:
  iconv_t cd_;
};

iconv_t ToGbk() {
  thread_local Converter c("GBK", "UTF-8");
  return c.get();
}
iconv_t FromGbkToUtf8() {
  thread_local Converter c("UTF-8", "GBK");
  return c.get();
}

// Length of a well-formed UTF-8 sequence at `p`, or 0 when it is malformed,
// or -1 when it is a valid prefix cut short by the end of the buffer.
int Utf8SequenceLength(const unsigned char* p, size_t avail) {
  unsigned char c = p[0];
  int len;
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF)
    len = 2;
  else if (c >= 0xE0 && c <= 0xEF)
    len = 3;
  else if (c >= 0xF0 && c <= 0xF4)
    len = 4;
  else
    return 0;
  for (int i = 1; i < len; ++i) {
    if (static_cast<size_t>(i) >= avail) return -1;
    if ((p[i] & 0xC0) != 0x80) return 0;
  }
  return len;
}

// Runs `cd` over `in`, appending to `out`. At a byte sequence iconv cannot
// convert, `onError(src, srcLeft, errno)` appends its replacement and returns
// how many bytes to skip, or 0 to stop there. Returns the bytes left over.
template <typename OnError>
size_t RunIconv(iconv_t cd, std::string_view in, std::string& out, OnError onError) {
  char* src = const_cast<char*>(in.data());
  size_t srcLeft = in.size();
  char buf[4096];
  while (srcLeft > 0) {
    char* dst = buf;
    size_t dstLeft = sizeof buf;
    size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    out.append(buf, static_cast<size_t>(dst - buf));
    if (r != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) continue;
    size_t skip = onError(reinterpret_cast<const unsigned char*>(src), srcLeft, errno);
    if (skip == 0) break;
    src += skip;
    srcLeft -= skip;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  return srcLeft;
}

// Converts as much of `in` as possible; returns the number of bytes left
// unconverted at the end because they form an incomplete character.
size_t ConvertUtf8(std::string_view in, std::string& out, bool final) {
  bool heldBack = false;
  size_t left = RunIconv(ToGbk(), in, out, [&](const unsigned char* src, size_t srcLeft, int err) -> size_t {
    int len = Utf8SequenceLength(src, srcLeft);
    if (len < 0 || err == EINVAL) {
      if (!final) {
        heldBack = true;
        return 0;
      }
      out.push_back('?');
      return srcLeft;
    }
    // A character GBK lacks, or a malformed byte.
    out.push_back('?');
    return len > 0 ? static_cast<size_t>(len) : 1;
  });
  return heldBack ? left : 0;
}

}  // namespace

std::string Utf8ToGbk(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  ConvertUtf8(utf8, out, true);
  return out;
}

std::string GbkToUtf8(std::string_view gbk) {
  std::string out;
  out.reserve(gbk.size() * 3 / 2);
  RunIconv(FromGbkToUtf8(), gbk, out, [&](const unsigned char*, size_t srcLeft, int err) -> size_t {
    out += "\xEF\xBF\xBD";
    return err == EINVAL ? srcLeft : 1;
  });
  return out;
}

std::u16string GbkToUtf16(std::string_view gbk) {
  std::string utf8 = GbkToUtf8(gbk);
  std::u16string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    char32_t cp;
    int len = Utf8SequenceLength(reinterpret_cast<const unsigned char*>(utf8.data() + i), utf8.size() - i);
    if (len <= 0) {
      cp = 0xFFFD;
      len = 1;
    } else if (len == 1) {
      cp = c;
    } else {
      cp = c & (0xFF >> (len + 1));
      for (int k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += static_cast<size_t>(len);
  }
  return out;
}

void GbkUpperAscii(std::string& gbk) {
  for (size_t i = 0; i < gbk.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(gbk[i]);
    if (c >= 0x81 && c <= 0xFE) {
      ++i;  // lead byte: its trail byte may look like an ASCII letter
    } else if (c >= 'a' && c <= 'z') {
      gbk[i] = static_cast<char>(c - 'a' + 'A');
    }
  }
}

std::string GbkUpperAsciiCopy(std::string_view gbk) {
  std::string s(gbk);
  GbkUpperAscii(s);
  return s;
}

void Utf8ToGbkStream::Feed(std::string_view piece, std::string& out) {
  if (pending_.empty()) {
    size_t left = ConvertUtf8(piece, out, false);
    pending_.assign(piece.substr(piece.size() - left));
    return;
  }
  std::string joined = pending_;
  joined.append(piece);
  size_t left = ConvertUtf8(joined, out, false);
  pending_ = joined.substr(joined.size() - left);
}

void Utf8ToGbkStream::Finish(std::string& out) {
  if (!pending_.empty()) ConvertUtf8(pending_, out, true);
  pending_.clear();
}

}  // namespace platform::text
