#include "sim/auction_sim.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <map>
#include <random>
#include <thread>

#include "sim/demo.h"
#include "sim/http_server.h"
#include "sim/pages.h"

namespace sim {
namespace {

constexpr std::size_t kLogBodyCap = 4096;
// The log keeps the most recent requests; a long benchmark must not eat memory.
constexpr std::size_t kLogCap = 100000;
constexpr std::int64_t kBidInterval = 4000;
constexpr int kCategories[] = {0, 4000, 1000, 2000, 3000, 6000, 7000};

std::int64_t WallClockMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string PercentDecode(std::string_view s, bool plusIsSpace = true) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size() && HexValue(s[i + 1]) >= 0 && HexValue(s[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(s[i + 1]) * 16 + HexValue(s[i + 2]));
      i += 2;
    } else if (s[i] == '+' && plusIsSpace) {
      out += ' ';
    } else {
      out += s[i];
    }
  }
  return out;
}

// The first value of `name` in a query string; nullopt when absent.
std::optional<std::string> QueryValue(const std::string& query, const std::string& name) {
  std::size_t pos = 0;
  while (pos <= query.size()) {
    std::size_t amp = query.find('&', pos);
    if (amp == std::string::npos) amp = query.size();
    std::string_view part(query.data() + pos, amp - pos);
    std::size_t eq = part.find('=');
    std::string_view key = part.substr(0, eq);
    if (PercentDecode(key) == name) {
      return eq == std::string_view::npos ? std::string() : PercentDecode(part.substr(eq + 1));
    }
    pos = amp + 1;
  }
  return std::nullopt;
}

// Cookie pairs in header order, names and values as sent.
std::vector<std::pair<std::string, std::string>> CookiePairs(const std::string& header) {
  std::vector<std::pair<std::string, std::string>> out;
  std::size_t pos = 0;
  while (pos < header.size()) {
    std::size_t semi = header.find(';', pos);
    if (semi == std::string::npos) semi = header.size();
    std::string part = header.substr(pos, semi - pos);
    std::size_t b = part.find_first_not_of(" \t");
    std::size_t e = part.find_last_not_of(" \t");
    if (b != std::string::npos) {
      part = part.substr(b, e - b + 1);
      std::size_t eq = part.find('=');
      if (eq != std::string::npos) out.emplace_back(part.substr(0, eq), part.substr(eq + 1));
    }
    pos = semi + 1;
  }
  return out;
}

bool AllDigits(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A decimal number with an optional sign and fraction: its sign (-1, 0, 1),
// or nullopt when the text is not a number at all.
std::optional<int> NumberSign(std::string_view s) {
  if (s.empty()) return std::nullopt;
  bool negative = false;
  if (s[0] == '-' || s[0] == '+') {
    negative = s[0] == '-';
    s.remove_prefix(1);
  }
  std::size_t dot = s.find('.');
  std::string_view whole = s.substr(0, dot);
  std::string_view frac = dot == std::string_view::npos ? std::string_view() : s.substr(dot + 1);
  if (whole.empty() && frac.empty()) return std::nullopt;
  if ((!whole.empty() && !AllDigits(whole)) ||
      (dot != std::string_view::npos && !frac.empty() && !AllDigits(frac)))
    return std::nullopt;
  bool zero = whole.find_first_not_of('0') == std::string_view::npos &&
              frac.find_first_not_of('0') == std::string_view::npos;
  if (zero) return 0;
  return negative ? -1 : 1;
}

std::int64_t ParseWhole(std::string_view digits) {
  std::int64_t v = 0;
  for (char c : digits) {
    if (v > (INT64_MAX - 9) / 10) return INT64_MAX;  // far above any list price
    v = v * 10 + (c - '0');
  }
  return v;
}

bool StartsWith(const std::string& s, const std::string& prefix) {
  return s.compare(0, prefix.size(), prefix) == 0;
}

// "/paimai/0-0-CAT-0-0-0-1-0-0-K-PAGE.html": the eleven numbers, or empty.
std::vector<long long> ListingNumbers(const std::string& path) {
  const std::string head = "/paimai/", tail = ".html";
  if (!StartsWith(path, head) || path.size() < head.size() + tail.size() ||
      path.compare(path.size() - tail.size(), tail.size(), tail) != 0)
    return {};
  std::string mid = path.substr(head.size(), path.size() - head.size() - tail.size());
  std::vector<long long> nums;
  std::size_t pos = 0;
  while (pos <= mid.size()) {
    std::size_t dash = mid.find('-', pos);
    if (dash == std::string::npos) dash = mid.size();
    std::string_view part(mid.data() + pos, dash - pos);
    if (!AllDigits(part) || part.size() > 9) return {};
    nums.push_back(ParseWhole(part));
    pos = dash + 1;
  }
  if (nums.size() != 11) return {};
  for (int i : {0, 1, 3, 4, 5, 7, 8})
    if (nums[static_cast<std::size_t>(i)] != 0) return {};
  if (nums[6] != 1 || nums[9] > 1) return {};
  return nums;
}

}  // namespace

