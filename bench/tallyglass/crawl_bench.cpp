// Auction ids per second of the history crawl (page reads, two or three
// requests per id, one stored row per sale) against auction-sim answering
// every request after a fixed latency. The floor is the latency alone: each
// request costs one round trip, so the ratio shows what the program adds.
//
//   tallyglass_crawl_bench [ONE_WAY_MS=5] [IDS=200]
#include <QCoreApplication>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "sim/auction_sim.h"
#include "tallyglass/crawl/fetch.h"
#include "tallyglass/crawl/walk.h"
#include "tallyglass/db/history_db.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int oneWayMs = argc > 1 ? std::atoi(argv[1]) : 5;
  const int ids = argc > 2 ? std::atoi(argv[2]) : 200;
  constexpr std::int64_t kNow = 1386000000000;
  constexpr std::int32_t kFirst = 3000001;

  sim::Server server;
  server.Start();
  server.SetClock(kNow, false);
  // Three sales in four; one in ten of those far below its list price (a
  // second read); the fourth id unsold.
  for (int i = 0; i < ids; ++i) {
    sim::Auction a;
    a.id = kFirst + i;
    a.title = "华为 HUAWEI Mate 40 Pro 8GB+256GB 亮黑色 5G手机 " + std::to_string(i);
    a.listPrice = 6999;
    a.startMs = kNow - 2 * 86400000LL;
    a.endMs = kNow - 86400000LL;
    if (i % 4 != 3)
      a.bids.push_back({"jd_" + std::to_string(i % 17), i % 40 == 0 ? 99 : 3000 + i, a.endMs - 1000});
    server.AddAuction(a);
  }
  server.SetLatency(std::chrono::milliseconds(oneWayMs));

  QTemporaryDir dir;
  tallyglass::db::HistoryDb db;
  if (!db.Open(dir.path(), {})) {
    std::fprintf(stderr, "database: %s\n", qPrintable(db.LastError()));
    return 1;
  }
  tallyglass::db::HistoryResultSet rs(&db);
  platform::http::CurlTransport transport(tallyglass::crawl::HistoryHttpOptions());

  server.ClearLog();
  const auto t0 = std::chrono::steady_clock::now();
  int stored = 0;
  for (int i = 0; i < ids; ++i) {
    auto o = tallyglass::crawl::CrawlAuction(transport, server.BaseUrl(), kFirst + i, 0);
    if (o.kind == tallyglass::crawl::AuctionOutcome::Sold) stored += rs.Append(o.record) ? 1 : 0;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  const std::size_t requests = server.Log().size();
  const double floorSeconds = requests * 2.0 * oneWayMs / 1000.0;

  std::printf("history crawl: %d ids, %d stored, %zu requests, one-way latency %d ms\n", ids, stored,
              requests, oneWayMs);
  std::printf("  ids per second:            %.1f\n", ids / seconds);
  std::printf("  latency-only floor:        %.1f ids/s\n", floorSeconds > 0 ? ids / floorSeconds : 0.0);
  std::printf("  time / floor:              %.2f\n", floorSeconds > 0 ? seconds / floorSeconds : 0.0);
  std::printf("  program time per id:       %.2f ms\n", (seconds - floorSeconds) * 1000.0 / ids);
  server.Stop();
  return stored > 0 ? 0 : 1;
}
