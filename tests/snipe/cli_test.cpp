// `gavelhawk snipe` end to end: the program run as a user runs it, against
// auction-sim, without a display; its lines, its exit code and what reached
// the site.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <csignal>

#include "gavelhawk/snipe/price_history.h"
#include "gavelhawk/snipe/saved_list.h"
#include "sim/auction_sim.h"
#include "tallyglass/db/history_db.h"

namespace {

constexpr std::int64_t kT0 = 1386999990000;

class SnipeCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    server.Start();
    server.SetClock(kT0, /*running=*/true);
  }
  void TearDown() override { server.Stop(); }

  void Auction(std::int64_t id, std::int64_t current, std::int64_t closesInMs) {
    sim::Auction a;
    a.id = id;
    a.title = "测试 商品 " + std::to_string(id);
    a.listPrice = 1000;
    a.startMs = kT0 - 3600000;
    a.endMs = server.Now() + closesInMs;
    if (current > 0) a.bids.push_back({"alice", current, kT0 - 60000});
    server.AddAuction(a);
  }

  void Start(QProcess& p, const QStringList& args) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("AUCTION_SITE_URL", QString::fromStdString(server.BaseUrl()));
    env.insert("AUCTION_COOKIES", "none");
    env.insert("XDG_DATA_HOME", home.path());
    env.remove("TALLYGLASS_DATABASE");
    env.insert("TALLYGLASS_DATA_DIR", home.path() + "/history");
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    p.setProcessEnvironment(env);
    p.start(GAVELHAWK_BIN, QStringList{"snipe"} + args);
    ASSERT_TRUE(p.waitForStarted());
  }

  struct Run {
    int exitCode = -1;
    QStringList lines;
  };
  Run RunToEnd(const QStringList& args) {
    QProcess p;
    Run r;
    Start(p, args);
    EXPECT_TRUE(p.waitForFinished(30000));
    r.exitCode = p.exitCode();
    r.lines = QString::fromUtf8(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    return r;
  }
  std::size_t Bids() const { return server.LogFor("/json/paimai/bid?").size(); }

  sim::Server server;
  QTemporaryDir home;  // where the saved list and its lock live
};

TEST_F(SnipeCommand, OneLinePerEventAndTheExitCodeSaysWhetherAllWereWon) {
  Auction(3101, 10, 3500);
  Run won = RunToEnd({"3101", "50"});
  EXPECT_EQ(0, won.exitCode);
  ASSERT_EQ(3, won.lines.size()) << won.lines.join('|').toStdString();
  EXPECT_TRUE(won.lines[0].startsWith(
      QString::fromUtf8("event=armed id=3101 title=\"测试 商品 3101\" closing_in_ms=")))
      << won.lines[0].toStdString();
  EXPECT_TRUE(won.lines[0].contains(" fire_in_ms=")) << won.lines[0].toStdString();
  EXPECT_EQ("event=bid id=3101 price=11 answer=success", won.lines[1]);
  EXPECT_EQ("event=result id=3101 result=won final_price=11", won.lines[2]);

  // Lost (the site took our 11, but 10 stands: the answer was forced and
  // not recorded), a refused bid, and an auction that does not exist.
  Auction(3102, 10, 3500);
  server.ForceBidCode(200);
  server.ClearLog();
  Run mixed = RunToEnd({"--increment", "2", "3102", "50", "3999", "50"});
  EXPECT_EQ(1, mixed.exitCode);
  const QStringList expected = {
      QString::fromUtf8("event=error id=3999 reason=商品不存在或拍卖已结束"),
      "event=bid id=3102 price=12 answer=success",
      "event=result id=3102 result=lost final_price=10",
  };
  for (const QString& line : expected)
    EXPECT_TRUE(mixed.lines.contains(line)) << mixed.lines.join('|').toStdString();
  EXPECT_EQ(1u, Bids());

  Auction(3103, 10, 3500);
  server.ForceBidCode(462);
  Run refused = RunToEnd({"3103", "50"});
  EXPECT_EQ(1, refused.exitCode);
  EXPECT_TRUE(refused.lines.contains(
      QString::fromUtf8("event=bid id=3103 price=11 answer=code:462 state=出价失败(不能超过京东价)")))
      << refused.lines.join('|').toStdString();
  EXPECT_TRUE(refused.lines.contains("event=result id=3103 result=failed final_price=10"));
}