struct Server::Impl {
  mutable std::mutex mu;
  std::map<std::int64_t, Auction> auctions;
  std::int64_t clockBase = WallClockMs();
  std::chrono::steady_clock::time_point clockAnchor = std::chrono::steady_clock::now();
  bool clockRunning = true;
  int listingPageSize = 16;
  std::optional<std::pair<std::string, std::string>> login;
  std::deque<int> forced;
  std::chrono::milliseconds latency{0};
  std::chrono::milliseconds jitter{0};
  std::vector<Fault> faults;
  std::optional<std::string> updatePage;
  std::deque<LoggedRequest> log;
  mutable std::condition_variable logCv;
  std::map<std::string, std::int64_t> lastAccepted;  // bidder -> site ms
  std::mt19937 rng{20131203};

  // Other bidders of the demo.
  bool demo = false;
  bool demoStop = false;
  std::condition_variable demoCv;
  std::thread demoThread;
  std::int64_t nextDemoId = 0;

  std::unique_ptr<detail::HttpServer> http;

  std::int64_t NowLocked() const { return AtLocked(std::chrono::steady_clock::now()); }
  // The site clock at `t`; never before the time it was last set to.
  std::int64_t AtLocked(std::chrono::steady_clock::time_point t) const {
    if (!clockRunning || t <= clockAnchor) return clockBase;
    return clockBase + std::chrono::duration_cast<std::chrono::milliseconds>(t - clockAnchor).count();
  }

  std::string BaseUrlLocked() const { return "http://127.0.0.1:" + std::to_string(http ? http->port() : 0); }

  detail::HttpReply Handle(const detail::HttpRequest& req);
  detail::HttpReply Route(const detail::HttpRequest& req, std::int64_t now);
  int JudgeBid(const detail::HttpRequest& req, std::int64_t now);
  std::optional<Fault> TakeFault(const std::string& target);
  void DemoLoop();
  void DemoStep();
  void AddDemoRunning(std::int64_t id, std::int64_t now, std::int64_t closesInMs);
  void StopDemo();
};

std::optional<Fault> Server::Impl::TakeFault(const std::string& target) {
  for (auto it = faults.begin(); it != faults.end(); ++it) {
    if (it->kind == FaultKind::None || it->remaining == 0 || !StartsWith(target, it->pathPrefix)) continue;
    Fault f = *it;
    if (it->remaining > 0 && --it->remaining == 0) faults.erase(it);
    return f;
  }
  return std::nullopt;
}

