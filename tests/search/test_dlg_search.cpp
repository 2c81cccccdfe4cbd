// The search against auction-sim: the controller's crawl (the requests that
// reach the site, the hits), and 刷新商品 and the two "×" buttons in the real
// window (the rows of the results list, the message shown, the caption).
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <algorithm>
#include <functional>
#include <memory>

#include "gavelhawk/gui/MainDlg.h"
#include "gavelhawk/gui/result_table.h"
#include "gavelhawk/search/listing.h"
#include "gavelhawk/search/parallel_crawl.h"
#include "gavelhawk/search/search_controller.h"
#include "gavelhawk/site/bid.h"
#include "platform/dialog/dialog.h"
#include "platform/http/http.h"
#include "platform/text/gbk.h"
#include "platform/text/qgbk.h"
#include "sim/auction_sim.h"
#include "site/fetch.h"
#include "site/paths.h"
#include "tallyglass/db/history_db.h"

namespace {

using ::site::ListingPath;

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

// The site's clock, frozen on a whole second: N on its listing pages is 12345.
constexpr std::int64_t kT = 1386012345000;

class SearchWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    site.Start();
    site.SetClock(kT, /*running=*/false);
    transport = std::make_unique<platform::http::CurlTransport>(::site::SiteHttpOptions());
    MainDlgServices s;
    s.transport = transport.get();
    s.newTransport = [] {
      return std::make_unique<platform::http::CurlTransport>(::site::SiteHttpOptions());
    };
    s.siteUrl = site.BaseUrl();
    platform::dialog::SetScripted(true);
    Open(s);
    search.SetSite(site.BaseUrl(), s.newTransport);
    search.SetMaxDiscount("0.5");
  }
  void Open(const MainDlgServices& s) {
    dlg = std::make_unique<CMainDlg>(s);
    dlg->OnInitDialog();  // no update page: start-up ends at once
    ASSERT_EQ(CMainDlg::StartUp::Started, dlg->StartUpState());
    dlg->show();
    platform::dialog::TakeShownBoxes();
  }
  void TearDown() override {
    dlg.reset();
    platform::dialog::SetScripted(false);
    site.Stop();
  }

  // A running auction closing `seconds` after kT, with `current` as its
  // highest bid (none when 0).
  void Deal(std::int64_t id, std::int64_t seconds, std::int64_t listPrice, std::int64_t current,
            const std::string& title = "Item", int category = 4000, const std::string& condition = "全新") {
    sim::Auction a;
    a.id = id;
    a.title = title;
    a.condition = condition;
    a.listPrice = listPrice;
    a.startMs = kT - 3600000;
    a.endMs = kT + seconds * 1000;
    a.category = category;
    if (current > 0) a.bids.push_back({"alice", current, kT - 60000});
    site.AddAuction(a);
  }

  void Type(int id, const char* utf8) {
    auto* edit = qobject_cast<QLineEdit*>(dlg->GetDlgItem(id));
    ASSERT_NE(edit, nullptr) << id;
    edit->setText(U(utf8));
  }
  QString Field(int id) const {
    auto* edit = qobject_cast<QLineEdit*>(dlg->GetDlgItem(id));
    return edit ? edit->text() : QString();
  }
  void SetDiscount(const char* text) {
    auto* combo = qobject_cast<QComboBox*>(dlg->GetDlgItem(CMainDlg::IDC_DISCOUNT));
    ASSERT_NE(combo, nullptr);
    combo->setCurrentText(U(text));
  }
  void Press(int id = CMainDlg::IDC_REFRESH) {
    QPushButton* b = dlg->Button(id);
    ASSERT_NE(b, nullptr) << id;
    b->click();
  }
  QString Caption() const { return dlg->Button(CMainDlg::IDC_REFRESH)->text(); }
  // Presses 刷新商品 and serves the window until the crawl has ended.
  void Refresh() {
    Press();
    WaitForCrawl();
  }
  void WaitForCrawl(const gavelhawk::search::SearchController* c = nullptr) {
    if (!c) c = &dlg->Search();
    QElapsedTimer t;
    t.start();
    while (c->Running() && t.elapsed() < 60000) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    ASSERT_FALSE(c->Running()) << "the crawl did not end";
  }
  // One crawl of the controller alone with these (upper-cased) words.
  gavelhawk::search::CrawlOutcome Crawl(std::array<std::string, 4> include = {},
                                        std::array<std::string, 4> exclude = {}) {
    gavelhawk::search::CrawlOutcome out;
    search.SetFinished([&out](const auto& o) { out = o; });
    search.Press(gavelhawk::search::KeywordFilter(include, exclude));
    WaitForCrawl(&search);
    return out;
  }
  std::vector<std::int32_t> HitIds() const {
    std::vector<std::int32_t> ids;
    for (int i = 0; i <= search.HitLast(); ++i)
      ids.push_back(search.Hits()[static_cast<std::size_t>(i)].nDealId);
    return ids;
  }
  // Pages after the first hold their answers back for a minute: the crawl
  // runs until it is stopped, however fast or slow the machine.
  void HoldPagesAfterTheFirst() {
    for (int page = 2; page <= 30; ++page) SlowPages(60000, ListingPath(0, page));
  }
  // Every listing page answers `ms` late, so that the crawl lasts a while.
  void SlowPages(int ms, const std::string& prefix = "/paimai/") {
    sim::Fault f;
    f.kind = sim::FaultKind::Slow;
    f.pathPrefix = prefix;
    f.delayMs = ms;
    site.AddFault(f);
  }

  // The results list as it shows the hits.
  QTreeView* Results() const { return qobject_cast<QTreeView*>(dlg->GetDlgItem(CMainDlg::IDC_RESULTLIST)); }
  int Rows() const { return Results()->model()->rowCount(); }
  // Column `column` of every row, top to bottom.
  QStringList Column(int column) const {
    QStringList c;
    for (int row = 0; row < Rows(); ++row) c << Cell(row, column);
    return c;
  }
  QString Cell(int row, int column) const { return Results()->model()->index(row, column).data().toString(); }
  QStringList Messages() {
    QStringList t;
    for (const auto& b : platform::dialog::TakeShownBoxes()) t << b.text;
    return t;
  }

  std::size_t Requests(const std::string& prefix) const { return site.LogFor(prefix).size(); }
  std::size_t DealRequests(std::int64_t id) const {
    return Requests("/detail/" + std::to_string(id)) +
           Requests("/json/paimai/bid_records?dealId=" + std::to_string(id));
  }
  std::vector<std::string> Targets() const {
    std::vector<std::string> t;
    for (const auto& r : site.Log()) t.push_back(r.target);
    return t;
  }

  // Runs `step` at every dispatch of the window's messages until it returns
  // true: what a user does while the crawl runs.
  void DuringCrawl(std::function<bool()> step) {
    auto* timer = new QTimer(dlg.get());
    timer->setInterval(0);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, step] {
      if (step()) timer->stop();
    });
    timer->start();
  }

  sim::Server site;
  std::unique_ptr<platform::http::CurlTransport> transport;
  std::unique_ptr<CMainDlg> dlg;
  gavelhawk::search::SearchController search;
};

