#include "gavelhawk/snipe/cli.h"

#include <QThread>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "gavelhawk/site/bid.h"
#include "gavelhawk/site/detail.h"
#include "gavelhawk/snipe/engine.h"
#include "gavelhawk/snipe/price_history.h"
#include "gavelhawk/snipe/reads.h"
#include "platform/text/gbk.h"
#include "site/fetch.h"

namespace gavelhawk::snipe {

namespace {

std::optional<std::int32_t> Whole(const std::string& s) {
  std::int32_t v = 0;
  const char* end = s.data() + s.size();
  auto [p, ec] = std::from_chars(s.data(), end, v);
  if (s.empty() || ec != std::errc() || p != end) return std::nullopt;
  return v;
}

// The options of the program's settings that take a value.
bool SettingWithValue(const std::string& a) {
  return a == "--site-url" || a == "--cookies" || a == "--login-browser" || a == "--update-url";
}

}  // namespace

std::string SnipeUsage() {
  return "用法：gavelhawk snipe [--increment N] [--prep MS] [--group G] ID MAX [ID MAX]... [--group G ID "
         "MAX...]...\n"
         "  最多 10 对夺宝编号和最高出价；加价幅度默认 1 元，准备时间默认 1000 毫秒。\n"
         "  --group G：其后的商品（直到下一个 --group）为抢拍组 G，组内只买一件：一件得标后\n"
         "  其余不再出价；G 为 0 表示不分组。\n"
         "  退出码：0 每个组都得标一件且不分组的商品都得标；1 其他；2 用法错误；130 被中断。\n"
         "  站点和登录的设置与窗口相同（--site-url、--cookies 或环境变量）。\n";
}

CliParse ParseSnipeArgs(const std::vector<std::string>& args) {
  CliParse out;
  std::vector<std::int32_t> numbers;
  std::vector<std::int32_t> groupOf;  // per number
  std::int32_t group = 0;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string a = args[i];
    std::string value;
    bool hasValue = false;
    if (a.rfind("--", 0) == 0) {
      if (const auto eq = a.find('='); eq != std::string::npos) {
        value = a.substr(eq + 1);
        a = a.substr(0, eq);
        hasValue = true;
      }
    }
    auto take = [&]() -> bool {
      if (hasValue) return true;
      if (i + 1 >= args.size()) return false;
      value = args[++i];
      return true;
    };
    if (a == "--increment" || a == "--prep") {
      if (!take()) {
        out.error = a + " 需要一个数";
        return out;
      }
      const auto n = Whole(value);
      if (!n || (a == "--increment" && *n < 1) || *n < 0) {
        out.error = a + " 的值无效：" + value;
        return out;
      }
      (a == "--increment" ? out.args.increment : out.args.prep) = *n;
    } else if (a == "--group") {
      if (!take()) {
        out.error = "--group 需要一个数";
        return out;
      }
      const auto n = Whole(value);
      if (!n || *n < 0) {
        out.error = "--group 的值无效：" + value;
        return out;
      }
      if (numbers.size() % 2 != 0) {
        out.error = "--group 不能在夺宝编号和它的最高出价之间";
        return out;
      }
      group = *n;
    } else if (SettingWithValue(a)) {
      out.args.rest.push_back(a);
      if (!take()) {
        out.error = a + " 需要一个值";
        return out;
      }
      out.args.rest.push_back(value);
    } else if (a.rfind("--", 0) == 0) {
      out.args.rest.push_back(args[i]);
    } else {
      const auto n = Whole(a);
      if (!n || *n < 1) {
        out.error = "夺宝编号和最高出价必须是正整数：" + a;
        return out;
      }
      numbers.push_back(*n);
      groupOf.push_back(group);
    }
  }
  if (numbers.empty() || numbers.size() % 2 != 0) {
    out.error = "需要成对的夺宝编号和最高出价";
    return out;
  }
  if (numbers.size() / 2 > kCliMaxPairs) {
    out.error = "最多 10 对夺宝编号和最高出价";
    return out;
  }
  std::set<std::int32_t> seen;
  for (std::size_t k = 0; k < numbers.size(); k += 2) {
    if (!seen.insert(numbers[k]).second) {
      out.error = "夺宝编号重复：" + std::to_string(numbers[k]);
      return out;
    }
    out.args.auctions.emplace_back(numbers[k], numbers[k + 1]);
    out.args.groups.push_back(groupOf[k]);
  }
  return out;
}

std::string QuoteValue(const std::string& v) {
  if (!v.empty() && v.find_first_of(" \t\"\\") == std::string::npos) return v;
  std::string q = "\"";
  for (char c : v) {
    if (c == '"' || c == '\\') q += '\\';
    q += c;
  }
  return q + "\"";
}

