// Arms several closing snipes and one opening snipe against auction-sim with
// a fixed one-way latency, lets them fire, and prints in one run:
//   - timer error: when each timer's first request left versus when the
//     timer was due (arming moment + requested delay);
//   - arrival error: when each bid reached the site, by the site's clock,
//     versus closing - preparation - 2000 ms plus the path's floor up to the
//     bid's arrival (records round trip + one way). About one one-way
//     latency of it is the age of the site clock's reading when it arrived;
//     a preparation time measured by the manual bid (two round trips) makes
//     up for it, so the bid then lands 2000 ms before closing;
//   - bid path: timer to the bid's answer, as a ratio to two round trips,
//     and whether the bid rode the records read's connection.
// Usage: snipe_bench [one-way latency ms, default 20] [snipes, default 6]
#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "gavelhawk/site/fetch.h"
#include "gavelhawk/ui/MainDlg.h"
#include "platform/dialog/dialog.h"
#include "platform/http/http.h"
#include "platform/text/gbk.h"
#include "sim/auction_sim.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// Notes when each request started and ended.
class TimingTransport : public platform::http::Transport {
 public:
  struct Call {
    std::string url;
    Clock::time_point start, end;
  };
  explicit TimingTransport(platform::http::Transport& inner) : inner_(inner) {}
  platform::http::Response Get(const std::string& url) override {
    Call c{url, Clock::now(), {}};
    platform::http::Response r = inner_.Get(url);
    c.end = Clock::now();
    calls.push_back(c);
    return r;
  }
  const Call* Last(const std::string& part) const {
    for (auto it = calls.rbegin(); it != calls.rend(); ++it)
      if (it->url.find(part) != std::string::npos) return &*it;
    return nullptr;
  }
  const Call* First(const std::string& part) const {
    for (const Call& c : calls)
      if (c.url.find(part) != std::string::npos) return &c;
    return nullptr;
  }
  std::vector<Call> calls;

 private:
  platform::http::Transport& inner_;
};

