#include "sim/pages.h"

#include <algorithm>
#include <cstdio>
#include <initializer_list>

namespace sim::pages {
namespace {

std::string Lines(std::initializer_list<std::string> lines) {
  std::string out;
  for (const auto& l : lines) {
    out += l;
    out += "\r\n";
  }
  return out;
}

// Text after the lot's keys. It lifts every detail page above the 1024
// bytes that the programs take as "this auction exists", whatever the title,
// and it holds none of the keys that the programs look for.
const char kLotNotes[] =
    "<div class=\"lot-notes\">\r\n"
    "<h3>竞拍须知</h3>\r\n"
    "<p>1. "
    "夺宝岛商品为京东自营的退换货、展示机及包装破损商品，均经过专业检测，可正常使用，请以页面描述为准。</"
    "p>\r\n"
    "<p>2. 竞拍成功后请在二十四小时内完成付款，逾期未付款视为放弃，该账户在一段时间内将不能参与竞拍。</p>\r\n"
    "<p>3. 每次加价须在本场规定的加价幅度之内，同一账户四秒内不能连续出价，出价一经提交不可撤回。</p>\r\n"
    "<p>4. 拍卖结束时间以本站服务器时间为准，网络延迟可能造成出价未能及时到达，请预留足够的时间。</p>\r\n"
    "<p>5. "
    "商品配件、保修及发票以商品描述为准，如有疑问请在出价前联系客服，竞拍成功后不接受无理由退货。</p>\r\n"
    "<p>6. 同一账户同时在拍的商品不得超过五个，在拍或未支付的商品总数也不得超过五个。</p>\r\n"
    "</div>\r\n";

std::string Cat(std::int64_t v) { return std::to_string(v); }

}  // namespace

int StatusAt(const Auction& a, std::int64_t nowMs) {
  if (a.statusOverride) return *a.statusOverride;
  if (nowMs < a.startMs) return 1;
  if (nowMs < a.endMs) return 0;
  return 2;
}

const Bid* Highest(const Auction& a) {
  const Bid* best = nullptr;
  for (const auto& b : a.bids) {
    if (!best || b.price > best->price || (b.price == best->price && b.atMs < best->atMs)) best = &b;
  }
  return best;
}

std::int64_t CurrentPrice(const Auction& a) {
  const Bid* h = Highest(a);
  return h ? h->price : a.startPrice;
}

std::string Millis(std::int64_t ms) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%013lld", static_cast<long long>(std::max<std::int64_t>(ms, 0)));
  return buf;
}

std::string Yuan(std::int64_t yuan) { return std::to_string(yuan) + ".00"; }

std::string HtmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '\r':
      case '\n':
        out += ' ';
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string JsonEscape(std::string_view text) {
  std::string out;
  for (char c : text) {
    unsigned char u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", u);
      out += buf;
    } else {
      out += c;
    }
  }
  return out;
}

Auction ClockAuction(std::int64_t nowMs) {
  Auction a;
  a.id = kClockDealId;
  a.title = "夺宝岛 服务器时间";
  a.condition = "全新";
  a.listPrice = 0;
  a.startMs = nowMs - 2 * 86400000LL;
  a.endMs = nowMs - 86400000LL;
  return a;
}

std::string DetailPage(const Auction& a, std::int64_t nowMs) {
  const std::string id = Cat(a.id);
  const std::string title = HtmlEscape(a.title);
  // The 35 bytes between the end of the title and the next "title" are
  // fixed: `" data-kind="auction-lot" data-alt-`.
  return Lines({
             "<!DOCTYPE html>",
             "<html>",
             "<head>",
             "<meta charset=\"utf-8\">",
             "<link rel=\"stylesheet\" href=\"/static/paimai.css\">",
             "</head>",
             "<body>",
             "<div class=\"lot\" data-id=\"" + id + "\" data-title=\"" + title +
                 "\" data-kind=\"auction-lot\" data-alt-title=\"\">",
             "<h1 class=\"lot-name\">" + title + "</h1>",
             "<script>",
             "var dealId = " + id + ";",
             "var timeInfo = {endTimeMili=" + Millis(a.endMs) + "};",
             "var auctionStatus = " + std::to_string(StatusAt(a, nowMs)) + ";",
             "var priceLowerOffset = '" + Yuan(a.lowerOffset) + "';",
             "var priceHigherOffset = '" + Yuan(a.higherOffset) + "';",
             "</script>",
             "<dl class=\"lot-info\">",
             "<dt>京东价</dt><dd>" + Yuan(a.listPrice) + "</dd>",
             "<dt>使用状态：" + HtmlEscape(a.condition) + "</dt>",
             "</dl>",
             "<script>",
             "var listPrice = parseInt('" + Yuan(a.listPrice) + "');",
             "var nowMil=" + Millis(nowMs) + ";",
             "var startInfo = {startTimeMili=" + Millis(a.startMs) + "};",
             "</script>",
             "</div>",
         }) +
         kLotNotes + Lines({"</body>", "</html>"});
}

std::string NotFoundPage() {
  return Lines({"<!DOCTYPE html>", "<html><head><meta charset=\"utf-8\"></head>",
                "<body><h1>404</h1><p>您访问的页面不存在</p></body></html>"});
}

