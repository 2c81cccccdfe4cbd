#pragma once
// A main window wired to an in-process auction-sim, a browser that only
// records what it was asked to open, and scripted message boxes.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeView>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "gavelhawk/gui/MainDlg.h"
#include "platform/dialog/dialog.h"
#include "platform/http/http.h"
#include "platform/shell/shell.h"
#include "platform/text/qgbk.h"
#include "sim/auction_sim.h"
#include "site/fetch.h"

// Readable failure messages for texts of the window.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace snipetest {

struct RecordingOpener : platform::shell::Opener {
  std::vector<std::string> urls;       // default browser
  std::vector<std::string> loginUrls;  // login browser
  void OpenUrl(const std::string& url) override { urls.push_back(url); }
  void OpenInLoginBrowser(const std::string& url) override { loginUrls.push_back(url); }
  void OpenDocument(const std::string&) override {}
  void StartProgram(const std::string&, const QStringList&) override {}
};

// A site time with 13 digits, just below a multiple of 10^9 ms so that
// closing times straddle it.
constexpr std::int64_t kT0 = 1386999990000;

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server.Start();
    server.SetClock(kT0, /*running=*/false);
    transport = std::make_unique<platform::http::CurlTransport>(::site::SiteHttpOptions());
    MainDlgServices s;
    s.transport = transport.get();
    // Transports of the window's workers carry the login as it stands.
    s.newTransport = [this] {
      auto t = std::make_unique<platform::http::CurlTransport>(::site::SiteHttpOptions());
      t->SetBeforeRequest([this](platform::http::CurlTransport& c) {
        std::lock_guard lk(loginMu);
        c.SetCookies(login);
      });
      return t;
    };
    s.opener = &opener;
    s.siteUrl = server.BaseUrl();
    s.homeUrl = server.BaseUrl() + "/";
    s.localTime = [this] {
      if (localTimes.empty()) return LocalTime{};
      LocalTime t = localTimes.front();
      localTimes.pop_front();
      return t;
    };
    platform::dialog::SetScripted(true);
    dlg = std::make_unique<CMainDlg>(s);
    dlg->show();
    platform::dialog::TakeShownBoxes();
  }

  void TearDown() override {
    dlg.reset();
    platform::dialog::SetScripted(false);
    server.Stop();
  }

  // A running auction with `current` as its highest bid (none when 0).
  sim::Auction Auction(std::int64_t id, std::int64_t current, std::int64_t closesInMs) {
    sim::Auction a;
    a.id = id;
    a.title = "测试商品 " + std::to_string(id);
    a.listPrice = 1000;
    a.startPrice = 1;
    a.lowerOffset = 1;
    a.higherOffset = 500;
    a.startMs = kT0 - 3600000;
    a.endMs = kT0 + closesInMs;
    if (current > 0) a.bids.push_back({"alice", current, kT0 - 60000});
    server.AddAuction(a);
    return a;
  }

  void Type(int id, const QString& text) {
    auto* edit = qobject_cast<QLineEdit*>(dlg->GetDlgItem(id));
    ASSERT_NE(edit, nullptr) << id;
    edit->setText(text);
  }
  QString Field(int id) const {
    auto* edit = qobject_cast<QLineEdit*>(dlg->GetDlgItem(id));
    return edit ? edit->text() : QString();
  }
  void Press(int id) {
    QPushButton* b = dlg->Button(id);
    ASSERT_NE(b, nullptr) << id;
    ASSERT_TRUE(b->isEnabled()) << id;
    // 清空抢拍 asks while a row waits: here the user means it.
    if (id == CMainDlg::IDC_CLEAR && dlg->WaitingSnipeCount() > 0) {
      platform::dialog::QueueAnswer(platform::dialog::Answer::Ok);
    }
    QTest::mouseClick(b, Qt::LeftButton);
  }
  void SetIEMode(bool on) {
    auto* box = qobject_cast<QCheckBox*>(dlg->GetDlgItem(CMainDlg::IDC_IEMODE));
    ASSERT_NE(box, nullptr);
    if (box->isChecked() != on) QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
    ASSERT_EQ(on, box->isChecked());
  }
  // Fills the snipe fields, presses 自动出价 and waits until its reads are
  // over and the engine has said whether the row is armed.
  void AddSnipe(std::int64_t id, int ceiling, int increment, int prep) {
    Type(CMainDlg::IDC_DEALID, QString::number(id));
    Type(CMainDlg::IDC_MAXPRICE, QString::number(ceiling));
    Type(CMainDlg::IDC_INCREMENT, QString::number(increment));
    Type(CMainDlg::IDC_PREPTIME, QString::number(prep));
    Press(CMainDlg::IDC_AUTOBID);
    Settle();
  }
  // Waits until no read of 自动出价/修改商品 runs and every row in use has
  // been armed or refused by the engine.
  void Settle() {
    ASSERT_TRUE(WaitUntil([&] {
      if (dlg->SnipeReadRunning()) return false;
      for (int i = 0; i <= List().last; ++i)
        if (!Armed(i) && !Finished(i)) return false;
      return true;
    }));
  }
  // Clicks row `row` of the snipe list, as the user picks a row.
  void ClickRow(int row) {
    QTreeView* list = View();
    const QModelIndex item = list->model()->index(row, 0);
    ASSERT_TRUE(item.isValid()) << row;
    list->scrollTo(item);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(item).center());
    // The row is loaded into the fields.
    ASSERT_EQ(QString::number(List().Row(row).nDealId), Field(CMainDlg::IDC_DEALID));
  }

  // Bid requests (not the records reads) that reached the site.
  std::vector<std::string> Bids() const {
    std::vector<std::string> out;
    for (const auto& r : server.LogFor("/json/paimai/bid?")) out.push_back(r.target);
    return out;
  }
  static std::string BidTarget(std::int64_t id, std::int64_t price) {
    return "/json/paimai/bid?dealId=" + std::to_string(id) + "&price=" + std::to_string(price);
  }
  std::string Url(const std::string& target) const { return server.BaseUrl() + target; }

  std::vector<platform::dialog::ShownBox> Boxes() { return platform::dialog::TakeShownBoxes(); }
  static QStringList Texts(const std::vector<platform::dialog::ShownBox>& boxes) {
    QStringList t;
    for (const auto& b : boxes) t << b.text;
    return t;
  }

  QString State(int row) const {
    return platform::text::GbkToQString(List().Row(static_cast<std::size_t>(row)).strState);
  }
  // What the list view shows in `column` of `row`.
  QString Shown(int row, int column) const { return View()->model()->index(row, column).data().toString(); }
  QTreeView* View() const { return qobject_cast<QTreeView*>(dlg->GetDlgItem(CMainDlg::IDC_SNIPELIST)); }
  // The window's snipe list model, as the tests read it.
  const gavelhawk::snipe::SnipeList& List() const { return dlg->Snipes(); }
  // Its bid went out (or it will never bid).
  bool Finished(int row) const {
    const auto phase = List().Row(row).ePhase;
    return phase == gavelhawk::snipe::SnipePhase::BidSent || phase == gavelhawk::snipe::SnipePhase::Finished;
  }

  // Runs the event loop until `done` holds; false if it never does. The
  // limit is only for a hung program: a busy machine never reaches it.
  static bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 60000) {
    return QTest::qWaitFor(done, timeoutMs);
  }

  // The user logs in to the site in the browser.
  void LogIn(const std::vector<platform::http::Cookie>& cookies) {
    transport->SetCookies(cookies);
    std::lock_guard lk(loginMu);
    login = cookies;
  }

  // The row waits for its bid, due this many ms after kT0 by the site's clock.
  bool Armed(int row) const { return List().Row(row).ePhase == gavelhawk::snipe::SnipePhase::Waiting; }
  std::int64_t Due(int row) const { return List().Row(static_cast<std::size_t>(row)).nDueSite - kT0; }
  // Requests of one kind that reached the site.
  std::size_t Count(const std::string& prefix) const { return server.LogFor(prefix).size(); }
  static std::string RecordsTarget(std::int64_t id) {
    return "/json/paimai/bid_records?dealId=" + std::to_string(id);
  }

  sim::Server server;
  std::unique_ptr<platform::http::CurlTransport> transport;
  RecordingOpener opener;
  std::deque<LocalTime> localTimes;
  std::mutex loginMu;
  std::vector<platform::http::Cookie> login;
  std::unique_ptr<CMainDlg> dlg;
};

inline QString U(const char* utf8) { return QString::fromUtf8(utf8); }

}  // namespace snipetest
