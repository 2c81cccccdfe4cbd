// The walk with several ids in flight against auction-sim and SQLite files:
// the same rows and endID.dat as the one-at-a-time walk, however it is
// stopped, and retries before an honest stop.
#include "tallyglass/crawl/walk_controller.h"
#include "tallyglass/crawl/walker.h"
#include "tests/tallyglass/window_fixture.h"

namespace tgtest {
namespace {

using tallyglass::crawl::WalkSession;
using Kind = tallyglass::crawl::AuctionOutcome::Kind;

class ConcurrentWalk : public HistoryWindowTest {
 protected:
  // A history with every kind of id, and auctions after the one that ends
  // the walk, which must never be stored.
  void Scenario() {
    for (int id = 2000001; id <= 2000060; ++id) {
      const std::string title = "拍品 " + std::to_string(id);
      switch (id % 10) {
        case 3:
          Unsold(id);
          break;
        case 5:
          break;  // no such auction
        case 7:
          Sold(id, title, 99, "low", 1000);  // a second read of the records
          break;
        case 9:
          Sold(id, title, 100, "u" + std::to_string(id));
          server.UpdateAuction(id, [](sim::Auction& a) { a.trxPriceOverride = -5; });
          break;
        default:
          Sold(id, title, 100 + id % 97, "u" + std::to_string(id), 1999, id % 4);
      }
    }
    RunningToday(2000048);
  }

  struct Run {
    std::vector<StoredRow> rows;
    QByteArray resumeFile;
  };

