// The snipe engine on simulated time: a clock the test moves and a site
// that answers at once, so every moment below is exact whatever the
// machine's speed.
#include "gavelhawk/snipe/engine.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <set>

#include "gavelhawk/site/detail.h"
#include "site/paths.h"

namespace snipetest {
namespace {

using namespace gavelhawk::snipe;
using std::chrono::milliseconds;

constexpr std::int64_t kSite0 = 1386999990000;    // site ms at simulated 0
constexpr auto kWait = std::chrono::seconds(20);  // only a hung engine runs into this

class FakeClock : public EngineClock {
 public:
  MonoTime Now() override {
    std::lock_guard lk(mu_);
    return now_;
  }
  void WaitUntil(std::unique_lock<std::mutex>& lk, std::condition_variable& cv, MonoTime until,
                 const std::function<bool()>& wake) override {
    {
      std::lock_guard g(mu_);
      waiters_.insert({&cv, lk.mutex()});
    }
    cv.wait(lk, [&] { return wake() || Now() >= until; });
  }
  // Moves time to `ms` after the start and wakes every wait.
  void AdvanceTo(std::int64_t ms) {
    std::set<std::pair<std::condition_variable*, std::mutex*>> waiters;
    {
      std::lock_guard g(mu_);
      now_ = MonoTime(milliseconds(ms));
      waiters = waiters_;
    }
    for (auto [cv, mu] : waiters) {
      { std::lock_guard g(*mu); }
      cv->notify_all();
    }
  }
  std::int64_t Ms() { return std::chrono::duration_cast<milliseconds>(Now().time_since_epoch()).count(); }

 private:
  std::mutex mu_;
  MonoTime now_{};
  std::set<std::pair<std::condition_variable*, std::mutex*>> waiters_;
};

// The site: a clock on simulated time, bid records and bids.
struct FakeSite {
  struct Request {
    std::string path;
    int connection = 0;
    std::int64_t at = 0;  // simulated ms
  };
  struct Lot {
    std::int64_t current = 10;
    std::int64_t endMs = 0;  // site ms
    std::string buyer = "alice";
    std::string records;  // a fixed answer instead of the real one
    int bidCode = 200;
  };
  std::shared_ptr<FakeClock> clock;
  std::mutex mu;
  std::condition_variable cv;
  std::vector<Request> log;
  std::map<std::int32_t, Lot> lots;
  std::set<int> closed;  // connections the site has closed
  int connections = 0;

  std::int64_t SiteNow() { return kSite0 + clock->Ms(); }

  platform::http::Response Answer(const std::string& url, int connection) {
    std::lock_guard lk(mu);
    const std::string path = url.substr(url.find('/', 8));
    log.push_back({path, connection, clock->Ms()});
    cv.notify_all();
    closed.erase(connection);
    platform::http::Response r;
    r.ok = true;
    r.status = 200;
    const auto deal = static_cast<std::int32_t>(std::atoi(path.c_str() + path.find('=') + 1));
    Lot& lot = lots[deal];
    if (path.rfind("/detail/", 0) == 0) {
      r.body = "<script>var nowMil=" + std::to_string(SiteNow()) + ";</script>";
    } else if (path.rfind("/json/paimai/bid_records", 0) == 0) {
      const bool over = SiteNow() >= lot.endMs;
      r.body = !lot.records.empty()
                   ? lot.records
                   : "{\"trxBuyerName\":" + (over ? "\"" + lot.buyer + "\"" : std::string("null")) +
                         ",\"trxPrice\":" + std::to_string(lot.current) +
                         ".00,\"records\":[{\"price\":" + std::to_string(lot.current) +
                         ".00,\"userNickName\":\"" + lot.buyer + "\"}]}";
    } else {
      const std::int64_t price = std::atoll(path.c_str() + path.find("price=") + 6);
      if (lot.bidCode == 200) {
        lot.current = price;
        lot.buyer = "me";
        r.body = "{\"result\":\"success\",\"code\":\"200\"}";
      } else {
        r.body = "{\"code\":\"" + std::to_string(lot.bidCode) + "\",\"message\":\"x\"}";
      }
    }
    return r;
  }