TEST_F(SnipeCommand, AGroupBuysOneAndItsHistoryIsTold) {
  // Tallyglass's history: three recent sales of 4101's title, one too old.
  {
    tallyglass::db::HistoryDb db;
    ASSERT_TRUE(db.Open(home.path() + "/history", QString())) << db.LastError().toStdString();
    const std::int32_t today = gavelhawk::snipe::DayNumber(QDateTime::currentMSecsSinceEpoch());
    std::vector<tallyglass::db::HistoryRecord> rows;
    for (const auto& [price, ago] :
         std::vector<std::pair<int, int>>{{100, 0}, {300, 1}, {200, 2}, {900, 40}}) {
      tallyglass::db::HistoryRecord r;
      r.nProductId = static_cast<std::int32_t>(rows.size()) + 1000;
      r.strTitle = QString::fromUtf8("测试 商品 4101");
      r.nTrxPrice = price;
      r.strBuyerName = QStringLiteral("buyer");
      r.nBidTime = today - ago;
      rows.push_back(r);
    }
    std::size_t saved = 0;
    QString error;
    ASSERT_TRUE(tallyglass::db::AppendBatch(&db, rows, &saved, &error)) << error.toStdString();
    db.Close();
  }
  struct Lot {
    std::int64_t id, current, closesInMs;
  };
  struct Case {
    QStringList args;
    std::vector<Lot> lots;
    int exitCode;
    QStringList lines;                 // among the output
    std::vector<std::int64_t> noBids;  // auctions that must see no bid
  };
  const std::vector<Case> cases = {
      // 4101 is won first; 4102 of its group is due after: no bid. 4103 is
      // outside any group and won. Bids are 4 s apart: the site refuses a
      // buyer's bids closer than that.
      {{"--group", "1", "4101", "50", "4102", "50", "--group", "0", "4103", "50"},
       {{4101, 10, 3500}, {4102, 10, 14000}, {4103, 10, 8000}},
       0,
       {"event=history id=4101 median=200 count=3", "event=result id=4101 result=won final_price=11",
        "event=skipped id=4102 reason=group_won", "event=result id=4103 result=won final_price=11"},
       {4102}},
      // The group won, but the auction outside it was not.
      {{"--group", "2", "4111", "50", "--group", "0", "4112", "50"},
       {{4111, 10, 3500}, {4112, 60, 8000}},
       1,
       {"event=result id=4111 result=won final_price=11",
        "event=result id=4112 result=failed final_price=60"},
       {}},
      {{"--group", "x", "4121", "50"}, {}, 2, {}, {}},
      {{"--group", "-1", "4121", "50"}, {}, 2, {}, {}},
      {{"4121", "--group", "1", "50"}, {}, 2, {}, {}},
      {{"4121", "50", "--group"}, {}, 2, {}, {}},
  };
  for (const Case& c : cases) {
    const std::string name = c.args.join(' ').toStdString();
    server.ClearLog();
    for (const Lot& l : c.lots) Auction(l.id, l.current, l.closesInMs);
    Run r = RunToEnd(c.args);
    EXPECT_EQ(c.exitCode, r.exitCode) << name << ": " << r.lines.join('|').toStdString();
    for (const QString& l : c.lines)
      EXPECT_TRUE(r.lines.contains(l))
          << name << ": " << l.toStdString() << " in " << r.lines.join('|').toStdString();
    if (c.exitCode == 2) {
      EXPECT_TRUE(r.lines.isEmpty()) << name;
      EXPECT_TRUE(server.Log().empty()) << name;
    }
    for (std::int64_t id : c.noBids)
      EXPECT_TRUE(server.LogFor("/json/paimai/bid?dealId=" + std::to_string(id) + "&").empty()) << name;
    // No history, no line.
    for (const QString& l : r.lines)
      EXPECT_TRUE(!l.startsWith("event=history") || l.startsWith("event=history id=4101 "))
          << l.toStdString();
  }
}