int RunSnipe(const CliArgs& args, const CliSite& site, std::ostream& out,
             const std::atomic<bool>& interrupted) {
  // Qt takes the first thread that touches it for its main thread: let that
  // be this one, not a reading thread's history lookup (whose thread data
  // would outlive it).
  (void)QThread::currentThread();
  std::mutex mu;
  std::condition_variable cv;
  std::map<std::int64_t, bool> open;           // id -> still waiting for its result
  std::map<std::int64_t, std::string> titles;  // UTF-8
  std::map<std::int64_t, bool> won;
  auto line = [&](const std::string& text) {
    out << text << '\n';
    out.flush();
  };
  auto finish = [&](std::int64_t id, bool w) {
    open[id] = false;
    won[id] = w;
    cv.notify_all();
  };

  EngineConfig config;
  config.siteUrl = site.siteUrl;
  config.transport = site.newTransport();
  config.newTransport = site.newTransport;
  config.requestDeadline = ::site::RequestDeadline();
  EngineEvents events;
  events.row = [&](const RowEvent& e) {
    std::lock_guard lk(mu);
    const std::string id = std::to_string(e.dealId);
    switch (e.kind) {
      case RowEvent::Kind::Armed:
        line("event=armed id=" + id + " title=" + QuoteValue(titles[e.dealId]) +
             " closing_in_ms=" + std::to_string(e.closingInMs) + " fire_in_ms=" + std::to_string(e.fireInMs));
        return;
      case RowEvent::Kind::NotArmed:
        line("event=error id=" + id + " reason=" + QuoteValue(e.state));
        finish(e.dealId, false);
        return;
      case RowEvent::Kind::Bid: {
        std::string l = "event=bid id=" + id + " price=" + std::to_string(e.price);
        if (e.success) {
          l += " answer=success";
        } else if (e.networkError) {
          l += " answer=error state=" + QuoteValue(e.state) + " reason=" + QuoteValue(e.reason);
        } else {
          l += " answer=code:" + std::to_string(e.code) + " state=" + QuoteValue(e.state);
        }
        line(l);
        return;
      }
      case RowEvent::Kind::Price:
        return;
      case RowEvent::Kind::Skipped:
        line("event=skipped id=" + id + " reason=" + e.skipReason);
        finish(e.dealId, false);
        return;
      case RowEvent::Kind::Result: {
        const char* r = e.outcome == Outcome::Won ? "won" : e.outcome == Outcome::Lost ? "lost" : "failed";
        line("event=result id=" + id + " result=" + r + " final_price=" + std::to_string(e.finalPrice));
        finish(e.dealId, e.outcome == Outcome::Won);
        return;
      }
    }
  };
  Engine engine(std::move(config), std::move(events));
  engine.SetBidsItself(true);

  // Each auction is read on a thread and a connection of its own, beside
  // the engine: a slow or dead page holds up no other auction, no armed bid
  // and no signal.
  for (const auto& [id, ceiling] : args.auctions) open[id] = true;
  std::vector<std::unique_ptr<platform::http::Transport>> readers;
  for (std::size_t k = 0; k < args.auctions.size(); ++k) readers.push_back(site.newTransport());
  std::size_t readsLeft = args.auctions.size();
  std::vector<std::thread> reads;
  for (std::size_t k = 0; k < args.auctions.size(); ++k) {
    reads.emplace_back([&, k] {
      const auto [id, ceiling] = args.auctions[k];
      const AuctionRead read = ReadAuction(*readers[k], site.siteUrl, id, true);
      std::string reason;
      if (read.failed) {
        reason = std::string(site::kMsgNetworkError) + read.error;
      } else if (!read.found || read.detail.status == 2) {
        reason = site::kMsgNoSuchAuction;
      }
      RowSpec setup;
      setup.nDealId = id;
      setup.strTitle = read.detail.title;
      setup.nMaxPrice = ceiling;
      setup.nIncrement = site::BoundIncrement(args.increment, read.detail.lower, read.detail.higher);
      setup.nPrepTime = args.prep;
      setup.nEndTime = read.endTime;
      setup.nGroup = k < args.groups.size() ? args.groups[k] : 0;
      std::unique_lock lk(mu);
      --readsLeft;
      cv.notify_all();
      if (interrupted) return;
      if (!reason.empty()) {
        line("event=error id=" + std::to_string(id) + " reason=" + QuoteValue(reason));
        finish(id, false);
        return;
      }
      titles[id] = platform::text::GbkToUtf8(setup.strTitle);
      engine.Arm(k + 1, setup);
      lk.unlock();
      // After arming, beside the engine: a history server that does not
      // answer holds up no bid.
      const std::int64_t nowMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::system_clock::now().time_since_epoch())
                                     .count();
      const PriceHistory h =
          LookUpPriceHistory(HistorySourceFromEnvironment(std::getenv, false), read.detail.title, nowMs);
      const std::string history = HistoryEventLine(id, h);
      lk.lock();
      if (!history.empty() && !interrupted) line(history);
    });
  }

  bool cancelled = false;
  {
    std::unique_lock lk(mu);
    for (;;) {
      bool waiting = false;
      for (const auto& [id, w] : open) waiting = waiting || w;
      if (!waiting && readsLeft == 0) break;
      if (interrupted) {
        cancelled = true;
        break;
      }
      cv.wait_for(lk, std::chrono::milliseconds(50));
    }
  }
  if (cancelled) {
    for (auto& r : readers) r->Cancel(true);
    engine.Stop();
  }
  for (auto& t : reads) t.join();
  engine.Stop();
  if (cancelled) {
    line("event=cancelled");
    return 130;
  }
  // A group succeeds with one win; an auction outside a group with its own.
  std::map<std::int32_t, bool> groupWon;
  bool allWon = true;
  for (std::size_t k = 0; k < args.auctions.size(); ++k) {
    const std::int32_t g = k < args.groups.size() ? args.groups[k] : 0;
    const bool w = won[args.auctions[k].first];
    if (g == 0)
      allWon = allWon && w;
    else
      groupWon[g] = groupWon[g] || w;
  }
  for (const auto& [g, w] : groupWon) allWon = allWon && w;
  return allWon ? 0 : 1;
}

}  // namespace gavelhawk::snipe