  // Waits (in real time) until `n` requests matched `prefix`.
  bool WaitFor(const std::string& prefix, std::size_t n) {
    std::unique_lock lk(mu);
    return cv.wait_for(lk, kWait, [&] { return CountLocked(prefix) >= n; });
  }
  std::size_t CountLocked(const std::string& prefix) const {
    std::size_t n = 0;
    for (const Request& r : log) n += r.path.rfind(prefix, 0) == 0;
    return n;
  }
  std::vector<Request> Matching(const std::string& prefix) {
    std::lock_guard lk(mu);
    std::vector<Request> out;
    for (const Request& r : log)
      if (r.path.rfind(prefix, 0) == 0) out.push_back(r);
    return out;
  }
  std::vector<Request> RecordsOf(std::int64_t deal) {
    std::vector<Request> out = Matching(::site::BidRecordsPath(deal));
    std::erase_if(out, [&](const Request& r) { return r.path != ::site::BidRecordsPath(deal); });
    return out;
  }
};

class SiteConnection : public platform::http::Transport {
 public:
  SiteConnection(FakeSite& site, int id) : site_(site), id_(id) {}
  platform::http::Response Get(const std::string& url) override { return site_.Answer(url, id_); }
  bool ConnectionAlive() override {
    std::lock_guard lk(site_.mu);
    return !site_.closed.count(id_);
  }

 private:
  FakeSite& site_;
  int id_;
};

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    site.clock = clock;
    EngineConfig config;
    config.siteUrl = "http://site";
    config.clock = clock;
    config.transport = std::make_unique<SiteConnection>(site, 0);
    config.newTransport = [this] {
      std::lock_guard lk(site.mu);
      return std::make_unique<SiteConnection>(site, ++site.connections);
    };
    EngineEvents events;
    events.row = [this](const RowEvent& e) {
      std::lock_guard lk(mu);
      rowEvents.push_back(e);
      cv.notify_all();
    };
    events.bidSending = [this](std::uint64_t key, std::int32_t) {
      std::lock_guard lk(mu);
      marked.push_back({key, clock->Ms()});
      cv.notify_all();
    };
    events.open = [this](const OpenEvent& e) {
      std::lock_guard lk(mu);
      opens.push_back(e);
      cv.notify_all();
    };
    engine = std::make_unique<Engine>(std::move(config), std::move(events));
  }
  void TearDown() override { engine->Stop(); }

  // A row closing `closesInMs` after simulated 0; its bid is due 3000 ms
  // before that (preparation 1000 ms).
  void ArmRow(std::uint64_t key, std::int64_t closesInMs, std::int32_t ceiling = 50, std::int32_t group = 0) {
    {
      std::lock_guard lk(site.mu);
      site.lots[static_cast<std::int32_t>(key)].endMs = kSite0 + closesInMs;
    }
    engine->Arm(key, Setup(key, closesInMs, ceiling, group));
  }
  // The row as the user set it up: increment 1, preparation 1000 ms.
  static SnipeItem Setup(std::uint64_t key, std::int64_t closesInMs, std::int32_t ceiling,
                         std::int32_t group) {
    SnipeItem row;
    row.nDealId = static_cast<std::int32_t>(key);
    row.nMaxPrice = ceiling;
    row.nIncrement = 1;
    row.nPrepTime = 1000;
    row.nEndTime = kSite0 + closesInMs;
    row.nGroup = group;
    return row;
  }
  bool WaitEvents(RowEvent::Kind kind, std::size_t n) {
    std::unique_lock lk(mu);
    return cv.wait_for(lk, kWait, [&] { return Events(kind).size() >= n; });
  }
  bool WaitMarked(std::size_t n) {
    std::unique_lock lk(mu);
    return cv.wait_for(lk, kWait, [&] { return marked.size() >= n; });
  }
  // Under mu.
  std::vector<RowEvent> Events(RowEvent::Kind kind) const {
    std::vector<RowEvent> out;
    for (const RowEvent& e : rowEvents)
      if (e.kind == kind) out.push_back(e);
    return out;
  }
  std::vector<RowEvent> EventsOf(RowEvent::Kind kind) {
    std::lock_guard lk(mu);
    return Events(kind);
  }
  // The first event of `key` that is one of `kinds`.
  std::optional<RowEvent> WaitRow(std::uint64_t key, std::set<RowEvent::Kind> kinds) {
    std::unique_lock lk(mu);
    std::optional<RowEvent> found;
    cv.wait_for(lk, kWait, [&] {
      for (const RowEvent& e : rowEvents)
        if (e.key == key && kinds.count(e.kind)) found = e;
      return found.has_value();
    });
    return found;
  }
  static std::string Records(std::int64_t deal) { return ::site::BidRecordsPath(deal); }

