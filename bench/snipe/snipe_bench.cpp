// How close to its due moment a closing snipe's bid-records request reaches
// the site, through the main window as a user arms it (自动出价, IE mode on),
// against auction-sim with latency on both legs. See --help.
#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "gavelhawk/gui/MainDlg.h"
#include "platform/dialog/dialog.h"
#include "platform/http/http.h"
#include "sim/auction_sim.h"
#include "site/fetch.h"

namespace {

using Clock = std::chrono::steady_clock;

const char kHelp[] =
    "usage: snipe_bench [--snipes N] [--only L|L+-J] [--help]\n"
    "\n"
    "Arms closing snipes in the main window (自动出价, IE mode on, ten rows at a\n"
    "time, preparation 1000 ms) against auction-sim, whose latency applies to both\n"
    "legs: a request reaches the site L ms after it is sent and its answer comes\n"
    "back L ms after that (with J, each leg takes L plus a uniform draw from\n"
    "[-J, +J]). Scenarios: L = 0, 20, 100 ms and 100 +- 20 ms, each idle and while\n"
    "the window's listing crawl (刷新商品) runs, over and over, against listing\n"
    "pages that take 300 ms each. The closings of one batch lie 4 (L + J) + 300 ms\n"
    "apart, more than one bid's two round trips. At 20 and 100 ms also: \"together\",\n"
    "every row of a batch closing at one instant, and \"delete\", a row above nine\n"
    "waiting ones deleted (删除商品) 300 ms before the first of them is due.\n"
    "The figure is taken from the records read the bid follows; \"missing\" counts\n"
    "snipes with no bid at all.\n"
    "\n"
    "For each snipe the figure is the arrival error: when its bid-records request\n"
    "reached the site, by the site's true clock, minus the ideal moment, which is\n"
    "the due moment (closing - preparation - 2000 ms by the site's clock) plus L.\n"
    "It includes every error of the program's idea of the site clock (the age of\n"
    "the clock read it rests on) and of its timer. Negative: early. Printed per\n"
    "scenario: p50, p99 and max of |error| over N snipes (default 50), the mean\n"
    "(signed), and how many arrived after closing - 2000 ms (late enough to\n"
    "endanger the bid).\n"
    "\n"
    "  --snipes N     snipes per scenario (default 50)\n"
    "  --only NAME    one scenario pair: \"20\" or \"100+-20\"\n";

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const double at = p * static_cast<double>(v.size() - 1);
  const std::size_t lo = static_cast<std::size_t>(std::floor(at));
  const std::size_t hi = std::min(v.size() - 1, lo + 1);
  return v[lo] + (v[hi] - v[lo]) * (at - static_cast<double>(lo));
}

enum class Mode {
  Idle,      // closings spaced apart
  Crawl,     // the same while the listing crawl runs
  Together,  // every row of a batch closes at one instant
  Delete,    // a row above the batch is deleted 300 ms before its first bid
};

struct Scenario {
  int latency = 0;
  int jitter = 0;
  Mode mode = Mode::Idle;
};

const char* ModeName(Mode m) {
  switch (m) {
    case Mode::Idle:
      return "idle";
    case Mode::Crawl:
      return "300ms";
    case Mode::Together:
      return "together";
    case Mode::Delete:
      return "delete";
  }
  return "";
}

struct Result {
  std::vector<double> errors;  // ms, signed
  int missing = 0;
  int late = 0;
};

constexpr int kPrep = 1000;
constexpr int kRows = 10;
// Closings of one batch lie further apart than one bid path (two round
// trips), so that the figure is the timer's and not a queue's.
std::int64_t Spacing(const Scenario& sc) { return 4 * (sc.latency + sc.jitter) + 300; }