detail::HttpReply Server::Impl::Handle(const detail::HttpRequest& req) {
  std::lock_guard lk(mu);
  LoggedRequest entry;
  entry.method = req.method;
  entry.target = req.target;
  entry.path = req.path;
  entry.query = req.query;
  entry.cookie = req.Header("Cookie", "; ");
  entry.userAgent = req.Header("User-Agent");
  // The site stamps a request with the moment it reached it.
  entry.arrival =
      req.arrival == std::chrono::steady_clock::time_point{} ? std::chrono::steady_clock::now() : req.arrival;
  entry.siteMs = AtLocked(entry.arrival);
  entry.connection = req.connection;

  detail::HttpReply reply;
  if (req.method != "GET") {
    reply.status = 405;
    reply.body = pages::NotFoundPage();
  } else if (auto fault = TakeFault(req.target)) {
    // A faulted request never reaches the site's logic (nothing is recorded),
    // except a slow, trickling or skewed one, which only bends the answer.
    switch (fault->kind) {
      case FaultKind::Refuse:
        reply.kind = detail::ReplyKind::Refuse;
        reply.status = 0;
        break;
      case FaultKind::Stall:
        reply.kind = detail::ReplyKind::Stall;
        reply.stallMs = fault->stallMs;
        reply.body = pages::NotFoundPage() + std::string(4096, ' ');
        break;
      case FaultKind::Garbage: {
        std::uniform_int_distribution<int> byte(0, 255);
        reply.body.resize(3000);
        for (auto& c : reply.body) c = static_cast<char>(byte(rng));
        break;
      }
      case FaultKind::Huge:
        reply.kind = detail::ReplyKind::Huge;
        reply.hugeBytes = fault->hugeBytes;
        break;
      case FaultKind::Status500:
        reply.status = 500;
        reply.body = pages::ServerErrorPage();
        break;
      case FaultKind::Empty:
        break;
      case FaultKind::Trickle:
        reply = Route(req, entry.siteMs);
        reply.kind = detail::ReplyKind::Trickle;
        reply.trickleEveryMs = std::max(1, fault->trickleEveryMs);
        break;
      case FaultKind::ClockSkew:
        reply = Route(req, entry.siteMs + fault->skewMs);
        break;
      case FaultKind::Slow:
        reply = Route(req, entry.siteMs);
        reply.delayMs = std::max(0, fault->delayMs);
        break;
      case FaultKind::Redirect:
        reply.status = 302;
        reply.location = fault->location.empty() ? req.target : fault->location;
        reply.body = pages::NotFoundPage();
        break;
      case FaultKind::Silent:
        reply.kind = detail::ReplyKind::Silent;
        reply.status = 0;
        reply.stallMs = fault->stallMs;
        break;
      case FaultKind::DropAfterTaken:
        reply = Route(req, entry.siteMs);
        reply.kind = detail::ReplyKind::Refuse;
        reply.status = 0;
        reply.body = "(taken, connection dropped) " + reply.body;
        break;
      case FaultKind::None:
        break;
    }
  } else {
    reply = Route(req, entry.siteMs);
  }

  entry.status = reply.status;
  if (reply.kind == detail::ReplyKind::Huge) {
    entry.body = "(" + std::to_string(reply.hugeBytes) + " bytes)";
  } else {
    entry.body = reply.body.substr(0, kLogBodyCap);
  }
  log.push_back(std::move(entry));
  if (log.size() > kLogCap) log.pop_front();
  logCv.notify_all();
  return reply;
}

