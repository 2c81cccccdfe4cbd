// Auction ids per second of the history walk against auction-sim answering
// every request after a fixed latency each way: the walk one id at a time,
// and with several ids in flight, on the same history, both storing into
// SQLite as the program does (batched commits, endID.dat after each).
//
// The floor is the latency alone for one id at a time: each request costs
// one round trip. "x floor" above 1 is what several ids in flight win.
//
//   tallyglass_crawl_bench [--ids N] [--in-flight N] [ONE_WAY_MS ...]
//   defaults: 80 ids, 8 in flight, 50 and 200 ms
#include <QCoreApplication>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "sim/auction_sim.h"
#include "site/fetch.h"
#include "tallyglass/crawl/resume.h"
#include "tallyglass/crawl/walker.h"
#include "tallyglass/db/history_db.h"

namespace {

constexpr std::int64_t kNow = 1386000000000;
constexpr std::int32_t kFirst = 3000001;

struct Run {
  double seconds = 0;
  std::size_t requests = 0;
  QStringList rows;
  bool ok = false;
};

Run Walk(sim::Server& server, int inFlight) {
  Run run;
  QTemporaryDir dir;
  tallyglass::db::HistoryDb db;
  if (!db.Open(dir.path(), {})) {
    std::fprintf(stderr, "database: %s\n", qPrintable(db.LastError()));
    return run;
  }
  tallyglass::crawl::WriteResumeId(dir.path(), kFirst - 1);
  tallyglass::crawl::WalkOptions o;
  o.siteUrl = server.BaseUrl();
  o.inFlight = inFlight;
  tallyglass::crawl::WalkSession walk(
      &db, dir.path(),
      [] {
        return std::make_unique<platform::http::CurlTransport>(
            ::site::SiteHttpOptions(::site::kHistoryAgentName));
      },
      o, kFirst - 1);
  server.ClearLog();
  const auto t0 = std::chrono::steady_clock::now();
  walk.Start();
  walk.RunToEnd();
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  run.requests = server.Log().size();
  run.ok = walk.result() == tallyglass::crawl::WalkSession::Result::Completed;
  QSqlQuery q(db.Database());
  q.exec("SELECT ProductID, Title, trxPrice, trxBuyerName, Price, bidTime FROM History ORDER BY ProductID");
  while (q.next()) {
    QStringList cells;
    for (int i = 0; i < 6; ++i) cells << q.value(i).toString();
    run.rows << cells.join('|');
  }
  return run;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  int ids = 80;
  int inFlight = tallyglass::crawl::kDefaultInFlight;
  std::vector<int> latencies;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
      std::printf(
          "tallyglass_crawl_bench [--ids N] [--in-flight N] [ONE_WAY_MS ...]\n"
          "Walks N auction ids (3 sales in 4, 1 in 40 read twice) on auction-sim with the given\n"
          "latency each way (default 50 and 200 ms), one id at a time and with --in-flight ids\n"
          "(default 8), and prints for each: ids per second, that as a multiple of the latency\n"
          "floor of the one-at-a-time walk (requests x round trip), and whether both stored the\n"
          "same rows. Then 暂停 while a page hangs: milliseconds until the walk is over (the\n"
          "window's answer) and until its reader threads are gone (what closing waits for).\n");
      return 0;
    }
    if (!std::strcmp(argv[i], "--ids") && i + 1 < argc) {
      ids = std::atoi(argv[++i]);
    } else if (!std::strcmp(argv[i], "--in-flight") && i + 1 < argc) {
      inFlight = std::atoi(argv[++i]);
    } else {
      latencies.push_back(std::atoi(argv[i]));
    }
  }
  if (latencies.empty()) latencies = {50, 200};

  sim::Server server;
  server.Start();
  server.SetClock(kNow, false);
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
  // Running later today: the walk ends here.
  sim::Auction running;
  running.id = kFirst + ids;
  running.title = "进行中";
  running.listPrice = 100;
  running.startMs = kNow - 3600000;
  running.endMs = kNow + 3600000;
  server.AddAuction(running);

  int status = 0;
  std::printf("history walk: %d ids, %d in flight against one at a time\n", ids, inFlight);
  std::printf("%10s %12s %12s %10s %12s %10s %8s %6s\n", "one-way", "1 at a time", "x floor", "requests",
              "in flight", "x floor", "speed-up", "same");
  for (int oneWay : latencies) {
    server.SetLatency(std::chrono::milliseconds(oneWay));
    const Run one = Walk(server, 1);
    const Run many = Walk(server, inFlight);
    const double floorSeconds = one.requests * 2.0 * oneWay / 1000.0;
    const double floorRate = floorSeconds > 0 ? ids / floorSeconds : 0.0;
    const double oneRate = ids / one.seconds;
    const double manyRate = ids / many.seconds;
    const bool same = one.ok && many.ok && one.rows == many.rows && !one.rows.isEmpty();
    std::printf("%7d ms %8.1f id/s %12.2f %10zu %8.1f id/s %10.2f %7.2fx %6s\n", oneWay, oneRate,
                floorRate > 0 ? oneRate / floorRate : 0.0, one.requests, manyRate,
                floorRate > 0 ? manyRate / floorRate : 0.0, manyRate / oneRate, same ? "yes" : "NO");
    if (!same) status = 1;
  }

  // 暂停 while a page hangs: how long until the walk is over (what the
  // window waits for) and until its readers are gone (what closing waits for).
  server.SetLatency(std::chrono::milliseconds(0));
  sim::Fault hang{sim::FaultKind::Stall, "/detail/" + std::to_string(kFirst + ids / 2), -1};
  hang.stallMs = 60000;
  server.AddFault(hang);
  std::vector<double> overMs, goneMs;
  for (int round = 0; round < 5; ++round) {
    QTemporaryDir dir;
    tallyglass::db::HistoryDb db;
    if (!db.Open(dir.path(), {})) return 1;
    tallyglass::crawl::WalkOptions o;
    o.siteUrl = server.BaseUrl();
    o.inFlight = inFlight;
    server.ClearLog();
    auto walk = std::make_unique<tallyglass::crawl::WalkSession>(
        &db, dir.path(),
        [] {
          return std::make_unique<platform::http::CurlTransport>(
              ::site::SiteHttpOptions(::site::kHistoryAgentName));
        },
        o, kFirst - 1);
    walk->Start();
    // Handled up to the page that hangs, which was asked for.
    while (!walk->Pump() &&
           (walk->currentId() < kFirst + ids / 2 - 1 || server.LogFor(hang.pathPrefix).empty()))
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const auto t0 = std::chrono::steady_clock::now();
    walk->Stop();
    while (!walk->Pump()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const auto t1 = std::chrono::steady_clock::now();
    walk.reset();
    const auto t2 = std::chrono::steady_clock::now();
    overMs.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
    goneMs.push_back(std::chrono::duration<double, std::milli>(t2 - t0).count());
  }
  std::sort(overMs.begin(), overMs.end());
  std::sort(goneMs.begin(), goneMs.end());
  std::printf("pause during a page that hangs, %zu rounds (min / median / max ms):\n", overMs.size());
  std::printf("  walk over:       %6.1f %6.1f %6.1f\n", overMs.front(), overMs[overMs.size() / 2],
              overMs.back());
  std::printf("  readers gone:    %6.1f %6.1f %6.1f\n", goneMs.front(), goneMs[goneMs.size() / 2],
              goneMs.back());
  server.Stop();
  return status;
}