TEST_F(SnipeCommand, UsageErrorsExitTwoBeforeAnyRequest) {
  QStringList eleven;
  for (int i = 0; i < 11; ++i) eleven << QString::number(4000 + i) << "5";
  const std::vector<QStringList> cases = {
      {},
      {"3101"},
      {"3101", "x"},
      {"3101", "0"},
      {"--increment", "0", "3101", "5"},
      {"--prep"},
      {"3101", "5", "3101", "6"},
      eleven,
      {"--bogus", "3101", "5"},
  };
  for (const QStringList& args : cases) {
    Run r = RunToEnd(args);
    EXPECT_EQ(2, r.exitCode) << args.join(' ').toStdString();
    EXPECT_TRUE(r.lines.isEmpty()) << args.join(' ').toStdString();
  }
  EXPECT_TRUE(server.Log().empty());
}

TEST_F(SnipeCommand, RefusedWhileTheWindowHoldsTheList) {
  Auction(3301, 5, 8000);
  const std::string list = home.path().toStdString() + "/Gavelhawk/snipes.json";
  std::string refusal;
  const auto windowsLock = gavelhawk::ui::LockSavedList(list, &refusal);
  ASSERT_TRUE(windowsLock) << refusal;
  Run r = RunToEnd({"3301", "50"});
  EXPECT_EQ(1, r.exitCode);
  EXPECT_TRUE(r.lines.isEmpty());
  EXPECT_TRUE(server.Log().empty());
}

TEST_F(SnipeCommand, InterruptCancelsWithoutABid) {
  Auction(3201, 10, 60000);
  for (int sig : {SIGINT, SIGTERM}) {
    QProcess p;
    Start(p, {"3201", "50"});
    QString out;
    for (int i = 0; i < 200 && !out.contains("event=armed"); ++i) {
      p.waitForReadyRead(100);
      out += QString::fromUtf8(p.readAllStandardOutput());
    }
    ASSERT_TRUE(out.contains("event=armed id=3201")) << out.toStdString();
    ::kill(static_cast<pid_t>(p.processId()), sig);
    ASSERT_TRUE(p.waitForFinished(10000));
    out += QString::fromUtf8(p.readAllStandardOutput());
    EXPECT_EQ(QProcess::NormalExit, p.exitStatus());
    EXPECT_EQ(130, p.exitCode()) << sig;
    EXPECT_TRUE(out.endsWith("event=cancelled\n")) << out.toStdString();
  }
  EXPECT_EQ(0u, Bids());
  EXPECT_TRUE(server.LogFor("/json/paimai/bid_records").empty());
}

}  // namespace

TEST(SnipeCommandReads, ASlowPageHoldsUpNoOtherAuction) {
  sim::Server server;
  server.Start();
  server.SetClock(kT0, /*running=*/true);
  for (std::int64_t id : {3201, 3202}) {
    sim::Auction a;
    a.id = id;
    a.title = "商品 " + std::to_string(id);
    a.listPrice = 1000;
    a.startMs = kT0 - 3600000;
    // 3202 closes before a page read of 3201 would give up.
    a.endMs = server.Now() + (id == 3202 ? 3500 : 600000);
    a.bids.push_back({"alice", 10, kT0 - 60000});
    server.AddAuction(a);
  }
  sim::Fault trickle{sim::FaultKind::Trickle, "/detail/3201", -1};
  server.AddFault(trickle);
  QTemporaryDir home;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("AUCTION_SITE_URL", QString::fromStdString(server.BaseUrl()));
  env.insert("AUCTION_COOKIES", "none");
  env.insert("AUCTION_PAGE_DEADLINE_MS", "5000");
  env.insert("XDG_DATA_HOME", home.path());
  env.remove("DISPLAY");
  env.remove("WAYLAND_DISPLAY");
  env.remove("QT_QPA_PLATFORM");
  QProcess p;
  p.setProcessEnvironment(env);
  p.start(GAVELHAWK_BIN, QStringList{"snipe", "3201", "50", "3202", "50"});
  ASSERT_TRUE(p.waitForFinished(30000));
  const QStringList lines = QString::fromUtf8(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
  EXPECT_TRUE(lines.contains("event=bid id=3202 price=11 answer=success")) << lines.join('|').toStdString();
  int errors = 0;
  for (const QString& l : lines)
    errors += l.startsWith(QString::fromUtf8("event=error id=3201 reason=\"网络错误："));
  EXPECT_EQ(1, errors) << lines.join('|').toStdString();
  EXPECT_EQ(1u, server.LogFor("/json/paimai/bid?").size());
  EXPECT_EQ(1, p.exitCode());
}