detail::HttpReply Server::Impl::Route(const detail::HttpRequest& req, std::int64_t now) {
  detail::HttpReply reply;
  const std::string& path = req.path;
  if (StartsWith(path, "/detail/")) {
    std::string idText = path.substr(8);
    std::int64_t id = AllDigits(idText) && idText.size() <= 12 ? ParseWhole(idText) : -1;
    auto it = auctions.find(id);
    if (it != auctions.end()) {
      reply.body = pages::DetailPage(it->second, now);
    } else if (id == pages::kClockDealId) {
      reply.body = pages::DetailPage(pages::ClockAuction(now), now);
    } else {
      reply.status = 404;
      reply.body = pages::NotFoundPage();
    }
    return reply;
  }
  if (path == "/json/paimai/bid_records") {
    reply.contentType = "application/json; charset=utf-8";
    auto idText = QueryValue(req.query, "dealId");
    const Auction* a = nullptr;
    if (idText && AllDigits(*idText) && idText->size() <= 12) {
      auto it = auctions.find(ParseWhole(*idText));
      if (it != auctions.end()) a = &it->second;
    }
    reply.body = pages::BidRecords(a, now);
    return reply;
  }
  if (path == "/json/paimai/bid") {
    reply.contentType = "application/json; charset=utf-8";
    reply.body = pages::BidAnswer(JudgeBid(req, now));
    return reply;
  }
  if (auto nums = ListingNumbers(path); !nums.empty()) {
    const long long cat = nums[2], page = nums[10];
    std::vector<const Auction*> running;
    if (std::find(std::begin(kCategories), std::end(kCategories), cat) != std::end(kCategories)) {
      for (const auto& [id, a] : auctions) {
        if (pages::StatusAt(a, now) == 0 && (cat == 0 || a.category == cat)) running.push_back(&a);
      }
    }
    std::stable_sort(running.begin(), running.end(),
                     [](const Auction* x, const Auction* y) { return x->endMs < y->endMs; });
    std::vector<const Auction*> cut;
    const long long size = std::max(1, listingPageSize);
    if (page >= 1) {
      const long long first = (page - 1) * size;
      for (long long i = first; i < first + size && i < static_cast<long long>(running.size()); ++i)
        cut.push_back(running[static_cast<std::size_t>(i)]);
    }
    reply.body = pages::ListingPage(cut, now);
    return reply;
  }
  if (path == "/") {
    reply.body = pages::HomePage(now);
    // The site hands out a visit cookie of its own, as the real one does.
    reply.setCookies.push_back("__jdv=visit" + std::to_string(now) + "; Path=/");
    return reply;
  }
  if (path == "/update") {
    reply.body = updatePage ? *updatePage : pages::DefaultUpdatePage(BaseUrlLocked());
    return reply;
  }
  if (StartsWith(path, "/download/") && path.size() > 10) {
    reply.contentType = "application/octet-stream";
    reply.body = "auction-sim download: " + path.substr(10) + "\n";
    return reply;
  }
  reply.status = 404;
  reply.body = pages::NotFoundPage();
  return reply;
}

int Server::Impl::JudgeBid(const detail::HttpRequest& req, std::int64_t now) {
  auto priceText = QueryValue(req.query, "price");
  if (!priceText || priceText->empty()) return 400;
  auto sign = NumberSign(*priceText);
  if (sign && *sign <= 0) return 400;
  if (!AllDigits(*priceText)) return 463;
  const std::int64_t price = ParseWhole(*priceText);

  if (!forced.empty()) {
    int code = forced.front();
    forced.pop_front();
    return code;
  }

  const auto cookies = CookiePairs(req.Header("Cookie", "; "));
  if (login) {
    bool found = std::any_of(cookies.begin(), cookies.end(), [&](const auto& kv) {
      return kv.first == login->first && kv.second == login->second;
    });
    if (!found) return 403;
  }
  std::string bidder = "guest";
  for (const auto& [k, v] : cookies) {
    if (k == "pin" && !v.empty()) {
      bidder = PercentDecode(v, false);
      break;
    }
  }

  auto idText = QueryValue(req.query, "dealId");
  if (!idText || !AllDigits(*idText) || idText->size() > 12) return 450;
  auto it = auctions.find(ParseWhole(*idText));
  if (it == auctions.end()) return 450;
  Auction& a = it->second;
  const int status = pages::StatusAt(a, now);
  if (status == 2 || now >= a.endMs) return 450;
  if (status == 1) return 452;
  const Bid* top = pages::Highest(a);
  if (top && top->buyer == bidder) return 453;
  if (a.listPrice > 0 && price > a.listPrice) return 462;
  const std::int64_t current = pages::CurrentPrice(a);
  if (top) {
    if (price <= current || price < current + a.lowerOffset) return 460;
  } else if (price < a.startPrice) {
    return 460;
  }
  if (price - current > a.higherOffset) return 461;
  auto last = lastAccepted.find(bidder);
  if (last != lastAccepted.end() && now - last->second >= 0 && now - last->second < kBidInterval) return 468;
  a.bids.push_back(Bid{bidder, price, now});
  lastAccepted[bidder] = now;
  return 200;
}

Server::Server() : impl_(std::make_unique<Impl>()) {}

Server::~Server() { Stop(); }

