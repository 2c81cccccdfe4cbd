#include "gavelhawk/site/bid.h"

#include <algorithm>

#include "site/cut.h"

namespace gavelhawk::site {

using ::site::CutAfter;
using ::site::ParseLong;
using ::site::ReadNumber;
using ::site::TextBefore;

const char kMsgBidPlaced[] = "出价成功";
const char kMsgNoSuchAuction[] = "商品不存在或拍卖已结束";
const char kMsgAlreadyTooHigh[] = "出价失败,当前出价已过高";
const char kStateWaiting[] = "准备竞拍";
const char kStateBidPlaced[] = "出价成功";
const char kStateNoSiteTime[] = "未能读取站点时间";
const char kStateHandedOver[] = "出价结束";
const char kStateNetworkError[] = "网络错误";
const char kMsgNetworkError[] = "网络错误：";
const char kStateWon[] = "已得标";

std::string LostStateText(std::int64_t finalPrice) {
  return "未得标(成交价" + std::to_string(finalPrice) + ")";
}

std::string UnconfirmedStateText(std::int64_t current) {
  return "结果未确认(当前价" + std::to_string(current) + ")";
}

namespace {

// Why an answer is not one the site's JSON pages give, or empty.
std::string AnswerProblem(const platform::http::Response& r) {
  if (r.truncated) return "回答过大（超过 " + std::to_string(r.body.size()) + " 字节）";
  if (r.notResent) return "连接在请求发出后断开（未重发）";
  if (!r.ok) return r.timedOut ? "time-out: " + r.error : r.error.empty() ? "no answer" : r.error;
  if (r.status >= 300 && r.status < 400) return "HTTP " + std::to_string(r.status) + " 转向（未跟随）";
  if (r.status != 200) return "HTTP " + std::to_string(r.status);
  const auto first = r.body.find_first_not_of(" \t\r\n");
  if (first == std::string::npos || r.body[first] != '{') return "回答不是站点的 JSON";
  return {};
}

// The whole-yuan number after `"key":`, or -1.
std::int64_t JsonYuan(std::string_view text, std::string_view key) {
  const std::string k = "\"" + std::string(key) + "\":";
  const auto at = text.find(k);
  if (at == std::string_view::npos) return -1;
  std::size_t i = at + k.size();
  while (i < text.size() && text[i] == ' ') ++i;
  std::int64_t v = 0;
  std::size_t digits = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 12; ++i, ++digits)
    v = v * 10 + (text[i] - '0');
  return digits == 0 ? -1 : v;
}

}  // namespace

RecordsRead ReadRecords(const platform::http::Response& r) {
  RecordsRead out;
  out.error = AnswerProblem(r);
  if (!out.error.empty()) return out;
  const std::string_view body = r.body;
  out.finalPrice = JsonYuan(body, "trxPrice");
  const auto records = body.find("\"records\":[");
  std::int64_t top = -1;
  if (records != std::string_view::npos) {
    const std::string_view list = body.substr(records);
    const auto close = list.find(']');
    top = JsonYuan(list.substr(0, close), "price");
  }
  out.current = top >= 1 ? top : out.finalPrice;
  if (out.current < 1 || records == std::string_view::npos) {
    out.error = "回答中没有当前价";
    return out;
  }
  const auto buyer = body.find("\"trxBuyerName\":");
  out.ended = buyer != std::string_view::npos && body.compare(buyer + 15, 4, "null") != 0;
  if (out.ended && out.finalPrice < 1) out.finalPrice = out.current;
  out.ok = true;
  return out;
}

BidAnswerRead ReadBidAnswer(const platform::http::Response& r) {
  BidAnswerRead out;
  out.error = AnswerProblem(r);
  if (out.error.empty()) {
    out.success = IsBidSuccess(r.body);
    out.code = out.success ? 0 : ReadResultCode(r.body);
    if (out.success || out.code != 0) return out;
    out.error = "回答中没有出价结果";
  }
  out.failed = true;
  // Only a connection never made surely kept the bid from the site.
  out.mayBeTaken = !r.unreachable;
  return out;
}

namespace {

struct CodeWords {
  std::int32_t code;
  const char* manual;
  const char* snipe;  // nullptr: "出价失败(%d)" with the code
};

constexpr CodeWords kCodes[] = {
    {400, "请您输入参拍价格(正整数)", nullptr},
    {403, "未登录京东", "出价失败(未登录)"},
    {450, "拍卖已结束", "出价失败(已结束)"},
    {452, "拍卖未开始", "出价失败(未开始)"},
    {453, "您已是当前最高价", "出价失败(您是最高价)"},
    {457, "您暂无拍卖资格", "出价失败(无拍卖资格)"},
    {460, "出价未超目前最高价", nullptr},  // two readings, see SnipeStateText
    {461, "加价不得高于最高加价", "出价失败(不得高于最高加价)"},
    {462, "出价不能超过京东价", "出价失败(不能超过京东价)"},
    {463, "参拍价格(正整数)错误", nullptr},
    {468, "出价太快,4秒内不可连续出价", "出价失败(4秒内不可连续出价)"},
    {4201, "同时在拍商品超过5个", "出价失败(同时在拍商品已超5个)"},
    {4203, "在拍或未支付的商品总数不得超过5个", "出价失败(在拍或未支付的商品总数不得超过5个)"},
};

const CodeWords* FindCode(std::int32_t code) {
  auto it = std::find_if(std::begin(kCodes), std::end(kCodes),
                         [code](const CodeWords& c) { return c.code == code; });
  return it == std::end(kCodes) ? nullptr : it;
}

}  // namespace

std::int32_t ReadCurrentPrice(std::string_view records) {
  std::string_view w = records;
  CutAfter(w, "price", 7);
  return std::max<std::int32_t>(ReadNumber(w, "."), 1);
}

bool IsBidSuccess(std::string_view answer) {
  std::size_t at = answer.find("success");
  return at != std::string_view::npos && at > 0;
}

std::int32_t ReadResultCode(std::string_view answer) {
  std::string_view w = answer;
  CutAfter(w, "code", 7);
  return ReadNumber(w, "\"");
}

std::int64_t BidAmount(std::int64_t current, std::int64_t increment, std::int64_t ceiling) {
  std::int64_t amount = current + increment;
  return amount > ceiling ? ceiling : amount;
}

std::string ManualBidMessage(std::int32_t code) {
  if (const CodeWords* c = FindCode(code)) return c->manual;
  return "拍卖失败,请直接在浏览器中操作，查看错误原因。\r\n并失败原因及反馈代码告诉作者，以完善软件。\r\n"
         "反馈代码：" +
         std::to_string(code);
}

std::string SnipeStateText(std::int32_t code, std::int64_t current, std::int64_t ceiling,
                           std::int64_t amount) {
  if (code == kCodeNotAboveCurrent) {
    if (current < ceiling) return "出价失败(同时有人出价更高," + std::to_string(amount) + "元)";
    return "出价失败(已超最高价)";
  }
  const CodeWords* c = FindCode(code);
  if (c && c->snipe) return c->snipe;
  return "出价失败(" + std::to_string(code) + ")";
}

int ElapsedMs(int second1, int millisecond1, int second2, int millisecond2) {
  int ms = (second2 - second1 + (second1 > second2 ? 60 : 0)) * 1000 - millisecond1 + millisecond2;
  // Within one second the two readings can also wrap: 10.900 -> 10.100 is
  // 59.2 s, not -0.8 s.
  ms %= 60000;
  return ms < 0 ? ms + 60000 : ms;
}

}  // namespace gavelhawk::site
