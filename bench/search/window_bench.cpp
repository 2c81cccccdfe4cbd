// How long the window's event loop is held up while 刷新商品 crawls a slow
// site: a 1 ms timer ticks from the press to the end of the crawl, and the
// gaps between its ticks are what a user would feel as a frozen window.
#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "gavelhawk/gui/MainDlg.h"
#include "platform/dialog/dialog.h"
#include "platform/http/http.h"
#include "sim/auction_sim.h"
#include "site/fetch.h"

namespace {

constexpr std::int64_t kT = 1386012345000;

const char kHelp[] =
    "usage: search_window_bench [ONE-WAY-LATENCY-MS]...\n"
    "\n"
    "Presses 刷新商品 in the main window (offscreen) against auction-sim with\n"
    "30 listing pages and 40 deals that need a detail and a bid-records read,\n"
    "every request delayed ONE-WAY-LATENCY-MS each way (default: 20 50).\n"
    "A 1 ms timer runs from the press until the crawl has ended. Printed:\n"
    "  crawl      seconds from the press to the end of the crawl\n"
    "  gap p50/p99/max  ms between two ticks of the timer: how long the window\n"
    "             could not answer the user (a free window: about 1 ms)\n"
    "  over 100   gaps longer than 100 ms\n";

void Scenario(sim::Server& site) {
  site.SetClock(kT, /*running=*/false);
  int withKeyword = 0;
  for (int i = 0; i < 31 * 16; ++i) {
    sim::Auction a;
    a.id = 2000000 + i;
    const bool pass = i % 12 == 0 && withKeyword < 40;
    withKeyword += pass ? 1 : 0;
    a.title = pass ? "Apple iPad mini " + std::to_string(i) : "Other item " + std::to_string(i);
    a.listPrice = 1000;
    a.startMs = kT - 3600000;
    a.endMs = kT + (100 + i) * 1000;
    a.bids.push_back({"alice", 100, kT - 60000});
    site.AddAuction(a);
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<int> latencies;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
      std::fputs(kHelp, stdout);
      return 0;
    }
    latencies.push_back(std::atoi(argv[i]));
  }
  if (latencies.empty()) latencies = {20, 50};
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  platform::dialog::SetScripted(true);

  std::printf("%8s %9s %9s %9s %9s %9s\n", "latency", "crawl s", "gap p50", "gap p99", "gap max", "over 100");
  for (const int ms : latencies) {
    sim::Server site;
    site.Start();
    Scenario(site);
    site.SetLatency(std::chrono::milliseconds(ms));
    platform::http::CurlTransport transport(::site::SiteHttpOptions());
    MainDlgServices s;
    s.transport = &transport;
    s.newTransport = [] {
      return std::make_unique<platform::http::CurlTransport>(::site::SiteHttpOptions());
    };
    s.siteUrl = site.BaseUrl();
    auto dlg = std::make_unique<CMainDlg>(s);
    dlg->OnInitDialog();
    dlg->show();
    dlg->m_strInclude1 = "ipad";
    dlg->UpdateData(false);

    std::vector<double> gaps;
    QElapsedTimer clock;
    qint64 last = -1;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(1);
    QObject::connect(&tick, &QTimer::timeout, [&] {
      const qint64 now = clock.nsecsElapsed();
      if (last >= 0) gaps.push_back((now - last) / 1e6);
      last = now;
    });
    clock.start();
    tick.start();
    QTimer::singleShot(0, dlg.get(), [&] { dlg->Button(CMainDlg::IDC_REFRESH)->click(); });
    // Serve the window until the crawl has started and ended.
    bool started = false;
    while (!started || dlg->Search().Running()) {
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
      started = started || dlg->Search().Running() || clock.elapsed() > 100;
    }
    const double crawl = clock.elapsed() / 1000.0;
    tick.stop();
    std::sort(gaps.begin(), gaps.end());
    auto at = [&](double q) {
      return gaps.empty() ? 0.0 : gaps[static_cast<std::size_t>(q * (gaps.size() - 1))];
    };
    const auto over = std::count_if(gaps.begin(), gaps.end(), [](double g) { return g > 100; });
    std::printf("%5d ms %9.3f %9.1f %9.1f %9.1f %9ld\n", ms, crawl, at(0.5), at(0.99),
                gaps.empty() ? 0 : gaps.back(), static_cast<long>(over));
    dlg.reset();
    site.Stop();
  }
  platform::dialog::TakeShownBoxes();
  return 0;
}