TEST_F(SearchWindow, TimeWindowEdgesOnPageOne) {
  // Page 1 corrects by -12 s: 21 s leave 9 (skipped), 22 leave 10; 57612
  // leaves 57600 (kept), 57613 leaves 57601 (ends the page).
  Deal(1000021, 21, 1000, 100);
  Deal(1000022, 22, 1000, 100);
  Deal(1057612, 57612, 1000, 100);
  Deal(1057613, 57613, 1000, 100);
  Refresh();
  EXPECT_EQ(DealRequests(1000021), 0u);
  EXPECT_EQ(DealRequests(1000022), 2u);
  EXPECT_EQ(DealRequests(1057612), 2u);
  EXPECT_EQ(DealRequests(1057613), 0u);
  EXPECT_EQ(Column(0), QStringList({"1000022", "1057612"}));
  EXPECT_EQ(Column(3), QStringList({U("10秒"), U("960分 0秒")}));
  EXPECT_TRUE(Messages().isEmpty());
  // The page that ended early is followed by the next.
  EXPECT_EQ(Requests(ListingPath(0, 2)), 1u);
}

TEST_F(SearchWindow, ThirtyPagesAreReadAndNeverThirtyOne) {
  // 31 full pages of deals that no keyword lets through.
  for (int i = 0; i < 31 * 16; ++i) Deal(3000000 + i, 100 + i, 1000, 100, "Other thing");
  Type(CMainDlg::IDC_INCLUDE1, "ipad");
  Refresh();
  for (int page = 1; page <= 30; ++page) EXPECT_EQ(Requests(ListingPath(0, page)), 1u) << page;
  EXPECT_EQ(Requests(ListingPath(0, 31)), 0u);
  EXPECT_EQ(Requests("/detail/"), 0u);
  EXPECT_EQ(Requests("/json/"), 0u);
  EXPECT_EQ(Messages(), QStringList{U("没有搜索结果")});
  EXPECT_EQ(Caption(), U("刷新商品"));
}