  std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
  FakeSite site;
  std::unique_ptr<Engine> engine;
  std::mutex mu;
  std::condition_variable cv;
  std::vector<RowEvent> rowEvents;
  std::vector<std::pair<std::uint64_t, std::int64_t>> marked;
  std::vector<OpenEvent> opens;
};

TEST_F(EngineTest, BidsDueTogetherLeaveTogetherEachOnItsOwnWarmConnection) {
  // Ten rows closing at one instant, and the opening snipe due at the same
  // moment as their bids.
  for (std::uint64_t key = 1; key <= 10; ++key) ArmRow(key, 60000);
  ASSERT_TRUE(WaitEvents(RowEvent::Kind::Armed, 10));
  for (const RowEvent& e : EventsOf(RowEvent::Kind::Armed)) EXPECT_EQ(kSite0 + 57000, e.dueSiteMs);
  engine->ArmOpen("http://site/json/paimai/bid?dealId=99&price=5", MonoTime(milliseconds(57000)));

  // Warm-ups 40 s ahead, each on its own connection, telling the price.
  clock->AdvanceTo(17000);
  ASSERT_TRUE(WaitEvents(RowEvent::Kind::Price, 10));
  EXPECT_EQ(10, EventsOf(RowEvent::Kind::Price)[0].currentPrice);
  // One connection was closed by the site meanwhile: opened again before
  // the bid, not at it.
  site.WaitFor("/detail/", 6);
  {
    std::lock_guard lk(site.mu);
    site.closed.insert(3);
  }
  clock->AdvanceTo(55500);
  ASSERT_TRUE(site.WaitFor("/json/paimai/bid_records", 11));
  ASSERT_TRUE(WaitMarked(10));
  clock->AdvanceTo(57000);
  ASSERT_TRUE(WaitEvents(RowEvent::Kind::Bid, 10));
  {
    std::unique_lock lk(mu);
    ASSERT_TRUE(cv.wait_for(lk, kWait, [&] { return opens.size() == 1; }));
  }

  std::set<int> connections;
  for (std::uint64_t key = 1; key <= 10; ++key) {
    const auto reads = site.RecordsOf(key);
    ASSERT_EQ(key == 3 ? 3u : 2u, reads.size()) << key;
    EXPECT_EQ(17000, reads.front().at) << key;
    EXPECT_EQ(57000, reads.back().at) << key;  // exactly at its due moment
    EXPECT_EQ(reads.front().connection, reads.back().connection) << key;
    connections.insert(reads.back().connection);
  }
  EXPECT_EQ(10u, connections.size());
  const auto bids = site.Matching("/json/paimai/bid?");
  ASSERT_EQ(11u, bids.size());
  for (const auto& b : bids) EXPECT_EQ(57000, b.at) << b.path;
  for (const auto& m : marked) EXPECT_EQ(55500, m.second);
  for (const RowEvent& e : EventsOf(RowEvent::Kind::Bid)) {
    EXPECT_TRUE(e.success);
    EXPECT_EQ(11, e.price);
    EXPECT_EQ(10, e.currentPrice);
  }
}

TEST_F(EngineTest, ADeleteJustBeforeADueBidTouchesNoOtherRow) {
  for (std::uint64_t key = 1; key <= 3; ++key) ArmRow(key, 10000);
  ASSERT_TRUE(WaitEvents(RowEvent::Kind::Armed, 3));
  ASSERT_TRUE(site.WaitFor("/json/paimai/bid_records", 3));  // warm-ups at once
  clock->AdvanceTo(6700);
  ASSERT_TRUE(WaitMarked(3));
  const std::size_t clockReads = site.Matching("/detail/").size();
  engine->Remove(2);
  clock->AdvanceTo(7000);
  ASSERT_TRUE(WaitEvents(RowEvent::Kind::Bid, 2));
  for (std::uint64_t key : {1, 3}) EXPECT_EQ(7000, site.RecordsOf(key).back().at) << key;
  EXPECT_EQ(1u, site.RecordsOf(2).size());  // only its warm-up
  EXPECT_EQ(2u, site.Matching("/json/paimai/bid?").size());
  EXPECT_EQ(clockReads, site.Matching("/detail/").size());  // no clock read again
}