std::uint16_t Server::Start(std::uint16_t port) {
  Impl* impl = impl_.get();
  {
    std::lock_guard lk(impl->mu);
    if (impl->http) return impl->http->port();
  }
  auto http = std::make_unique<detail::HttpServer>(
      [impl](const detail::HttpRequest& r) { return impl->Handle(r); },
      [impl] {
        std::lock_guard lk(impl->mu);
        if (impl->jitter.count() <= 0) return impl->latency;
        std::uniform_int_distribution<long> d(-impl->jitter.count(), impl->jitter.count());
        return std::max(std::chrono::milliseconds(0),
                        impl->latency + std::chrono::milliseconds(d(impl->rng)));
      });
  std::uint16_t p = http->Start(port);
  std::lock_guard lk(impl->mu);
  impl->http = std::move(http);
  return p;
}

void Server::Impl::StopDemo() {
  {
    std::lock_guard lk(mu);
    demoStop = true;
  }
  demoCv.notify_all();
  if (demoThread.joinable()) demoThread.join();
  std::lock_guard lk(mu);
  demoStop = false;
}

void Server::Stop() {
  impl_->StopDemo();
  std::unique_ptr<detail::HttpServer> http;
  {
    std::lock_guard lk(impl_->mu);
    http = std::move(impl_->http);
  }
  // Outside the lock: the connection threads take it to answer.
  if (http) http->Stop();
  std::lock_guard lk(impl_->mu);
  impl_->logCv.notify_all();
}

std::uint16_t Server::port() const {
  std::lock_guard lk(impl_->mu);
  return impl_->http ? impl_->http->port() : 0;
}

std::string Server::BaseUrl() const {
  std::lock_guard lk(impl_->mu);
  return impl_->BaseUrlLocked();
}

void Server::SetClock(std::int64_t siteMs, bool running) {
  std::lock_guard lk(impl_->mu);
  impl_->clockBase = siteMs;
  impl_->clockAnchor = std::chrono::steady_clock::now();
  impl_->clockRunning = running;
}

std::int64_t Server::Now() const {
  std::lock_guard lk(impl_->mu);
  return impl_->NowLocked();
}

void Server::AdvanceClock(std::int64_t ms) {
  std::lock_guard lk(impl_->mu);
  impl_->clockBase += ms;
}

void Server::AddAuction(const Auction& a) {
  std::lock_guard lk(impl_->mu);
  impl_->auctions[a.id] = a;
}

void Server::RemoveAuction(std::int64_t id) {
  std::lock_guard lk(impl_->mu);
  impl_->auctions.erase(id);
}

void Server::ClearAuctions() {
  {
    std::lock_guard lk(impl_->mu);
    impl_->auctions.clear();
    impl_->lastAccepted.clear();
    impl_->demo = false;
  }
  impl_->demoCv.notify_all();
}

std::optional<Auction> Server::GetAuction(std::int64_t id) const {
  std::lock_guard lk(impl_->mu);
  auto it = impl_->auctions.find(id);
  if (it == impl_->auctions.end()) return std::nullopt;
  return it->second;
}

void Server::UpdateAuction(std::int64_t id, const std::function<void(Auction&)>& change) {
  std::lock_guard lk(impl_->mu);
  auto it = impl_->auctions.find(id);
  if (it == impl_->auctions.end()) return;
  change(it->second);
  if (it->second.id != id) {
    Auction moved = std::move(it->second);
    impl_->auctions.erase(it);
    impl_->auctions[moved.id] = std::move(moved);
  }
}

std::vector<Auction> Server::Auctions() const {
  std::lock_guard lk(impl_->mu);
  std::vector<Auction> out;
  for (const auto& [id, a] : impl_->auctions) out.push_back(a);
  return out;
}

int Server::ListingPageSize() const {
  std::lock_guard lk(impl_->mu);
  return impl_->listingPageSize;
}

void Server::SetListingPageSize(int n) {
  std::lock_guard lk(impl_->mu);
  impl_->listingPageSize = std::max(1, n);
}

void Server::RequireLoginCookie(const std::string& name, const std::string& value) {
  std::lock_guard lk(impl_->mu);
  impl_->login = std::make_pair(name, value);
}

void Server::ClearLoginRequirement() {
  std::lock_guard lk(impl_->mu);
  impl_->login.reset();
}

void Server::ForceBidCode(int code, int count) {
  std::lock_guard lk(impl_->mu);
  for (int i = 0; i < count; ++i) impl_->forced.push_back(code);
}

