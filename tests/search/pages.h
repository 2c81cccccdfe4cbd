#pragma once
// Page texts in the site's format, as FetchPage hands them over (GBK, no
// CR LF), for the reads and the crawl to work on without a network.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/text/gbk.h"

namespace searchtest {

inline std::string G(const std::string& utf8) { return platform::text::Utf8ToGbk(utf8); }

// A site clock on a whole second: N on its listing pages is 12345.
constexpr std::int64_t kNowMs = 1386012345000;
constexpr std::int64_t kNowN = 12345;

struct ListedDeal {
  std::int64_t endMs = 0;
  std::int32_t id = 0;
  std::string title;  // UTF-8
};

// A deal that closes `seconds` after kNowMs.
inline ListedDeal Closing(std::int64_t seconds, std::int32_t id, std::string title = "Item") {
  return {kNowMs + seconds * 1000, id, std::move(title)};
}

inline std::string ListingText(std::int64_t nowMs, const std::vector<ListedDeal>& deals) {
  std::string s = "<html><head><script>var nowMil=" + std::to_string(nowMs) + ";</script></head><ul>";
  for (const ListedDeal& d : deals) {
    s += "<li class=\"resultDeals\" data-end-mili=\"" + std::to_string(d.endMs) + "\" data-deal=\"|" +
         std::to_string(d.id) + "\"><a title=\"" + d.title + "\" href=\"/detail/" + std::to_string(d.id) +
         "\">" + d.title + "</a></li>";
  }
  return G(s + "</ul></html>");
}

inline std::string DetailText(std::int32_t id, const std::string& title, std::int64_t listPrice,
                              const std::string& condition = "全新") {
  std::string s = "<html><head><div data-title=\"" + title +
                  "\" data-kind=\"auction-lot\" data-alt-title=\"\">" +
                  "<script>{endTimeMili=" + std::to_string(kNowMs + 600000) +
                  "}var auctionStatus = 0;var priceLowerOffset = '1.00';var priceHigherOffset = '500.00';" +
                  "</script><dl><dt>京东价</dt><dd>" + std::to_string(listPrice) + ".00</dd>" +
                  "<dt>使用状态：" + condition + "</dt></dl><script>var listPrice = parseInt('" +
                  std::to_string(listPrice) + ".00');var nowMil=" + std::to_string(kNowMs) +
                  ";{startTimeMili=" + std::to_string(kNowMs - 600000) + "}</script>";
  s += "<p>" + std::string(1024, 'x') + "</p></html>";
  (void)id;
  return G(s);
}

inline std::string RecordsText(std::int64_t current) {
  if (current <= 0) return G("{\"trxBuyerName\":null,\"trxPrice\":1.00,\"records\":[]}");
  return G("{\"trxBuyerName\":\"alice\",\"trxPrice\":" + std::to_string(current) +
           ".00,\"records\":[{\"price\":" + std::to_string(current) +
           ".00,\"userNickName\":\"alice\"},{\"price\":1.00,\"userNickName\":\"bob\"}]}");
}

}  // namespace searchtest