  tallyglass::crawl::WalkOptions Options(int n) const {
    tallyglass::crawl::WalkOptions o;
    o.siteUrl = server.BaseUrl();
    o.inFlight = n;
    o.backoff = std::chrono::milliseconds(10);
    return o;
  }
  static tallyglass::crawl::TransportFactory Factory() {
    return [] {
      return std::make_unique<platform::http::CurlTransport>(
          ::site::SiteHttpOptions(::site::kHistoryAgentName));
    };
  }
  std::unique_ptr<WalkSession> Session(tallyglass::db::HistoryDb& into, const QString& dir, int n,
                                       tallyglass::crawl::BatchLimits limits = {}) {
    const std::int32_t from = tallyglass::crawl::ReadResumeId(dir).value_or(-1);
    return std::make_unique<WalkSession>(&into, dir, Factory(), Options(n), from, limits);
  }
  // A fresh data folder starting after 2000000.
  QString Folder(const QString& name) {
    const QString dir = tmp.path() + "/" + name;
    EXPECT_TRUE(QDir().mkpath(dir));
    EXPECT_EQ(tallyglass::crawl::WriteResumeId(dir, 2000000), tallyglass::crawl::SaveResult::Saved);
    return dir;
  }
  static QByteArray ResumeFileIn(const QString& dir) {
    QFile f(tallyglass::crawl::ResumeFilePath(dir));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
  }
};

TEST_F(ConcurrentWalk, SameRowsAndResumeIdAsTheOneAtATimeWalk) {
  Scenario();
  // The walk one id at a time, as the reference.
  const QString refDir = Folder("one-at-a-time");
  tallyglass::db::HistoryDb refDb;
  ASSERT_TRUE(refDb.Open(refDir, {}));
  auto ref = Session(refDb, refDir, 1);
  ref->Start();
  ref->RunToEnd();
  ASSERT_EQ(ref->result(), WalkSession::Result::Completed);
  const std::vector<StoredRow> refRows = StoredIn(refDb);
  ASSERT_EQ(refRows.size(), 33u);
  EXPECT_EQ(refRows.back().id, 2000047) << "nothing after the auction running today";
  EXPECT_EQ(ResumeFileIn(refDir), QByteArray("2000047\r\n"));
  EXPECT_EQ(ref->implausible(), 4);

  enum class Interrupt { None, Pause, Kill };
  const struct {
    const char* name;
    int inFlight;
    Interrupt interrupt;
  } cases[] = {
      {"8 in flight", 8, Interrupt::None},
      {"3 in flight", 3, Interrupt::None},
      {"8 in flight, paused at 2000021, then resumed", 8, Interrupt::Pause},
      {"8 in flight, killed at 2000021, then resumed", 8, Interrupt::Kill},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const QString dir = Folder(c.name);
    tallyglass::db::HistoryDb into;
    ASSERT_TRUE(into.Open(dir, {}));
    if (c.interrupt != Interrupt::None) {
      // Small batches, so that a kill finds rows not yet committed.
      auto first = Session(into, dir, c.inFlight, {3, std::chrono::milliseconds(60000)});
      bool interrupted = false;
      first->onStep = [&](std::int32_t id, tallyglass::crawl::AuctionOutcome::Kind) {
        if (id != 2000021) return;
        interrupted = true;
        if (c.interrupt == Interrupt::Pause) first->Stop();
      };
      first->Start();
      if (c.interrupt == Interrupt::Pause) {
        first->RunToEnd();
        EXPECT_EQ(ResumeFileIn(dir), QByteArray("2000021\r\n"));
      } else {
        while (!interrupted && !first->Pump()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        // What a killed program leaves: committed rows, and endID.dat naming
        // one of them.
        first.reset();
        std::optional<std::int32_t> resume = tallyglass::crawl::ReadResumeId(dir);
        ASSERT_TRUE(resume.has_value());
        std::vector<StoredRow> kept = StoredIn(into);
        ASSERT_FALSE(kept.empty());
        EXPECT_EQ(kept.back().id, *resume) << "endID.dat names the last committed row";
      }
      ASSERT_TRUE(interrupted);
    }
    auto walk = Session(into, dir, c.inFlight);
    walk->Start();
    walk->RunToEnd();
    EXPECT_EQ(walk->result(), WalkSession::Result::Completed);
    EXPECT_EQ(StoredIn(into), refRows) << "no duplicate, no gap";
    EXPECT_EQ(ResumeFileIn(dir), ResumeFileIn(refDir));
  }
}

TEST_F(ConcurrentWalk, FailedRequestsAreRetriedThenTheWalkStopsBeforeTheId) {
  using Kind = sim::FaultKind;
  const struct {
    const char* name;
    Kind fault;
    std::string path;
    int times;  // -1: until cleared
    bool stops;
    int failedAnswers;  // the first try and the retries that failed
  } cases[] = {
      {"records fail twice, then answer", Kind::Status500, Records(2000003), 2, false, 2},
      {"detail page answers 500", Kind::Status500, Detail(2000003), -1, true, 4},
      {"records connection dropped", Kind::Refuse, Records(2000003), -1, true, 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    server.ClearAuctions();
    server.ClearFaults();
    for (int id = 2000001; id <= 2000006; ++id) Sold(id, "拍品", 100 + id % 10, "u");
    RunningToday(2000007);
    server.AddFault({c.fault, c.path, c.times});
    const QString dir = Folder(c.name);
    tallyglass::db::HistoryDb into;
    ASSERT_TRUE(into.Open(dir, {}));
    server.ClearLog();
    auto walk = Session(into, dir, 8);
    walk->Start();
    walk->RunToEnd();
    std::vector<int> ids;
    for (const StoredRow& r : StoredIn(into)) ids.push_back(r.id);
    if (c.stops) {
      EXPECT_EQ(walk->result(), WalkSession::Result::NetworkError);
      EXPECT_TRUE(walk->error().contains(QString::fromStdString(c.path))) << walk->error().toStdString();
      EXPECT_EQ(ids, (std::vector<int>{2000001, 2000002}));
      EXPECT_EQ(ResumeFileIn(dir), QByteArray("2000002\r\n"));
    } else {
      EXPECT_EQ(walk->result(), WalkSession::Result::Completed);
      EXPECT_EQ(ids.size(), 6u);
      EXPECT_EQ(ResumeFileIn(dir), QByteArray("2000006\r\n"));
    }
    // Three retries, no more. (libcurl itself sends a request again once
    // when a reused connection turns out closed, so a dropped connection
    // may show one extra.)
    int failed = 0;
    for (const auto& r : server.LogFor(c.path)) failed += r.status != 200;
    if (c.fault == Kind::Refuse) {
      EXPECT_GE(failed, c.failedAnswers);
      EXPECT_LE(failed, 2 * c.failedAnswers);
    } else {
      EXPECT_EQ(failed, c.failedAnswers);
    }
  }
}

// The 更新 button's walk without the window: a stop is a state the walk
// leaves on its own, with its outcome and texts as the window shows them.
TEST_F(ConcurrentWalk, ControllerStopIsAStateThatEndsInTheOutcome) {
  for (int id = 2000001; id <= 2000004; ++id) Sold(id, "拍品", 100, "u");
  RunningToday(2000005);
  const QString dir = Folder("controller");
  tallyglass::db::HistoryDb into;
  ASSERT_TRUE(into.Open(dir, {}));
  using tallyglass::crawl::WalkController;
  WalkController walk({&into, dir, Factory(), Options(1)});
  std::vector<std::tuple<WalkController::State, QString, bool>> seen;
  walk.onAuctionHandled = [&](std::int32_t id, Kind) {
    if (id == 2000002) walk.Stop();
    seen.emplace_back(walk.state(), walk.UpdateButtonText(), walk.QueryEnabled());
  };
  std::optional<WalkController::Outcome> outcome;
  QObject::connect(&walk, &WalkController::finished, [&](const WalkController::Outcome& o) { outcome = o; });
  ASSERT_TRUE(walk.Start(2000000));
  EXPECT_FALSE(walk.Start(2000000)) << "never a second walk under the first";
  (void)WaitFor([&] { return !walk.Running(); });
  using S = WalkController::State;
  EXPECT_EQ(seen, (decltype(seen){{S::Walking, "暂停", false}, {S::Stopping, "暂停", false}}));
  ASSERT_TRUE(outcome);
  EXPECT_EQ(outcome->SummaryText(), "更新完成,当前记录ID为2000002");
  EXPECT_EQ(std::tuple(walk.state(), walk.UpdateButtonText(), walk.QueryEnabled(), walk.ProgressText()),
            std::tuple(S::Idle, QString("更新"), true, QString()));
  EXPECT_EQ(ResumeFileIn(dir), QByteArray("2000002\r\n"));
  EXPECT_EQ(StoredIn(into).size(), 2u);
}

}  // namespace
}  // namespace tgtest
