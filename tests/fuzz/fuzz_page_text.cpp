// Any bytes as the site's answer: the conversion to page text and every read
// of a detail page must neither crash nor break their guarantees.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <string_view>

#include "gavelhawk/site/detail.h"
#include "gavelhawk/site/probe.h"
#include "platform/text/gbk.h"
#include "site/fetch.h"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

// Serves the same bytes for every address, as a garbled site would.
class SameAnswer : public platform::http::Transport {
 public:
  explicit SameAnswer(std::string body) : body_(std::move(body)) {}
  platform::http::Response Get(const std::string&) override {
    platform::http::Response r;
    r.ok = true;
    r.status = 200;
    r.body = body_;
    return r;
  }

 private:
  std::string body_;
};

std::string WithoutCrLf(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n') {
      ++i;
      continue;
    }
    out.push_back(s[i]);
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace gavelhawk::site;
  std::string_view body(reinterpret_cast<const char*>(data), size);

  // Converting in 2048-byte pieces must give what converting at once gives.
  std::string page = ::site::ToPageText(body);
  Check(page == WithoutCrLf(platform::text::Utf8ToGbk(body)));
  Check(page.size() <= size);

  AuctionDetail d = ReadDetail(page);
  Check(d.title.size() <= page.size());
  Check(d.title.empty() || page.find(d.title) != std::string::npos);
  platform::text::GbkToUtf8(d.title);
  platform::text::GbkToUtf16(d.title);
  std::int32_t inc = BoundIncrement(static_cast<std::int32_t>(size), d.lower, d.higher);
  if (d.lower <= d.higher) {
    Check(inc >= d.lower && inc <= d.higher);
  } else {
    Check(inc == d.higher);
  }

  std::int64_t end = ReadEndTime(page);
  std::int64_t now = ReadNowMil(page);
  Check(end >= -kMaxTimeMs && end <= kMaxTimeMs && now >= -kMaxTimeMs && now <= kMaxTimeMs);
  RemainingText(end - now);
  OpeningRead o = ReadOpening(page);
  RemainingText(o.opening - o.now);
  IsDetailPage(page);

  SameAnswer site{std::string(body)};
  std::ostringstream out;
  int rc = RunProbe(site, "http://127.0.0.1:1", 1, out);
  Check(rc == (IsDetailPage(page) ? 0 : 1));
  return 0;
}