std::string ServerErrorPage() {
  return Lines({"<!DOCTYPE html>", "<html><head><meta charset=\"utf-8\"></head>",
                "<body><h1>500 Internal Server Error</h1><p>服务器繁忙，请稍后再试</p></body></html>"});
}

std::string BidRecords(const Auction* a, std::int64_t nowMs) {
  if (!a) return "{\"trxBuyerName\":null,\"trxPrice\":0.00,\"records\":[]}";
  std::vector<const Bid*> sorted;
  for (const auto& b : a->bids) sorted.push_back(&b);
  std::stable_sort(sorted.begin(), sorted.end(), [](const Bid* x, const Bid* y) {
    return x->price != y->price ? x->price > y->price : x->atMs < y->atMs;
  });
  const bool over = StatusAt(*a, nowMs) == 2;
  std::string buyer = "null";
  if (over && a->trxBuyerOverride) {
    buyer = *a->trxBuyerOverride == "null" ? "null" : "\"" + JsonEscape(*a->trxBuyerOverride) + "\"";
  } else if (over && !sorted.empty()) {
    buyer = "\"" + JsonEscape(sorted.front()->buyer) + "\"";
  }
  std::int64_t price = CurrentPrice(*a);
  if (over && a->trxPriceOverride) price = *a->trxPriceOverride;
  std::string out = "{\"trxBuyerName\":" + buyer + ",\"trxPrice\":" + Yuan(price) + ",\"records\":[";
  for (std::size_t i = 0; i < sorted.size(); ++i) {
    if (i) out += ',';
    out += "{\"price\":" + Yuan(sorted[i]->price) + ",\"userNickName\":\"" + JsonEscape(sorted[i]->buyer) +
           "\"}";
  }
  out += "]}";
  return out;
}

std::string BidAnswer(int code) {
  if (code == 200) return "{\"result\":\"success\",\"code\":\"200\"}";
  const char* message;
  switch (code) {
    case 400:
      message = "请您输入参拍价格(正整数)";
      break;
    case 403:
      message = "您还没有登录";
      break;
    case 450:
      message = "拍卖已结束";
      break;
    case 452:
      message = "拍卖未开始";
      break;
    case 453:
      message = "您已是当前最高价";
      break;
    case 457:
      message = "您暂无拍卖资格";
      break;
    case 460:
      message = "出价未超目前最高价";
      break;
    case 461:
      message = "加价不得高于最高加价";
      break;
    case 462:
      message = "出价不能超过京东价";
      break;
    case 463:
      message = "参拍价格(正整数)错误";
      break;
    case 468:
      message = "出价太快,4秒内不可连续出价";
      break;
    case 4201:
      message = "同时在拍商品超过5个";
      break;
    case 4203:
      message = "在拍或未支付的商品总数不得超过5个";
      break;
    default:
      message = "出价失败";
      break;
  }
  return "{\"code\":\"" + std::to_string(code) + "\",\"message\":\"" + message + "\"}";
}

std::string ListingPage(const std::vector<const Auction*>& deals, std::int64_t nowMs) {
  std::string out = Lines({
      "<!DOCTYPE html>",
      "<html>",
      "<head><meta charset=\"utf-8\"></head>",
      "<body>",
      "<script>var nowMil=" + Millis(nowMs) + ";</script>",
      "<div class=\"deal-list\">",
      "<ul>",
  });
  for (const Auction* a : deals) {
    const std::string id = Cat(a->id);
    const std::string title = HtmlEscape(a->title);
    out += "<li class=\"resultDeals\" data-end-mili=\"" + Millis(a->endMs) + "\" data-deal=\"|" + id +
           "\"><a title=\"" + title + "\" href=\"/detail/" + id + "\">" + title + "</a></li>\r\n";
  }
  out += Lines({"</ul>", "</div>", "</body>", "</html>"});
  return out;
}

std::string HomePage(std::int64_t nowMs) {
  return Lines({
      "<!DOCTYPE html>",
      "<html>",
      "<head><meta charset=\"utf-8\"></head>",
      "<body>",
      "<script>var nowMil=" + Millis(nowMs) + ";</script>",
      "<h1>京东夺宝岛</h1>",
      "<p><a href=\"/paimai/0-0-0-0-0-0-1-0-0-1-1.html\">正在拍卖</a></p>",
      "</body>",
      "</html>",
  });
}

std::string DefaultUpdatePage(const std::string& baseUrl) {
  return Lines({
      "<!DOCTYPE html>",
      "<html>",
      "<head><meta charset=\"utf-8\"></head>",
      "<body>",
      "<div class=\"product\">",
      "<h3>Gavelhawk 专业版 v3.61</h3>",
      "<p>下载地址：<a>" + baseUrl + "/download/gavelhawk.tar.gz</a></p>",
      "<p>更新历史</p><p>3.61 出价前先读取最新出价记录</p><p>3.60 新增开拍出价和商品搜索</p>"
      "<p>3.50 自动出价支持十个商品<br></p>",
      "</div>",
      "</body>",
      "</html>",
  });
}

}  // namespace sim::pages