struct Stats {
  double median = 0, worst = 0;
};
Stats Summarise(std::vector<double> v) {
  Stats s;
  if (v.empty()) return s;
  std::sort(v.begin(), v.end());
  s.median = v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
  s.worst =
      *std::max_element(v.begin(), v.end(), [](double a, double b) { return std::abs(a) < std::abs(b); });
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int oneWay = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
  const int snipes = argc > 2 ? std::clamp(std::atoi(argv[2]), 1, 10) : 6;
  constexpr int kPrep = 1000;
  // The site takes one bid per user every 4 s, so the closings are spaced wider.
  constexpr std::int64_t kFirstClose = 9000, kSpacing = 4200;

  sim::Server server;
  server.Start();
  const std::int64_t t0 = 1387000000000 - 4000;  // closings straddle 10^9 ms
  server.SetClock(t0, /*running=*/true);
  server.SetLatency(std::chrono::milliseconds(oneWay));
  for (int k = 0; k < snipes; ++k) {
    sim::Auction a;
    a.id = 3000 + k;
    a.title = "bench " + std::to_string(k);
    a.listPrice = 5000;
    a.startMs = t0 - 3600000;
    a.endMs = t0 + kFirstClose + k * kSpacing;
    a.bids.push_back({"alice", 100, t0 - 1000});
    server.AddAuction(a);
  }
  sim::Auction opening;
  opening.id = 3999;
  opening.title = "bench opening";
  opening.listPrice = 5000;
  opening.startMs = t0 + kFirstClose + snipes * kSpacing;  // after the last closing bid
  opening.endMs = t0 + 3600000;
  server.AddAuction(opening);

  platform::http::CurlTransport curl(gavelhawk::site::SiteHttpOptions());
  TimingTransport timing(curl);
  MainDlgServices services;
  services.transport = &timing;
  services.siteUrl = server.BaseUrl();
  platform::dialog::SetScripted(true);
  CMainDlg dlg(services);
  dlg.m_bIEMode = true;

  struct Armed {
    std::int64_t id, endMs;
    Clock::time_point due;
  };
  std::vector<Armed> armed;
  for (int k = 0; k < snipes; ++k) {
    dlg.m_nDealId = 3000 + k;
    dlg.m_nMaxPrice = 1000;
    dlg.m_nIncrement = 1 + k;
    dlg.m_nPrepTime = kPrep;
    dlg.UpdateData(false);
    dlg.OnAutoBid();
    const TimingTransport::Call* clock = timing.Last("/detail/3333333");
    armed.push_back({3000 + k, t0 + kFirstClose + k * kSpacing,
                     clock->end + std::chrono::milliseconds(dlg.Timers().RequestedDelay(k))});
  }
  dlg.m_nOpenDealId = 3999;
  dlg.m_nOpenPrice = 500;
  dlg.m_nOpenLag = 100;
  dlg.UpdateData(false);
  dlg.OnOpenSnipe();
  const Clock::time_point openDue =
      timing.Last("/detail/3999")->end +
      std::chrono::milliseconds(dlg.Timers().RequestedDelay(CMainDlg::kOpenTimerId));

  QElapsedTimer wait;
  wait.start();
  auto allDone = [&] {
    for (int k = 0; k < snipes; ++k)
      if (dlg.m_snipes[static_cast<std::size_t>(k)].nRemain != -1) return false;
    return !dlg.Timers().IsSet(CMainDlg::kOpenTimerId);
  };
  while (!allDone() && wait.elapsed() < kFirstClose + snipes * kSpacing + 20000)
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);

  std::printf("snipe bench: one-way latency %d ms (round trip %d ms), %d closing snipes, preparation %d ms\n",
              oneWay, 2 * oneWay, snipes, kPrep);
  std::printf("%-6s %10s %14s %12s %10s %7s  %s\n", "deal", "timer ms", "arrival ms", "path ms", "path/2RT",
              "reused", "state");
  std::vector<double> timerErr, arrivalErr, ratios;
  int reused = 0, complete = 0;
  auto log = server.Log();
  for (int k = 0; k < snipes; ++k) {
    const Armed& a = armed[static_cast<std::size_t>(k)];
    const std::string id = std::to_string(a.id);
    const TimingTransport::Call* records = timing.First("bid_records?dealId=" + id);
    const TimingTransport::Call* bid = timing.First("/bid?dealId=" + id + "&price=");
    const sim::LoggedRequest *siteRecords = nullptr, *siteBid = nullptr;
    for (const auto& r : log) {
      if (r.target == "/json/paimai/bid_records?dealId=" + id) siteRecords = &r;
      if (r.target.rfind("/json/paimai/bid?dealId=" + id + "&", 0) == 0) siteBid = &r;
    }
    if (!records || !bid || !siteRecords || !siteBid) {
      std::printf("%-6s did not bid\n", id.c_str());
      continue;
    }
    ++complete;
    const double tErr = Ms(records->start - a.due);
    const double due = static_cast<double>(a.endMs - kPrep - 2000 + 3 * oneWay);
    const double aErr = static_cast<double>(siteBid->siteMs) - due;
    const double path = Ms(bid->end - records->start);
    const double ratio = path / (4.0 * oneWay);
    const bool sameConn = siteRecords->connection == siteBid->connection;
    reused += sameConn;
    timerErr.push_back(tErr);
    arrivalErr.push_back(aErr);
    ratios.push_back(ratio);
    std::printf("%-6s %+10.1f %+14.1f %12.1f %10.2f %7s  %s\n", id.c_str(), tErr, aErr, path, ratio,
                sameConn ? "yes" : "no",
                platform::text::GbkToUtf8(dlg.m_snipes[static_cast<std::size_t>(k)].strState).c_str());
  }
  const TimingTransport::Call* openBid = timing.First("/bid?dealId=3999&");
  Stats t = Summarise(timerErr), a = Summarise(arrivalErr), r = Summarise(ratios);
  std::printf("\nbids placed: %d of %d; bid on the records read's connection: %d of %d\n", complete, snipes,
              reused, complete);
  std::printf("bid timer error (ms):            median %+.1f, worst %+.1f\n", t.median, t.worst);
  std::printf("bid arrival vs due, site clock:  median %+.1f, worst %+.1f (ms)\n", a.median, a.worst);
  std::printf("bid path / two round trips:      median %.2f, worst %.2f\n", r.median, r.worst);
  if (openBid)
    std::printf("opening timer error (ms):        %+.1f (%s)\n", Ms(openBid->start - openDue),
                dlg.Button(CMainDlg::IDC_OPENSNIPE)->text().toStdString().c_str());
  else
    std::printf("opening snipe did not fire\n");
  server.Stop();
  return complete == snipes ? 0 : 1;
}