TEST_F(EngineTest, NoSoundPriceNoBidAndNeverAboveTheCeiling) {
  struct Case {
    const char* records;
    std::int32_t ceiling;
    const char* state;
    std::int64_t bid;  // 0: none
  };
  const std::vector<Case> cases = {
      {"{\"trxBuyerName\":null,\"records\":[]}", 50, "网络错误：回答中没有当前价", 0},
      {"<html>busy</html>", 50, "网络错误：回答不是站点的 JSON", 0},
      {"{\"trxBuyerName\":null,\"trxPrice\":500.00,\"records\":[{\"price\":500.00}]}", 120, "出价成功", 120},
      {"{\"trxBuyerName\":null,\"trxPrice\":30.00,\"records\":[]}", 120, "出价成功", 31},
  };
  std::uint64_t key = 0;
  for (const Case& c : cases) {
    ++key;
    {
      std::lock_guard lk(site.mu);
      site.lots[static_cast<std::int32_t>(key)].records = c.records;
    }
    ArmRow(key, 2500, c.ceiling);  // due at once
    ASSERT_TRUE(WaitEvents(RowEvent::Kind::Bid, key)) << c.records;
    const RowEvent e = EventsOf(RowEvent::Kind::Bid).back();
    EXPECT_EQ(c.state, e.state) << c.records;
    const auto bids = site.Matching("/json/paimai/bid?dealId=" + std::to_string(key) + "&");
    if (c.bid == 0) {
      EXPECT_TRUE(bids.empty()) << c.records;
    } else {
      ASSERT_EQ(1u, bids.size()) << c.records;
      EXPECT_EQ(::site::BidPath(key, c.bid), bids[0].path);
    }
  }
}

TEST_F(EngineTest, TheOutcomeWaitsForTheEndAndEveryRowGetsItsFinalPrice) {
  {
    std::lock_guard lk(site.mu);
    site.lots[2].bidCode = 460;  // refused
  }
  ArmRow(1, 2500);
  ArmRow(2, 2500);
  ASSERT_TRUE(WaitEvents(RowEvent::Kind::Bid, 2));
  // The site's closing lags: the records show no buyer until 2 s after it.
  {
    std::lock_guard lk(site.mu);
    for (auto& [id, lot] : site.lots) lot.endMs = kSite0 + 4500;
  }
  clock->AdvanceTo(3500);  // first outcome read: not over yet
  ASSERT_TRUE(site.WaitFor(Records(1), 2));
  ASSERT_TRUE(site.WaitFor(Records(2), 2));
  EXPECT_TRUE(EventsOf(RowEvent::Kind::Result).empty());
  clock->AdvanceTo(4500);
  ASSERT_TRUE(WaitEvents(RowEvent::Kind::Result, 2));
  std::map<std::uint64_t, RowEvent> results;
  for (const RowEvent& e : EventsOf(RowEvent::Kind::Result)) results[e.key] = e;
  EXPECT_EQ(Outcome::Won, results[1].outcome);
  EXPECT_EQ("已得标", results[1].state);
  EXPECT_EQ(11, results[1].finalPrice);
  EXPECT_EQ(Outcome::Failed, results[2].outcome);
  EXPECT_EQ("出价失败(同时有人出价更高,11元)", results[2].state);
  EXPECT_EQ(10, results[2].finalPrice);
}

TEST_F(EngineTest, ARestoredRowWhoseBidWentOutOnlyReadsItsOutcome) {
  {
    std::lock_guard lk(site.mu);
    site.lots[7] = {31, kSite0 + 5000, "me", "", 200};
  }
  engine->AwaitOutcome(7, Setup(7, 5000, 50, 0), 31);
  ASSERT_TRUE(site.WaitFor("/detail/", 3));
  clock->AdvanceTo(6000);
  ASSERT_TRUE(WaitEvents(RowEvent::Kind::Result, 1));
  EXPECT_EQ(Outcome::Won, EventsOf(RowEvent::Kind::Result)[0].outcome);
  EXPECT_TRUE(site.Matching("/json/paimai/bid?").empty());
  EXPECT_TRUE(EventsOf(RowEvent::Kind::Armed).empty());
}

