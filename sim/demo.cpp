#include "sim/demo.h"

#include <algorithm>
#include <iterator>

#include "sim/pages.h"

namespace sim::demo {
namespace {

struct Item {
  const char* title;
  std::int64_t listPrice;
  int category;
};

const Item kCatalogue[] = {
    {"Apple iPhone 13 128G 午夜色 国行", 5999, 1000},
    {"华为 HUAWEI Mate 40 Pro 8GB+256GB 亮黑色 5G手机", 6999, 1000},
    {"小米 Redmi K50 12GB+256GB 墨羽", 2699, 1000},
    {"索尼 SONY WH-1000XM4 无线降噪耳机 黑色", 2299, 1000},
    {"佳能 Canon EOS R6 全画幅微单相机 单机身", 15999, 1000},
    {"OPPO Find X5 8GB+256GB 雅白", 4499, 1000},
    {"联想 Lenovo 小新Pro14 笔记本 i5 16G 512G", 5499, 2000},
    {"Apple MacBook Air 13.3英寸 M1 8G 256G 深空灰", 7999, 2000},
    {"戴尔 DELL U2720Q 27英寸 4K 显示器", 3999, 2000},
    {"罗技 Logitech MX Master 3 无线鼠标", 699, 2000},
    {"惠普 HP LaserJet Pro M15w 黑白激光打印机", 899, 2000},
    {"海尔 Haier 520升 对开门冰箱 BCD-520WDPD", 3999, 4000},
    {"美的 Midea 1.5匹 变频冷暖空调挂机", 2799, 4000},
    {"戴森 Dyson V10 Digital Slim 无绳吸尘器", 3990, 4000},
    {"九阳 Joyoung 破壁料理机 L18-Y915S", 999, 4000},
    {"西门子 SIEMENS 10公斤 滚筒洗衣机", 4299, 4000},
    {"李宁 LI-NING 超轻十九代 男款跑步鞋 42码", 599, 3000},
    {"Keep 智能动感单车 C1 Lite", 1999, 3000},
    {"迪卡侬 DECATHLON 山地自行车 ST100", 1299, 3000},
    {"华为 HUAWEI WATCH GT 3 46mm 运动手表", 1588, 3000},
    {"新秀丽 Samsonite 20英寸 登机拉杆箱 黑色", 1680, 6000},
    {"卡西欧 CASIO G-SHOCK GA-2100 男表", 899, 6000},
    {"天梭 TISSOT 力洛克系列 机械男表", 4950, 6000},
    {"Coach 蔻驰 女士单肩包 棕色", 2350, 6000},
    {"乐高 LEGO 机械组 保时捷911 42096", 1299, 7000},
    {"飞利浦 PHILIPS 电动牙刷 HX6730", 499, 7000},
    {"任天堂 Nintendo Switch 国行 续航增强版 红蓝", 2099, 7000},
    {"科沃斯 ECOVACS 地宝 T8 扫地机器人", 2999, 0},
};

// Short conditions (at most 8 GBK bytes) pass the search's filter; the long
// ones do not.
const char* const kShortConditions[] = {"全新", "九成新", "二手", "包装破损", "展示机"};
const char* const kLongConditions[] = {"九成新 外包装破损", "二手 配件不全 有划痕", "展示机 无原包装"};

const std::int64_t kLowerOffsets[] = {1, 1, 5, 10};

const char* const kOtherBidders[] = {"jd_8a7c2f", "小明爱拍", "bidder_lee", "zhangsan88",
                                     "夺宝达人",  "wang_yi",  "秋天的风",   "jd_135x9"};

std::int64_t Uniform(std::mt19937& rng, std::int64_t lo, std::int64_t hi) {
  return std::uniform_int_distribution<std::int64_t>(lo, hi)(rng);
}

template <typename T, std::size_t N>
const T& Pick(std::mt19937& rng, const T (&items)[N]) {
  return items[static_cast<std::size_t>(Uniform(rng, 0, static_cast<std::int64_t>(N) - 1))];
}

Auction Lot(std::int64_t id, const Item& item, std::mt19937& rng) {
  Auction a;
  a.id = id;
  a.title = item.title;
  a.listPrice = item.listPrice;
  a.category = item.category;
  a.startPrice = 1;
  a.lowerOffset = Pick(rng, kLowerOffsets);
  a.higherOffset = item.listPrice >= 3000 ? 1000 : 500;
  a.condition = Uniform(rng, 0, 3) == 0 ? Pick(rng, kLongConditions) : Pick(rng, kShortConditions);
  return a;
}

// Bids by the other bidders rising to `target`, the last one at `lastAt`.
void AddBids(Auction& a, std::int64_t target, std::int64_t lastAt, std::mt19937& rng) {
  int n = static_cast<int>(Uniform(rng, 1, 5));
  std::int64_t price = std::max<std::int64_t>(a.startPrice, target / (n + 1));
  std::string previous;
  for (int i = 0; i < n; ++i) {
    std::string buyer;
    do {
      buyer = Pick(rng, kOtherBidders);
    } while (buyer == previous);
    std::int64_t p = i == n - 1 ? std::max(target, price) : price;
    a.bids.push_back(Bid{buyer, p, lastAt - (n - 1 - i) * Uniform(rng, 20000, 300000)});
    previous = buyer;
    price = p + std::max(a.lowerOffset, (target - p) / std::max(1, n - i));
  }
}

}  // namespace

Auction RunningLot(std::int64_t id, std::int64_t nowMs, std::int64_t closesInMs, std::mt19937& rng) {
  Auction a = Lot(id, Pick(rng, kCatalogue), rng);
  a.startMs = nowMs - Uniform(rng, 3600000, 4 * 3600000);
  a.endMs = nowMs + closesInMs;
  // A third end far below half the list price: the search finds those.
  std::int64_t permille = Uniform(rng, 0, 2) == 0 ? Uniform(rng, 50, 300) : Uniform(rng, 350, 850);
  if (Uniform(rng, 0, 5) > 0)
    AddBids(a, a.listPrice * permille / 1000, nowMs - Uniform(rng, 5000, 600000), rng);
  return a;
}

std::vector<Auction> Scenario(std::int64_t nowMs, std::mt19937& rng) {
  std::vector<Auction> out;
  constexpr std::int64_t kDay = 86400000;
  std::int64_t id = kFirstClosedId;
  for (int made = 0; made < 200; ++id) {
    if (id % 23 == 0) continue;  // withdrawn lots: the site has no page for them
    Auction a = Lot(id, Pick(rng, kCatalogue), rng);
    a.endMs = nowMs - 20 * kDay + made * (20 * kDay / 200) + Uniform(rng, 0, 3600000);
    a.endMs = std::min(a.endMs, nowMs - 60000);
    a.startMs = a.endMs - Uniform(rng, 3600000, 3 * 3600000);
    if (Uniform(rng, 0, 6) > 0) {
      // Some sell for under a tenth of the list price.
      std::int64_t permille = Uniform(rng, 0, 9) == 0 ? Uniform(rng, 20, 95) : Uniform(rng, 150, 900);
      AddBids(a, std::max<std::int64_t>(2, a.listPrice * permille / 1000),
              a.endMs - Uniform(rng, 1000, 60000), rng);
    }
    out.push_back(std::move(a));
    ++made;
  }
  // Running lots close between 2 and 30 minutes from now; each category has some.
  // Round robin over the categories, so that each one has running lots.
  std::vector<std::size_t> order;
  for (std::size_t round = 0; order.size() < std::size(kCatalogue); ++round) {
    for (int cat : {1000, 2000, 4000, 3000, 6000, 7000, 0}) {
      std::size_t seen = 0;
      for (std::size_t i = 0; i < std::size(kCatalogue); ++i) {
        if (kCatalogue[i].category != cat) continue;
        if (seen++ == round) order.push_back(i);
      }
    }
  }
  for (int i = 0; i < kRunning; ++i, ++id) {
    std::int64_t closesIn = 120000 + i * (28 * 60000 / (kRunning - 1)) + Uniform(rng, 0, 20000);
    Auction a = Lot(id, kCatalogue[order[static_cast<std::size_t>(i) % order.size()]], rng);
    a.startMs = nowMs - Uniform(rng, 3600000, 4 * 3600000);
    a.endMs = nowMs + std::min<std::int64_t>(closesIn, 30 * 60000);
    a.condition = i % 5 == 2 ? Pick(rng, kLongConditions) : Pick(rng, kShortConditions);
    std::int64_t permille = i % 3 == 0 ? Uniform(rng, 50, 300) : Uniform(rng, 350, 850);
    if (i % 6 != 5) AddBids(a, a.listPrice * permille / 1000, nowMs - Uniform(rng, 5000, 600000), rng);
    out.push_back(std::move(a));
  }
  // One opens in about two minutes.
  Auction soon = Lot(id, kCatalogue[0], rng);
  soon.title = "Apple AirPods Pro 第二代 MagSafe充电盒";
  soon.listPrice = 1899;
  soon.category = 1000;
  soon.condition = "全新";
  soon.startMs = nowMs + 120000;
  soon.endMs = soon.startMs + 40 * 60000;
  out.push_back(std::move(soon));
  return out;
}

std::optional<Bid> OtherBid(const Auction& a, std::int64_t nowMs, std::mt19937& rng) {
  if (pages::StatusAt(a, nowMs) != 0 || nowMs >= a.endMs) return std::nullopt;
  const Bid* top = pages::Highest(a);
  const std::int64_t current = pages::CurrentPrice(a);
  std::int64_t price =
      top ? current + a.lowerOffset * Uniform(rng, 1, 3) : a.startPrice + Uniform(rng, 0, 20);
  price = std::min(price, current + a.higherOffset);
  if (a.listPrice > 0 && price > a.listPrice) return std::nullopt;
  if (top && price < current + std::max<std::int64_t>(a.lowerOffset, 1)) return std::nullopt;
  std::string buyer;
  do {
    buyer = Pick(rng, kOtherBidders);
  } while (top && buyer == top->buyer);
  return Bid{buyer, price, nowMs};
}

}  // namespace sim::demo