TEST_F(SearchWindow, FortyEighthHitEndsTheCrawlMidPage) {
  // Five pages of 16. On page 1 every fourth deal is too dear: 12 hits,
  // then 16 and 16, and the 4th deal of page 4 is the 48th.
  for (int i = 0; i < 80; ++i) Deal(4000000 + i, 100 + i, 1000, (i < 16 && i % 4 == 3) ? 900 : 100);
  Crawl();
  ASSERT_EQ(search.HitLast(), 47);
  EXPECT_EQ(search.Hits()[47].nDealId, 4000051);
  EXPECT_EQ(DealRequests(4000051), 2u);
  EXPECT_EQ(Requests(ListingPath(0, 4)), 1u);
  // One at a time the crawl makes 4 + 52 + 52 requests; reading ahead may
  // add a few, never more than eight.
  EXPECT_LE(site.Log().size(), 108u + gavelhawk::search::kMaxExtraRequests);
}

TEST_F(SearchWindow, RequestsPerDealFollowTheOrderOfTheChecks) {
  Deal(5000001, 15, 1000, 100, "Apple iPad");                       // too close to its end
  Deal(5000002, 100, 1000, 100, "Apple iPad case");                 // excluded
  Deal(5000003, 101, 1000, 100, "Apple iPhone");                    // include word missing
  Deal(5000004, 102, 1000, 100, "Apple iPad", 4000, "二手九成新");  // condition too long
  Deal(5000005, 103, 1000, 900, "Apple iPad");                      // too dear
  Deal(5000006, 104, 1000, 100, "Apple iPad");                      // stored
  Crawl({"IPAD"}, {"CASE"});
  EXPECT_EQ(DealRequests(5000001), 0u);
  EXPECT_EQ(DealRequests(5000002), 0u);
  EXPECT_EQ(DealRequests(5000003), 0u);
  EXPECT_EQ(Requests("/detail/5000004"), 1u);
  EXPECT_EQ(Requests("/json/paimai/bid_records?dealId=5000004"), 0u);
  EXPECT_EQ(DealRequests(5000005), 2u);
  EXPECT_EQ(DealRequests(5000006), 2u);
  EXPECT_EQ(HitIds(), std::vector<std::int32_t>{5000006});
  // Detail page first, then the bid records.
  const auto t = Targets();
  auto detail = std::find(t.begin(), t.end(), "/detail/5000006");
  auto records = std::find(t.begin(), t.end(), "/json/paimai/bid_records?dealId=5000006");
  ASSERT_NE(records, t.end());
  EXPECT_LT(detail, records);
}

TEST_F(SearchWindow, LowerCaseWordsMatchAnyCaseAndTheTitleKeepsItsCase) {
  Deal(6000001, 100, 1000, 100, "Apple IPAD Mini");
  Deal(6000002, 101, 1000, 100, "apple ipad mini smart CASE");
  Deal(6000003, 102, 1000, 100, "Apple iPad Air");
  Type(CMainDlg::IDC_INCLUDE1, "ipad");
  Type(CMainDlg::IDC_INCLUDE3, "Mini");
  Type(CMainDlg::IDC_EXCLUDE4, "case");
  Refresh();
  EXPECT_EQ(Column(1), QStringList{"Apple IPAD Mini"});
  // The members keep the upper-cased words.
  EXPECT_EQ(dlg->m_strInclude1, "IPAD");
  EXPECT_EQ(dlg->m_strInclude3, "MINI");
  EXPECT_EQ(dlg->m_strExclude4, "CASE");
}