Result Run(const Scenario& sc, int snipes) {
  Result out;
  sim::Server server;
  server.Start();
  const std::int64_t t0 = 1387000000000 - 300000;
  server.SetClock(t0, /*running=*/true);
  const Clock::time_point anchor = Clock::now();
  server.SetLatency(std::chrono::milliseconds(sc.latency));
  server.SetJitter(std::chrono::milliseconds(sc.jitter));
  // Listing pages of 300 ms for the crawl: listed, running, with list prices.
  sim::Fault slow{sim::FaultKind::Slow, "/paimai/", -1};
  slow.delayMs = 300;
  server.AddFault(slow);
  for (int k = 0; k < 120; ++k) {
    sim::Auction a;
    a.id = 5000 + k;
    a.title = "listing " + std::to_string(k);
    a.listPrice = 3000;
    a.category = 1000;
    a.startMs = t0 - 3600000;
    a.endMs = t0 + 3600000 + k * 1000;
    a.bids.push_back({"alice", 100 + k, t0 - 1000});
    server.AddAuction(a);
  }

  platform::http::CurlTransport transport(::site::SiteHttpOptions());
  MainDlgServices services;
  services.transport = &transport;
  services.newTransport = [] {
    return std::make_unique<platform::http::CurlTransport>(::site::SiteHttpOptions());
  };
  services.siteUrl = server.BaseUrl();
  platform::dialog::SetScripted(true);
  CMainDlg dlg(services);
  dlg.m_bIEMode = true;
  dlg.m_strMaxDiscount = "1.0";
  // The crawl leaves the snipes' auctions alone: their bid records are read
  // by the snipes only, so the first read of each is the snipe's.
  dlg.m_strExclude1 = "BENCH";

  auto siteNowMs = [&] {
    return t0 + std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - anchor).count();
  };
  // Runs the window's events for `ms`, sleeping between them as the
  // program's own event loop does. (processEvents with a time limit never
  // sleeps: the bench's thread then took a whole core from the engine's and
  // the site's threads, which a user's window never does.)
  auto pump = [](int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
  };

  std::int64_t nextId = 3000;
  const bool crawl = sc.mode == Mode::Crawl;
  // The deleted row takes one of the ten slots.
  const int perBatch = sc.mode == Mode::Delete ? kRows - 1 : kRows;
  for (int done = 0; done < snipes; done += perBatch) {
    const int rows = std::min(perBatch, snipes - done);
    dlg.OnClearSnipes();
    // Room for arming every row first: five reads per row at most, each a
    // round trip (a new connection pays one more).
    const std::int64_t armMs = rows * (6 * (2 * (sc.latency + sc.jitter)) + 150) + 1500;
    const std::int64_t firstClose = siteNowMs() + armMs + kPrep + 2000;
    std::vector<std::pair<std::int64_t, std::int64_t>> batch;  // id, closing
    std::vector<std::int64_t> toArm;
    if (sc.mode == Mode::Delete) {
      // The first row, closing long after the batch: deleted before it bids.
      sim::Auction a;
      a.id = nextId++;
      a.title = "bench " + std::to_string(a.id);
      a.listPrice = 5000;
      a.startMs = t0 - 3600000;
      a.endMs = firstClose + 3600000;
      a.bids.push_back({"alice", 100, t0 - 1000});
      server.AddAuction(a);
      toArm.push_back(a.id);
    }
    for (int k = 0; k < rows; ++k) {
      sim::Auction a;
      a.id = nextId++;
      a.title = "bench " + std::to_string(a.id);
      a.listPrice = 5000;
      a.startMs = t0 - 3600000;
      a.endMs = firstClose + (sc.mode == Mode::Together ? 0 : k * Spacing(sc));
      a.bids.push_back({"alice", 100, t0 - 1000});
      server.AddAuction(a);
      batch.emplace_back(a.id, a.endMs);
      toArm.push_back(a.id);
    }
    for (const std::int64_t id : toArm) {
      const int before = dlg.m_nSnipeLast;
      dlg.m_nDealId = static_cast<std::int32_t>(id);
      dlg.m_nMaxPrice = 1000;
      dlg.m_nIncrement = 1;
      dlg.m_nPrepTime = kPrep;
      dlg.UpdateData(false);
      dlg.OnAutoBid();
      QElapsedTimer wait;
      wait.start();
      while (dlg.m_nSnipeLast == before && wait.elapsed() < 20000) pump(1);
    }
    bool deleted = sc.mode != Mode::Delete;
    auto finished = [&] {
      if (!deleted) return false;
      for (int i = 0; i <= dlg.m_nSnipeLast; ++i)
        if (dlg.m_snipes[static_cast<std::size_t>(i)].nRemain != -1) return false;
      return true;
    };
    if (!deleted) {
      const std::int64_t firstDue = firstClose - kPrep - 2000;
      QTimer::singleShot(std::max<std::int64_t>(0, firstDue - 300 - siteNowMs()), &dlg, [&] {
        dlg.m_nSnipeSel = 0;
        dlg.OnDeleteSnipe();
        deleted = true;
      });
    }
    QTimer crawler;
    if (crawl) {
      // Started from the event loop, as a press would be; a crawl that ends
      // is started again until the batch is over.
      QObject::connect(&crawler, &QTimer::timeout, &dlg, [&] {
        if (finished()) {
          dlg.Search().Stop();
        } else if (!dlg.Search().Running()) {
          dlg.OnRefreshItems();
        }
      });
      crawler.start(20);
    }
    QElapsedTimer wait;
    wait.start();
    while (!finished() && wait.elapsed() < armMs + rows * Spacing(sc) + 60000) pump(5);
    crawler.stop();
    while (dlg.Search().Running()) pump(5);

    for (const auto& [id, closing] : batch) {
      // The records read the bid rests on: the last one before the bid (a
      // warm-up may come earlier, the outcome's later).
      const auto log = server.LogFor("/json/paimai/bid_records?dealId=" + std::to_string(id));
      const auto bids = server.LogFor("/json/paimai/bid?dealId=" + std::to_string(id) + "&");
      const sim::LoggedRequest* read = nullptr;
      for (const sim::LoggedRequest& r : log)
        if (bids.empty() || r.arrival <= bids.front().arrival) read = &r;
      if (!read || bids.empty()) {
        ++out.missing;
        continue;
      }
      const double arrivalUs =
          static_cast<double>(t0) * 1000.0 +
          static_cast<double>(
              std::chrono::duration_cast<std::chrono::microseconds>(read->arrival - anchor).count());
      const double idealUs = static_cast<double>(closing - kPrep - 2000 + sc.latency) * 1000.0;
      const double err = (arrivalUs - idealUs) / 1000.0;
      out.errors.push_back(err);
      if (arrivalUs > static_cast<double>(closing - 2000) * 1000.0) ++out.late;
    }
  }
  dlg.OnClearSnipes();
  platform::dialog::SetScripted(false);
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  int snipes = 50;
  std::string only;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
      std::fputs(kHelp, stdout);
      return 0;
    }
    if (!std::strcmp(argv[i], "--snipes") && i + 1 < argc) {
      snipes = std::max(1, std::atoi(argv[++i]));
    } else if (!std::strcmp(argv[i], "--only") && i + 1 < argc) {
      only = argv[++i];
    } else {
      std::fprintf(stderr, "snipe_bench: unknown argument %s\n%s", argv[i], kHelp);
      return 2;
    }
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);

  std::vector<Scenario> scenarios;
  for (auto [l, j] : {std::pair{0, 0}, {20, 0}, {100, 0}, {100, 20}}) {
    const std::string name = j ? std::to_string(l) + "+-" + std::to_string(j) : std::to_string(l);
    if (!only.empty() && only != name) continue;
    scenarios.push_back({l, j, Mode::Idle});
    scenarios.push_back({l, j, Mode::Crawl});
    if (j == 0 && (l == 20 || l == 100)) {
      scenarios.push_back({l, j, Mode::Together});
      scenarios.push_back({l, j, Mode::Delete});
    }
  }
  std::printf("snipe bench: arrival error of the bid-records request, ms (%d snipes per scenario)\n", snipes);
  std::printf("%-10s %-9s %9s %9s %9s %9s %6s %8s\n", "latency", "rows", "p50|e|", "p99|e|", "max|e|",
              "mean e", "late", "missing");
  for (const Scenario& sc : scenarios) {
    const Result r = Run(sc, snipes);
    std::vector<double> abs;
    double sum = 0;
    for (double e : r.errors) {
      abs.push_back(std::fabs(e));
      sum += e;
    }
    const std::string lat =
        std::to_string(sc.latency) + (sc.jitter ? "+-" + std::to_string(sc.jitter) : std::string());
    std::printf("%-10s %-9s %9.2f %9.2f %9.2f %+9.2f %6d %8d\n", lat.c_str(), ModeName(sc.mode),
                Percentile(abs, 0.5), Percentile(abs, 0.99),
                abs.empty() ? 0.0 : *std::max_element(abs.begin(), abs.end()),
                r.errors.empty() ? 0.0 : sum / static_cast<double>(r.errors.size()), r.late, r.missing);
    std::fflush(stdout);
  }
  return 0;
}
