#include "support.h"

#include "platform/text/gbk.h"
#include "site/cut.h"

namespace simtest {
namespace {

std::size_t Collect(char* data, std::size_t size, std::size_t n, void* out) {
  static_cast<std::string*>(out)->append(data, size * n);
  return size * n;
}

struct CurlGlobal {
  CurlGlobal() { curl_global_init(CURL_GLOBAL_ALL); }
  ~CurlGlobal() { curl_global_cleanup(); }
};

}  // namespace

Client::Client() {
  static CurlGlobal global;
  h_ = curl_easy_init();
}

Client::~Client() { curl_easy_cleanup(h_); }

Answer Client::Get(const std::string& url, const std::string& cookie, const std::string& userAgent,
                   const std::vector<std::string>& extraHeaders, long timeoutMs) {
  Answer a;
  curl_easy_setopt(h_, CURLOPT_HTTPGET, 1L);
  curl_easy_setopt(h_, CURLOPT_URL, url.c_str());
  curl_easy_setopt(h_, CURLOPT_WRITEFUNCTION, &Collect);
  curl_easy_setopt(h_, CURLOPT_WRITEDATA, &a.body);
  curl_easy_setopt(h_, CURLOPT_HEADERFUNCTION, &Collect);
  curl_easy_setopt(h_, CURLOPT_HEADERDATA, &a.headers);
  curl_easy_setopt(h_, CURLOPT_TIMEOUT_MS, timeoutMs);
  curl_easy_setopt(h_, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h_, CURLOPT_COOKIE, cookie.empty() ? nullptr : cookie.c_str());
  curl_easy_setopt(h_, CURLOPT_USERAGENT, userAgent.empty() ? nullptr : userAgent.c_str());
  curl_slist* list = nullptr;
  for (const auto& h : extraHeaders) list = curl_slist_append(list, h.c_str());
  curl_easy_setopt(h_, CURLOPT_HTTPHEADER, list);
  a.result = curl_easy_perform(h_);
  curl_easy_getinfo(h_, CURLINFO_RESPONSE_CODE, &a.status);
  curl_easy_setopt(h_, CURLOPT_HTTPHEADER, nullptr);
  curl_slist_free_all(list);
  return a;
}

Answer Client::Post(const std::string& url) {
  Answer a;
  curl_easy_setopt(h_, CURLOPT_URL, url.c_str());
  curl_easy_setopt(h_, CURLOPT_POSTFIELDS, "dealId=1&price=2");
  curl_easy_setopt(h_, CURLOPT_WRITEFUNCTION, &Collect);
  curl_easy_setopt(h_, CURLOPT_WRITEDATA, &a.body);
  curl_easy_setopt(h_, CURLOPT_HEADERFUNCTION, &Collect);
  curl_easy_setopt(h_, CURLOPT_HEADERDATA, &a.headers);
  curl_easy_setopt(h_, CURLOPT_TIMEOUT_MS, 20000L);
  a.result = curl_easy_perform(h_);
  curl_easy_getinfo(h_, CURLINFO_RESPONSE_CODE, &a.status);
  return a;
}

std::string PageText(const std::string& utf8) {
  std::string gbk = platform::text::Utf8ToGbk(utf8);
  std::string out;
  out.reserve(gbk.size());
  for (std::size_t i = 0; i < gbk.size(); ++i) {
    if (gbk[i] == '\r' && i + 1 < gbk.size() && gbk[i + 1] == '\n') {
      ++i;
      continue;
    }
    out += gbk[i];
  }
  return out;
}

std::string Gbk(std::string_view utf8) { return platform::text::Utf8ToGbk(utf8); }

std::string DetailTitle(std::string_view page) {
  std::string_view w = page;
  ::site::CutAfter(w, "title", 7);
  std::size_t p = w.find("title");
  if (p == std::string_view::npos || p <= 35) return "";
  return std::string(w.substr(0, p - 35));
}

std::string After(std::string_view page, std::string_view key, std::ptrdiff_t skip,
                  std::string_view delimiter) {
  std::string_view w = page;
  ::site::CutAfter(w, key, skip);
  return std::string(::site::TextBefore(w, delimiter));
}

std::int64_t Number(std::string_view page, std::string_view key, std::ptrdiff_t skip,
                    std::string_view delimiter) {
  return ::site::ParseLong(After(page, key, skip, delimiter));
}

int BidCode(std::string_view answer) {
  std::size_t s = answer.find("success");
  if (s != std::string_view::npos && s > 0) return 200;
  std::string_view w = answer;
  ::site::CutAfter(w, "code", 7);
  return ::site::ReadNumber(w, "\"");
}

int Count(std::string_view text, std::string_view needle) {
  int n = 0;
  for (std::size_t p = text.find(needle); p != std::string_view::npos; p = text.find(needle, p + 1)) ++n;
  return n;
}

sim::Auction Lot(std::int64_t id, const std::string& title, std::int64_t closesInMs) {
  sim::Auction a;
  a.id = id;
  a.title = title;
  a.listPrice = 1000;
  a.startPrice = 10;
  a.lowerOffset = 5;
  a.higherOffset = 100;
  a.startMs = kT0 - 3600000;
  a.endMs = kT0 + closesInMs;
  a.category = 1000;
  return a;
}

}  // namespace simtest