TEST_F(SearchWindow, ChineseWordsMatchByteForByte) {
  // 碼 is B4 61 in GBK, 碅 is B4 41: upper-casing the second byte would
  // turn the word into another one.
  Deal(7000001, 100, 1000, 100, "數碼相機");
  Deal(7000002, 101, 1000, 100, "數碅相機");
  Deal(7000003, 102, 1000, 100, "数码相机");
  Deal(7000004, 103, 1000, 100, "數碼 華為");
  Type(CMainDlg::IDC_INCLUDE2, "數碼");
  Type(CMainDlg::IDC_EXCLUDE1, "a");  // 華 is C8 41: its second byte is "A"
  Refresh();
  EXPECT_EQ(Column(1), QStringList({U("數碼相機"), U("數碼 華為")}));
  EXPECT_EQ(platform::text::GbkToUtf8(dlg->m_strInclude2), "數碼");
  EXPECT_EQ(DealRequests(7000002), 0u);
  EXPECT_EQ(DealRequests(7000003), 0u);
}

TEST_F(SearchWindow, EmptyRowsAndTheStartingLimitOfHalf) {
  Deal(8000001, 100, 1000, 499);              // 0.499: kept
  Deal(8000002, 101, 1000, 500);              // 0.5: not below the limit
  Deal(8000003, 102, 0, 700);                 // no list price: kept, -1.00
  Deal(8000004, 103, 1999, 0, "Nobody bid");  // no bids: 0.00
  Refresh();
  EXPECT_EQ(Column(0), QStringList({"8000001", "8000003", "8000004"}));
  EXPECT_EQ(Cell(0, 2), U("全新"));
  EXPECT_EQ(Column(4), QStringList({"0.50", "-1.00", "0.00"}));  // 0.499 shown with two decimals
  EXPECT_EQ(Column(5), QStringList({"499", "700", "0"}));
  EXPECT_EQ(Column(6), QStringList({"1000", "0", "1999"}));
  EXPECT_EQ(DealRequests(8000002), 2u);
}

TEST_F(SearchWindow, OnePointZeroRefusesAnEqualPrice) {
  Deal(8100001, 100, 1999, 1999);
  Deal(8100002, 101, 1999, 1998);
  SetDiscount("1.0");
  Refresh();
  EXPECT_EQ(Column(0), QStringList{"8100002"});
  EXPECT_EQ(Cell(0, 4), "1.00");  // 0.9995 rounds up in the view, yet passed
}

TEST_F(SearchWindow, TypedLimitIsReadWithAtof) {
  Deal(8200001, 100, 1000, 740);
  Deal(8200002, 101, 1000, 760);
  search.SetMaxDiscount("0.75 or so");
  Crawl();
  EXPECT_EQ(HitIds(), std::vector<std::int32_t>{8200001});
}

TEST_F(SearchWindow, UnreadableListingPageIsPassedOver) {
  for (int i = 0; i < 20; ++i) Deal(9000000 + i, 100 + i, 1000, 100);
  sim::Fault f;
  f.kind = sim::FaultKind::Refuse;
  f.pathPrefix = ListingPath(0, 1);
  f.remaining = 1;
  site.AddFault(f);
  // One page that failed is no failure of the listing: the window says nothing.
  const auto out = Crawl();
  EXPECT_LT(out.failedPages, out.pages);
  // Page 1's deals were never seen; page 2 holds the last four.
  EXPECT_EQ(HitIds(), (std::vector<std::int32_t>{9000016, 9000017, 9000018, 9000019}));
  EXPECT_EQ(DealRequests(9000000), 0u);
  EXPECT_EQ(Requests(ListingPath(0, 30)), 1u);
}