TEST_F(EngineTest, RowsOfOneGroupBuyOne) {
  // Per case, on one timeline from `base`: row A closes at base+5000 (bid at
  // base+2000, outcome read at base+6000), row B of the same group closes
  // at base+closesB (bid due 3000 ms before).
  struct Case {
    const char* name;
    bool restoredA;  // A's bid went out before a restart
    bool aLoses;     // someone outbids A after its bid
    std::int64_t closesB;
    const char* skipB;  // nullptr: B bids
    const char* stateB;
  };
  const std::vector<Case> cases = {
      {"won stops the group", false, false, 10000, kSkipGroupWon, "同组已得标"},
      {"taken and open holds back", false, false, 8500, kSkipGroupPending, "同组待定，未出价"},
      {"lost lets it go on", false, true, 10000, nullptr, "出价成功"},
      {"restored won stops the group", true, false, 10000, kSkipGroupWon, "同组已得标"},
  };
  std::int64_t base = 0;
  std::int32_t group = 0;
  for (const Case& c : cases) {
    base += 20000;
    ++group;
    const std::uint64_t a = 10 * group + 1, b = a + 1;
    clock->AdvanceTo(base);
    if (c.restoredA) {
      {
        std::lock_guard lk(site.mu);
        site.lots[static_cast<std::int32_t>(a)] = {11, kSite0 + base + 5000, "me", "", 200};
      }
      engine->AwaitOutcome(a, Setup(a, base + 5000, 50, group), 11);
    } else {
      ArmRow(a, base + 5000, 50, group);
    }
    ArmRow(b, base + c.closesB, 50, group);
    ASSERT_TRUE(WaitRow(b, {RowEvent::Kind::Armed})) << c.name;
    // B's warm-up read is over before the clock moves on: on a busy machine
    // its thread may come late, and its read would bear a later moment.
    ASSERT_TRUE(WaitRow(b, {RowEvent::Kind::Price})) << c.name;
    if (!c.restoredA) {
      clock->AdvanceTo(base + 2000);
      const auto bid = WaitRow(a, {RowEvent::Kind::Bid});
      ASSERT_TRUE(bid && bid->success) << c.name;
    }
    if (c.aLoses) {
      std::lock_guard lk(site.mu);
      site.lots[static_cast<std::int32_t>(a)].current = 20;
      site.lots[static_cast<std::int32_t>(a)].buyer = "bob";
    }
    const std::int64_t dueB = base + c.closesB - 3000;
    if (dueB > base + 6000) {
      clock->AdvanceTo(base + 6000);
      ASSERT_TRUE(WaitRow(a, {RowEvent::Kind::Result})) << c.name;
    }
    clock->AdvanceTo(dueB);
    const auto e = WaitRow(b, {RowEvent::Kind::Bid, RowEvent::Kind::Skipped});
    ASSERT_TRUE(e) << c.name;
    EXPECT_EQ(c.stateB, e->state) << c.name;
    const auto bidsB = site.Matching("/json/paimai/bid?dealId=" + std::to_string(b) + "&");
    if (c.skipB) {
      EXPECT_EQ(RowEvent::Kind::Skipped, e->kind) << c.name;
      EXPECT_EQ(c.skipB, e->skipReason) << c.name;
      EXPECT_TRUE(bidsB.empty()) << c.name;
      // Decided before the records read: nothing at all reached the site.
      for (const auto& r : site.RecordsOf(b)) EXPECT_LT(r.at, dueB) << c.name;
    } else {
      EXPECT_EQ(1u, bidsB.size()) << c.name;
    }
  }
}

TEST_F(EngineTest, AnOpeningSnipeCancelledBeforeItsMomentNeverFires) {
  engine->ArmOpen("http://site/json/paimai/bid?dealId=99&price=5", MonoTime(milliseconds(1000)));
  engine->CancelOpen();
  engine->ArmOpen("http://site/json/paimai/bid?dealId=98&price=5", MonoTime(milliseconds(2000)));
  clock->AdvanceTo(2000);
  {
    std::unique_lock lk(mu);
    ASSERT_TRUE(cv.wait_for(lk, kWait, [&] { return opens.size() == 1; }));
  }
  const auto bids = site.Matching("/json/paimai/bid?");
  ASSERT_EQ(1u, bids.size());
  EXPECT_EQ("/json/paimai/bid?dealId=98&price=5", bids[0].path);
}

}  // namespace
}  // namespace snipetest
