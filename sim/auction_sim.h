#pragma once
// auction-sim: a stand-in of the auction site on loopback. It serves the
// pages of PAGES.md from a scenario, keeps a clock that tests can set, takes
// bids by the site's rules, logs every request, and misbehaves on request.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace sim {

struct Bid {
  std::string buyer;  // UTF-8
  std::int64_t price = 0;
  std::int64_t atMs = 0;  // site time
};

struct Auction {
  std::int64_t id = 0;
  std::string title;                  // UTF-8
  std::string condition = "全新";     // UTF-8, the 使用状态 text
  std::int64_t listPrice = 0;         // 京东价, yuan
  std::int64_t startPrice = 1;        // price while nobody has bid
  std::int64_t lowerOffset = 1;       // smallest increment
  std::int64_t higherOffset = 500;    // largest increment
  std::int64_t startMs = 0;           // opening, site ms
  std::int64_t endMs = 0;             // closing, site ms
  int category = 0;                   // listing code: 4000, 1000, 2000, 3000, 6000, 7000 (0: only in "all")
  std::optional<int> statusOverride;  // otherwise 1 before start, 0 running, 2 over
  std::vector<Bid> bids;              // any order; the highest is current
  // When set, bid records show this instead of the highest bidder after the
  // close ("null" for none); trxPrice likewise.
  std::optional<std::string> trxBuyerOverride;
  std::optional<std::int64_t> trxPriceOverride;
};

struct LoggedRequest {
  std::string method;
  std::string target;  // path and query as sent
  std::string path;    // without the query
  std::string query;
  std::string cookie;       // the Cookie header as received
  std::string userAgent;    // raw bytes of the User-Agent header
  std::int64_t siteMs = 0;  // site clock at arrival
  std::chrono::steady_clock::time_point arrival;
  std::uint64_t connection = 0;  // ids count up per accepted connection
  int status = 0;                // HTTP status answered (0: none; see body)
  std::string body;              // the answer body (truncated to 4 KiB)
};

enum class FaultKind {
  None,
  Refuse,     // close the connection without answering
  Stall,      // send the headers and part of the body, then nothing for `stallMs`
  Garbage,    // a body of random bytes
  Huge,       // a body of `hugeBytes` bytes
  Status500,  // an error page
  Empty,      // 200 with an empty body
  Trickle,    // the real answer, sent a byte every `trickleEveryMs` (2 bytes/s by default)
  ClockSkew,  // the real answer, written as if the site clock read now + `skewMs`
  Slow,       // the real answer, sent `delayMs` later than the latency alone would
  Redirect,   // 302 to `location` (empty: the same target)
  Silent,     // not a byte for `stallMs`, then the connection closes
  // The site takes the request (a bid is recorded) and the connection
  // closes before the answer; the log says so.
  DropAfterTaken,
};

struct Fault {
  FaultKind kind = FaultKind::None;
  std::string pathPrefix;  // which requests ("" = all)
  int remaining = -1;      // how many requests it hits (-1 = until cleared)
  int stallMs = 30000;
  std::size_t hugeBytes = 64u << 20;
  int trickleEveryMs = 500;
  std::int64_t skewMs = 0;
  int delayMs = 0;
  std::string location = {};  // Redirect
};

class Server {
 public:
  Server();
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Listens on 127.0.0.1; port 0 picks a free one. Returns the port.
  std::uint16_t Start(std::uint16_t port = 0);
  void Stop();
  std::uint16_t port() const;
  std::string BaseUrl() const;  // "http://127.0.0.1:PORT"

  // Clock. Site time = `siteMs` at the moment of the call, then runs with the
  // steady clock unless frozen.
  void SetClock(std::int64_t siteMs, bool running = true);
  std::int64_t Now() const;
  void AdvanceClock(std::int64_t ms);  // frozen or running

  // Scenario.
  void AddAuction(const Auction& a);  // replaces one with the same id
  void RemoveAuction(std::int64_t id);
  void ClearAuctions();  // also forgets the bid times behind code 468
  std::optional<Auction> GetAuction(std::int64_t id) const;
  // `change` runs under the server's lock: it must not call the server.
  void UpdateAuction(std::int64_t id, const std::function<void(Auction&)>& change);
  std::vector<Auction> Auctions() const;
  int ListingPageSize() const;
  void SetListingPageSize(int n);

  // Login. When a login cookie is required, a bid without `name=value` in its
  // Cookie header is answered 403. The bidder's name is the value of cookie
  // `pin` (else "guest").
  void RequireLoginCookie(const std::string& name, const std::string& value);
  void ClearLoginRequirement();

  // The next `count` bids are answered with `code` whatever the rules say
  // (200 = success), and are not recorded.
  void ForceBidCode(int code, int count = 1);

  // Latency added before every answer, and faults by path. A request reaches
  // the site `oneWay` after it was sent (the first request of a connection
  // also pays the handshake, 2 x oneWay more); the answer leaves oneWay after
  // the site took it. The log's arrival and the bid rules use the moment the
  // request reached the site.
  void SetLatency(std::chrono::milliseconds oneWay);
  // Each leg of each request then takes oneWay plus a uniform draw from
  // [-jitter, +jitter] (never below 0).
  void SetJitter(std::chrono::milliseconds jitter);
  // A faulted request never reaches the site's logic (a faulted bid is not
  // recorded), except Trickle, ClockSkew and Slow, which only bend the real
  // answer. Faults are tried in the order added; `remaining` counts down.
  void AddFault(const Fault& f);
  void ClearFaults();

  // The update page, UTF-8 HTML.
  void SetUpdatePage(const std::string& html);

  // Prefixes (here and in Fault) match the target, path and query, so
  // "/json/paimai/bid?" selects the bids and not the bid records.
  std::vector<LoggedRequest> Log() const;
  std::vector<LoggedRequest> LogFor(const std::string& pathPrefix) const;
  void ClearLog();
  // Waits until the log holds `count` requests matching `pathPrefix`; false on
  // time-out. Lets tests wait for a request instead of sleeping.
  bool WaitForRequests(const std::string& pathPrefix, std::size_t count,
                       std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

  // The status the site shows now (0 running, 1 not started, 2 over), -1 for
  // an unknown id.
  int StatusOf(std::int64_t id) const;

  // A lively scenario relative to the current clock: auctions closing over
  // the next minutes in every category, some far below list price, and ~200
  // closed ones from id 2000001 for the history walk; running ids follow the
  // closed ones. Also starts the other bidders, who now and then outbid on a
  // running auction and replace closed lots with new ones, until
  // ClearAuctions() or Stop().
  void LoadDemoScenario();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace sim