TEST_F(SearchWindow, ListingPagesThatAllFailSayWhy) {
  Deal(9050001, 100, 1000, 100);
  Refresh();
  ASSERT_EQ(Rows(), 1);
  const struct {
    sim::FaultKind kind;
    const char* reason;  // how the message goes on; empty: any reason
  } cases[] = {{sim::FaultKind::Status500, "HTTP 500"}, {sim::FaultKind::Refuse, ""}};
  for (const auto& c : cases) {
    sim::Fault f;
    f.kind = c.kind;
    f.pathPrefix = "/paimai/";
    site.AddFault(f);
    Refresh();
    const QStringList shown = Messages();
    ASSERT_EQ(shown.size(), 1);
    const QString prefix = U("网络错误，商品列表读取失败：");
    EXPECT_TRUE(shown[0].startsWith(prefix)) << shown[0].toStdString();
    EXPECT_GT(shown[0].size(), prefix.size());
    if (*c.reason) {
      EXPECT_EQ(shown[0], prefix + U(c.reason));
    }
    EXPECT_EQ(Rows(), 1);  // the last rows stay
    site.ClearFaults();
  }
}

TEST_F(SearchWindow, ClockOutOfRangeEndsTheCrawl) {
  // A fourteen-digit clock: N reads as 123456.
  site.SetClock(13860123456789, false);
  Deal(9100001, 100, 1000, 100);
  site.UpdateAuction(9100001, [](sim::Auction& a) {
    a.startMs = 13860123456789 - 3600000;
    a.endMs = 13860123456789 + 100000;
  });
  Refresh();
  // Pages read ahead of the first are the only requests made in vain.
  EXPECT_EQ(Requests(ListingPath(0, 1)), 1u);
  EXPECT_LE(Requests("/paimai/"), 1u + gavelhawk::search::kMaxExtraRequests);
  EXPECT_EQ(DealRequests(9100001), 0u);
  EXPECT_EQ(Messages(), QStringList{U("没有搜索结果")});
  EXPECT_EQ(Caption(), U("刷新商品"));
}

TEST_F(SearchWindow, CrawlThatFindsNothingLeavesThePreviousRows) {
  Deal(9200001, 100, 1000, 100, "Lenovo ThinkPad");
  Deal(9200002, 101, 2000, 300, "Lenovo IdeaPad");
  Refresh();
  ASSERT_EQ(Rows(), 2);
  ASSERT_TRUE(Messages().isEmpty());

  Type(CMainDlg::IDC_INCLUDE1, "macbook");
  Refresh();
  EXPECT_EQ(Messages(), QStringList{U("没有搜索结果")});
  ASSERT_EQ(Rows(), 2);
  EXPECT_EQ(Cell(1, 1), "Lenovo IdeaPad");
  // The slots still hold what the rows show: taking row 1 takes that hit.
  Results()->selectionModel()->select(Results()->model()->index(1, 0),
                                      QItemSelectionModel::Select | QItemSelectionModel::Rows);
  EXPECT_EQ(Field(CMainDlg::IDC_DEALID), "9200002");
  EXPECT_EQ(Field(CMainDlg::IDC_MAXPRICE), "1000");
}

TEST_F(SearchWindow, CategoryIsTakenFromTheComboForEveryPage) {
  // One deal a page: page 2 of each category holds its second deal.
  site.SetListingPageSize(1);
  Deal(9300001, 100, 1000, 100, "Phone", 1000);
  Deal(9300002, 101, 1000, 100, "Fridge", 4000);
  Deal(9300003, 102, 1000, 100, "Phone 2", 1000);
  Deal(9300004, 103, 1000, 100, "Fridge 2", 4000);
  auto* category = qobject_cast<QComboBox*>(dlg->GetDlgItem(CMainDlg::IDC_CATEGORY));
  ASSERT_NE(category, nullptr);
  category->setCurrentIndex(2);  // 手机数码
  SlowPages(300, "/detail/");
  // The user switches to 家用电器 while the phone on page 1 is being read.
  DuringCrawl([this, category] {
    if (Requests("/detail/9300001") == 0) return false;
    category->setCurrentIndex(1);
    return true;
  });
  Refresh();
  EXPECT_EQ(Requests(ListingPath(1000, 1)), 1u);
  for (int page = 2; page <= 30; ++page) EXPECT_EQ(Requests(ListingPath(4000, page)), 1u) << page;
  // Page 2 of phones may have been read ahead, but it is not the page the
  // crawl reached: its deal is not a hit.
  EXPECT_EQ(Column(1), QStringList({"Phone", "Fridge 2"}));
}

