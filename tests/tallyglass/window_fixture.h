#pragma once
// The history window wired to an in-process auction-sim, a real SQLite file
// in a temporary folder, a browser that only records what it was asked to
// open, and scripted message boxes.
#include <gtest/gtest.h>

#include <QAbstractItemModel>
#include <QCoreApplication>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSqlQuery>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/dialog/dialog.h"
#include "platform/http/http.h"
#include "platform/shell/shell.h"
#include "sim/auction_sim.h"
#include "site/fetch.h"
#include "tallyglass/crawl/resume.h"
#include "tallyglass/db/history_db.h"
#include "tallyglass/gui/DataGrid.h"
#include "tallyglass/gui/HistoryDlg.h"

namespace tgtest {

// Waits for the window's worker threads (a walk, a query, the upkeep) and
// auction-sim's sockets; the limit is one only a hung program reaches, and
// no test asserts how long anything took.
inline bool WaitFor(const std::function<bool()>& done) { return QTest::qWaitFor(done, 60000); }

struct RecordingOpener : platform::shell::Opener {
  std::vector<std::string> urls;
  void OpenUrl(const std::string& url) override { urls.push_back(url); }
  void OpenInLoginBrowser(const std::string& url) override { urls.push_back(url); }
  void OpenDocument(const std::string&) override {}
  void StartProgram(const std::string&, const QStringList&) override {}
};

// Site time: day 16041 (1386000000 s), 8 hours before the day turns at
// 00:00 UTC.
constexpr std::int64_t kT0 = 1386000000000;
constexpr std::int32_t kToday = 16041;
constexpr std::int64_t kDay = 86400000;

// One stored row as the database holds it.
struct StoredRow {
  int id;
  QString title;
  int trxPrice;
  QString buyer;
  int price;
  int bidTime;
  bool operator==(const StoredRow&) const = default;
};
inline void PrintTo(const StoredRow& r, std::ostream* os) {
  *os << r.id << " " << r.title.toStdString() << " " << r.trxPrice << " " << r.buyer.toStdString() << " "
      << r.price << " " << r.bidTime;
}

class HistoryWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tmp.isValid());
    folder = tmp.path() + "/Tallyglass";
    server.Start();
    server.SetClock(kT0, /*running=*/false);
    transport =
        std::make_unique<platform::http::CurlTransport>(::site::SiteHttpOptions(::site::kHistoryAgentName));
    platform::dialog::SetScripted(true);
  }

  void TearDown() override {
    dlg.reset();
    db.reset();
    platform::dialog::SetScripted(false);
    server.Stop();
  }

  // Opens the database and the window, as the application does, with
  // endID.dat holding `lastId` (-1: endID.dat as it is).
  // `settle`: wait until today is known and the start-up check is done.
  void OpenWindow(std::int32_t lastId = 2000000, bool settle = true) {
    db = std::make_unique<tallyglass::db::HistoryDb>();
    ASSERT_TRUE(db->Open(folder, {})) << db->LastError().toStdString();
    if (lastId >= 0) {
      ASSERT_EQ(tallyglass::crawl::WriteResumeId(folder, lastId), tallyglass::crawl::SaveResult::Saved);
    }
    HistoryDlgServices s;
    s.db = db.get();
    s.transport = transport.get();
    s.opener = &opener;
    s.siteUrl = server.BaseUrl();
    s.shopUrl = "http://shop.invalid/";
    s.serviceUrl = "http://service.invalid/page.html";
    s.folder = folder;
    s.newTransport = [] {
      return std::make_unique<platform::http::CurlTransport>(
          ::site::SiteHttpOptions(::site::kHistoryAgentName));
    };
    s.inFlight = inFlight;
    // The demo's start: endID.dat at 2000000 over an empty table asks nothing.
    s.firstId = tallyglass::crawl::kDemoResumeId;
    dlg = std::make_unique<CHistoryDlg>(s);
    dlg->OnInitDialog();
    dlg->show();
    if (settle)
      (void)WaitFor([&] {
        return dlg->todaySource() != CHistoryDlg::TodaySource::Reading && dlg->UpkeepDone() &&
               !dlg->Recordset()->Running();
      });
  }

  // Rows put into the database before the window opens.
  void Seed(const std::vector<StoredRow>& rows) {
    tallyglass::db::HistoryDb seed;
    ASSERT_TRUE(seed.Open(folder, {})) << seed.LastError().toStdString();
    tallyglass::db::HistoryResultSet rs(&seed);
    for (const StoredRow& r : rows) {
      tallyglass::db::HistoryRecord h{r.id, r.title, r.trxPrice, r.buyer, r.price, r.bidTime};
      ASSERT_TRUE(rs.Append(h)) << rs.LastError().toStdString();
    }
  }

  // Every row of History, by id.
  std::vector<StoredRow> Stored() { return StoredIn(*db); }
  static std::vector<StoredRow> StoredIn(tallyglass::db::HistoryDb& from) {
    std::vector<StoredRow> rows;
    QSqlQuery q(from.Database());
    EXPECT_TRUE(
        q.exec("SELECT ProductID,Title,trxPrice,trxBuyerName,Price,bidTime FROM History ORDER BY ProductID"));
    while (q.next()) {
      rows.push_back({q.value(0).toInt(), q.value(1).toString(), q.value(2).toInt(), q.value(3).toString(),
                      q.value(4).toInt(), q.value(5).toInt()});
    }
    return rows;
  }

  // An auction closed `daysAgo` days before today, won by `buyer` at `price`
  // (nobody when `buyer` is empty: its bid records name "null"), or, with
  // daysAgo -1, one that closes later today: the walk ends at it.
  sim::Auction Lot(std::int64_t id, const std::string& title, std::int64_t price = 0,
                   const std::string& buyer = "", std::int64_t listPrice = 1999, int daysAgo = 1) {
    sim::Auction a;
    a.id = id;
    a.title = title;
    a.listPrice = listPrice;
    a.endMs = daysAgo < 0 ? kT0 + 3600000 : kT0 - daysAgo * kDay;
    a.startMs = a.endMs - 2 * 3600000;
    if (!buyer.empty()) a.bids.push_back({buyer, price, a.startMs + 60000});
    server.AddAuction(a);
    return a;
  }
  sim::Auction Sold(std::int64_t id, const std::string& title, std::int64_t price, const std::string& buyer,
                    std::int64_t listPrice = 1999, int daysAgo = 1) {
    return Lot(id, title, price, buyer, listPrice, daysAgo);
  }
  void Unsold(std::int64_t id) { Lot(id, "流拍"); }
  void RunningToday(std::int64_t id) { Lot(id, "进行中", 0, "", 800, -1); }

  void Type(int id, const QString& text) {
    auto* e = qobject_cast<QLineEdit*>(dlg->GetDlgItem(id));
    ASSERT_NE(e, nullptr) << id;
    e->setText(text);
  }
  QString Field(int id) const {
    auto* e = qobject_cast<QLineEdit*>(dlg->GetDlgItem(id));
    return e ? e->text() : QString("<no field>");
  }
  QPushButton* Button(int id) const { return qobject_cast<QPushButton*>(dlg->GetDlgItem(id)); }
  void Press(int id) {
    QPushButton* b = Button(id);
    ASSERT_NE(b, nullptr) << id;
    ASSERT_TRUE(b->isEnabled()) << id;
    QTest::mouseClick(b, Qt::LeftButton);
    // 更新 returns at once; the walk's end, its box and the grid's refresh
    // arrive later.
    if (id == IDC_UPDATE) WaitForWalk();
  }
  void WaitForWalk() const {
    (void)WaitFor([&] { return !dlg->Walk().Running(); });
    EXPECT_FALSE(dlg->Walk().Running()) << "the walk did not end";
    WaitForQuery();
  }
  QTableView* Grid() const { return static_cast<CDataGrid*>(dlg->GetDlgItem(IDC_GRID))->View(); }
  QStringList Headings() const {
    QStringList h;
    QAbstractItemModel* m = Grid()->model();
    for (int c = 0; m && c < m->columnCount(); ++c) h << m->headerData(c, Qt::Horizontal).toString();
    return h;
  }
  // Presses 查询 and waits until its rows and statistics are in.
  void PressQuery() {
    Press(IDC_QUERY);
    WaitForQuery();
  }
  void WaitForQuery() const {
    (void)WaitFor([&] { return !dlg->Recordset()->Running() && !dlg->Recordset()->Fetching(); });
    EXPECT_FALSE(dlg->Recordset()->Running()) << "the query did not finish";
  }
  // The ids of the grid's rows, in its order, after every page is read.
  std::vector<int> GridIds() const {
    std::vector<int> ids;
    QAbstractItemModel* m = Grid()->model();
    if (!m) return ids;
    (void)WaitFor([&] {
      if (m->canFetchMore({})) {
        m->fetchMore({});
        return false;
      }
      return !dlg->Recordset()->Fetching() && !dlg->Recordset()->Running();
    });
    int col = Headings().indexOf("ProductID");
    for (int r = 0; r < m->rowCount(); ++r) ids.push_back(m->index(r, col).data().toInt());
    return ids;
  }
  void ClickGridRow(int row) {
    QTableView* v = Grid();
    QRect cell = v->visualRect(v->model()->index(row, 1));
    ASSERT_TRUE(cell.isValid()) << row;
    QTest::mouseClick(v->viewport(), Qt::LeftButton, {}, cell.center());
  }
  static std::vector<QString> Boxes() {
    std::vector<QString> texts;
    for (const auto& b : platform::dialog::TakeShownBoxes()) {
      EXPECT_EQ(b.caption, "tallyglass") << b.text.toStdString();
      texts.push_back(b.text);
    }
    return texts;
  }
  // The day the last query counted its range of `days` from.
  std::int32_t QueriedToday(int days) const {
    const QString sql = dlg->Recordset()->statement().sql;
    return sql.mid(sql.lastIndexOf(' ') + 1).toInt() + days;
  }
  // Counts the close requests (the title bar's close) a window receives.
  struct CloseRequests : QObject {
    int count = 0;
    bool eventFilter(QObject*, QEvent* e) override {
      count += e->type() == QEvent::Close ? 1 : 0;
      return false;
    }
  };
  QByteArray ResumeFile() const {
    QFile f(tallyglass::crawl::ResumeFilePath(folder));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
  }
  // Targets of the requests that reached the site for `path`, in order.
  std::vector<std::string> Requests(const std::string& prefix) const {
    std::vector<std::string> t;
    for (const auto& r : server.LogFor(prefix)) t.push_back(r.target);
    return t;
  }
  int HomeReads() const {
    int n = 0;
    for (const auto& r : server.Log()) n += r.target == "/";
    return n;
  }
  static std::string Detail(std::int64_t id) { return "/detail/" + std::to_string(id); }
  static std::string Records(std::int64_t id) {
    return "/json/paimai/bid_records?dealId=" + std::to_string(id);
  }
  // Queues a click of a button, delivered while the walk runs.
  static void ClickLater(QPushButton* b) { QMetaObject::invokeMethod(b, "click", Qt::QueuedConnection); }

  QTemporaryDir tmp;
  QString folder;
  sim::Server server;
  std::unique_ptr<platform::http::CurlTransport> transport;
  RecordingOpener opener;
  std::unique_ptr<tallyglass::db::HistoryDb> db;
  std::unique_ptr<CHistoryDlg> dlg;
  int inFlight = tallyglass::crawl::kDefaultInFlight;
};

}  // namespace tgtest