void Server::SetLatency(std::chrono::milliseconds oneWay) {
  std::lock_guard lk(impl_->mu);
  impl_->latency = std::max(oneWay, std::chrono::milliseconds(0));
}

void Server::SetJitter(std::chrono::milliseconds jitter) {
  std::lock_guard lk(impl_->mu);
  impl_->jitter = std::max(jitter, std::chrono::milliseconds(0));
}

void Server::AddFault(const Fault& f) {
  std::lock_guard lk(impl_->mu);
  if (f.kind != FaultKind::None && f.remaining != 0) impl_->faults.push_back(f);
}

void Server::ClearFaults() {
  std::lock_guard lk(impl_->mu);
  impl_->faults.clear();
}

void Server::SetUpdatePage(const std::string& html) {
  std::lock_guard lk(impl_->mu);
  impl_->updatePage = html;
}

std::vector<LoggedRequest> Server::Log() const {
  std::lock_guard lk(impl_->mu);
  return {impl_->log.begin(), impl_->log.end()};
}

std::vector<LoggedRequest> Server::LogFor(const std::string& pathPrefix) const {
  std::lock_guard lk(impl_->mu);
  std::vector<LoggedRequest> out;
  for (const auto& r : impl_->log)
    if (StartsWith(r.target, pathPrefix)) out.push_back(r);
  return out;
}

void Server::ClearLog() {
  std::lock_guard lk(impl_->mu);
  impl_->log.clear();
}

bool Server::WaitForRequests(const std::string& pathPrefix, std::size_t count,
                             std::chrono::milliseconds timeout) const {
  std::unique_lock lk(impl_->mu);
  return impl_->logCv.wait_for(lk, timeout, [&] {
    std::size_t n = 0;
    for (const auto& r : impl_->log)
      if (StartsWith(r.target, pathPrefix)) ++n;
    return n >= count;
  });
}

int Server::StatusOf(std::int64_t id) const {
  std::lock_guard lk(impl_->mu);
  auto it = impl_->auctions.find(id);
  if (it == impl_->auctions.end()) return -1;
  return pages::StatusAt(it->second, impl_->NowLocked());
}

void Server::Impl::DemoLoop() {
  std::mt19937 local(std::random_device{}());
  std::unique_lock lk(mu);
  while (!demoStop) {
    auto pause = std::chrono::milliseconds(std::uniform_int_distribution<int>(2000, 6000)(local));
    if (demoCv.wait_for(lk, pause, [this] { return demoStop; })) break;
    if (!demo) continue;
    const std::int64_t now = NowLocked();
    std::vector<Auction*> running;
    for (auto& [id, a] : auctions)
      if (pages::StatusAt(a, now) == 0 && a.endMs - now > 3000) running.push_back(&a);
    if (!running.empty()) {
      Auction& a = *running[std::uniform_int_distribution<std::size_t>(0, running.size() - 1)(local)];
      if (auto bid = demo::OtherBid(a, now, local)) a.bids.push_back(*bid);
    }
    // Keep the demo lively: a closed lot is followed by a new one.
    if (static_cast<int>(running.size()) < demo::kRunning - 5) {
      while (auctions.count(nextDemoId)) ++nextDemoId;
      std::int64_t closesIn = std::uniform_int_distribution<std::int64_t>(25 * 60000, 30 * 60000)(local);
      auctions[nextDemoId] = demo::RunningLot(nextDemoId, now, closesIn, local);
      ++nextDemoId;
    }
  }
}

void Server::LoadDemoScenario() {
  std::lock_guard lk(impl_->mu);
  const std::int64_t now = impl_->NowLocked();
  std::mt19937 rng(20131203);
  for (auto& a : demo::Scenario(now, rng)) {
    impl_->nextDemoId = std::max(impl_->nextDemoId, a.id + 1);
    impl_->auctions[a.id] = std::move(a);
  }
  impl_->demo = true;
  if (!impl_->demoThread.joinable())
    impl_->demoThread = std::thread([impl = impl_.get()] { impl->DemoLoop(); });
}

}  // namespace sim