TEST_F(SearchWindow, SecondPressEndsTheRunningCrawl) {
  for (int i = 0; i < 10; ++i) Deal(9400000 + i, 100 + i, 1000, 100);
  HoldPagesAfterTheFirst();
  QString captionDuring;
  DuringCrawl([this, &captionDuring] {
    if (dlg->Search().HitLast() < 0) return false;
    captionDuring = Caption();
    Press();
    return true;
  });
  Refresh();
  EXPECT_EQ(captionDuring, U("商品刷新中"));
  EXPECT_EQ(Caption(), U("刷新商品"));
  // The hits found before the press are shown, in listing order; the rest
  // of the pages were never asked for.
  QStringList found;
  for (int i = 0; i <= dlg->Search().HitLast(); ++i) found << QString::number(9400000 + i);
  EXPECT_GE(found.size(), 1);
  EXPECT_EQ(Column(0), found);
  EXPECT_LT(Requests("/paimai/"), 30u);
  EXPECT_TRUE(Messages().isEmpty());

  // The next press runs a whole crawl again from slot 0. It reads another
  // category's pages (the deals are 家用电器), so that a request of the ended
  // crawl reaching the site late cannot be counted as one of its own.
  site.ClearFaults();
  qobject_cast<QComboBox*>(dlg->GetDlgItem(CMainDlg::IDC_CATEGORY))->setCurrentIndex(1);
  Refresh();
  EXPECT_EQ(Rows(), 10);
  for (int page = 1; page <= 30; ++page) EXPECT_EQ(Requests(ListingPath(4000, page)), 1u) << page;
}

TEST_F(SearchWindow, ClosingTheWindowEndsTheCrawl) {
  for (int i = 0; i < 10; ++i) Deal(9450000 + i, 100 + i, 1000, 100);
  SlowPages(100);
  DuringCrawl([this] {
    if (Requests("/json/paimai/bid_records") < 2) return false;
    dlg->close();
    return true;
  });
  Refresh();
  EXPECT_FALSE(dlg->isVisible());
  EXPECT_LT(Requests("/paimai/"), 30u);
  // Nobody is left to read a message.
  EXPECT_TRUE(Messages().isEmpty());
  EXPECT_FALSE(dlg->Search().Running());
}

TEST_F(SearchWindow, SnipeBidsDuringACrawl) {
  for (int i = 0; i < 5; ++i) Deal(9500000 + i, 100 + i, 1000, 100);
  Deal(9500100, 2, 300, 200, "Sniped", 7000);  // listed too, but too dear to be a hit
  HoldPagesAfterTheFirst();
  auto* ie = qobject_cast<QCheckBox*>(dlg->GetDlgItem(CMainDlg::IDC_IEMODE));
  ASSERT_NE(ie, nullptr);
  ie->click();
  Type(CMainDlg::IDC_DEALID, "9500100");
  Type(CMainDlg::IDC_MAXPRICE, "500");
  Type(CMainDlg::IDC_INCREMENT, "5");
  Type(CMainDlg::IDC_PREPTIME, "1000");
  const std::string bid = "/json/paimai/bid?dealId=9500100&price=205";
  bool runningAtBid = false;
  // Armed while the crawl runs, due at once: the engine bids beside the
  // crawl; once page 1's hits are in, the crawl is stopped.
  bool armed = false;
  DuringCrawl([&] {
    if (!armed && Requests(ListingPath(0, 1)) > 0) {
      Press(CMainDlg::IDC_AUTOBID);
      armed = true;
    }
    if (!armed || Requests(bid) == 0 || dlg->Search().HitLast() < 4) return false;
    runningAtBid = dlg->Search().state() == gavelhawk::search::SearchController::State::Running;
    Press();
    return true;
  });
  Refresh();
  EXPECT_TRUE(runningAtBid);
  EXPECT_EQ(Requests(bid), 1u);
  QElapsedTimer waited;
  waited.start();
  while (dlg->m_snipes[0].nRemain != -1 && waited.elapsed() < 10000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  EXPECT_EQ(platform::text::GbkToUtf8(dlg->m_snipes[0].strState), gavelhawk::site::kStateBidPlaced);
  EXPECT_EQ(Rows(), 5);
}

TEST_F(SearchWindow, ClearButtonsEmptyOneRowEach) {
  Type(CMainDlg::IDC_INCLUDE1, "ipad");
  Type(CMainDlg::IDC_INCLUDE4, "mini");
  Type(CMainDlg::IDC_EXCLUDE2, "case");
  Type(CMainDlg::IDC_EXCLUDE3, "二手");
  Press(CMainDlg::IDC_CLEARINCLUDE);
  for (int id :
       {CMainDlg::IDC_INCLUDE1, CMainDlg::IDC_INCLUDE2, CMainDlg::IDC_INCLUDE3, CMainDlg::IDC_INCLUDE4})
    EXPECT_EQ(Field(id), "") << id;
  EXPECT_EQ(Field(CMainDlg::IDC_EXCLUDE2), "case");
  EXPECT_EQ(Field(CMainDlg::IDC_EXCLUDE3), U("二手"));
  EXPECT_EQ(dlg->m_strExclude3, platform::text::Utf8ToGbk("二手"));
  EXPECT_EQ(dlg->m_strInclude1, "");

  Type(CMainDlg::IDC_INCLUDE2, "air");
  Press(CMainDlg::IDC_CLEAREXCLUDE);
  for (int id :
       {CMainDlg::IDC_EXCLUDE1, CMainDlg::IDC_EXCLUDE2, CMainDlg::IDC_EXCLUDE3, CMainDlg::IDC_EXCLUDE4})
    EXPECT_EQ(Field(id), "") << id;
  EXPECT_EQ(Field(CMainDlg::IDC_INCLUDE2), "air");
  EXPECT_EQ(dlg->m_strExclude2, "");
  // Neither button asks the site for anything.
  EXPECT_TRUE(site.Log().empty());
}

TEST_F(SearchWindow, ClearButtonWorksDuringACrawl) {
  for (int i = 0; i < 4; ++i) Deal(9600000 + i, 100 + i, 1000, 100, i % 2 ? "Apple iPad" : "Other");
  Type(CMainDlg::IDC_INCLUDE1, "ipad");
  DuringCrawl([this] {
    Press(CMainDlg::IDC_CLEARINCLUDE);
    return true;
  });
  Refresh();
  EXPECT_EQ(Field(CMainDlg::IDC_INCLUDE1), "");
  // The crawl keeps the words it started with.
  EXPECT_EQ(Column(0), QStringList({"9600001", "9600003"}));
}

TEST_F(SearchWindow, HistoryMedianColumnShowsEachHitsSalesOfTheLast30Days) {
  QTemporaryDir dir;
  qunsetenv("TALLYGLASS_DATABASE");
  qputenv("TALLYGLASS_DATA_DIR", dir.path().toUtf8());
  tallyglass::db::HistoryDb db;
  ASSERT_TRUE(db.Open(dir.path(), QString())) << db.LastError().toStdString();
  std::vector<tallyglass::db::HistoryRecord> rows;
  for (const auto& [title, price, ago] : std::vector<std::tuple<const char*, int, int>>{
           {"相机A", 100, 0}, {"相机A", 300, 1}, {"相机A", 200, 29}, {"镜头B", 500, 31}})
    rows.push_back({static_cast<std::int32_t>(rows.size()) + 1000, QString::fromUtf8(title), price,
                    QStringLiteral("buyer"), 0, static_cast<std::int32_t>(kT / 86'400'000) - ago});
  std::size_t saved = 0;
  QString error;
  ASSERT_TRUE(tallyglass::db::AppendBatch(&db, rows, &saved, &error)) << error.toStdString();
  db.Close();
  MainDlgServices s = dlg->Services();
  s.siteNow = [] { return kT; };
  Open(s);
  Deal(9700001, 100, 1000, 100, "相机A");
  Deal(9700002, 101, 1000, 100, "镜头B");  // only a sale older than 30 days
  Refresh();
  constexpr int kMedian = ResultTableModel::kHistoryColumn;
  EXPECT_TRUE(QTest::qWaitFor([&] { return !Cell(1, kMedian).isEmpty(); }, 60000));
  EXPECT_EQ(Cell(0, kMedian), "200");
  EXPECT_EQ(Cell(1, kMedian), U("无"));
  qunsetenv("TALLYGLASS_DATA_DIR");
}

}  // namespace

int main(int argc, char** argv) {
  // Test discovery runs the binary without the test's environment.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
