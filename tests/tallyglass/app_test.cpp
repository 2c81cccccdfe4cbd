// Start-up of the application: one running copy, the database file that is
// missing or unreadable, and the exit step.
#include "tallyglass/gui/App.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QTimer>
#include <functional>

#include "tests/tallyglass/window_fixture.h"

namespace tgtest {
namespace {

class AppStart : public HistoryWindowTest {
 protected:
  tallyglass::ui::Settings Settings() {
    tallyglass::ui::Settings s;
    s.dataDir = folder.toStdString();
    s.siteUrl = server.BaseUrl();
    s.cookies = "none";
    return s;
  }
};

TEST_F(AppStart, FirstStartMakesTheFolderTheTableAndTheResumeFile) {
  CHistoryApp app(Settings());
  app.transportOverride = transport.get();
  app.openerOverride = &opener;
  QStringList headings;
  app.onShown = [&](CHistoryDlg& d) {
    // The whole table's first page arrives after the window shows.
    (void)WaitFor([&] { return !d.Recordset()->Running(); });
    headings.clear();
    auto* grid = static_cast<CDataGrid*>(d.GetDlgItem(IDC_GRID));
    for (int c = 0; c < grid->View()->model()->columnCount(); ++c)
      headings << grid->View()->model()->headerData(c, Qt::Horizontal).toString();
    d.close();
  };
  EXPECT_EQ(app.InitInstance(), 0);
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(headings, (QStringList{"ProductID", "Title", "trxPrice", "trxBuyerName", "Price", "bidTime"}));
  EXPECT_TRUE(QFile::exists(folder + "/" + tallyglass::db::kDatabaseFileName));
  EXPECT_EQ(ResumeFile(), QByteArray::number(tallyglass::crawl::kDeliveredResumeId) + "\r\n");
  // The window worked over the opened database; the exit step closed it.
  ASSERT_FALSE(QSqlDatabase::connectionNames().isEmpty());
  for (const QString& name : QSqlDatabase::connectionNames())
    EXPECT_FALSE(QSqlDatabase::database(name, false).isOpen()) << name.toStdString();
}

TEST_F(AppStart, SecondCopyIsRefused) {
  auto first = std::make_unique<CHistoryApp>(Settings());
  first->transportOverride = transport.get();
  int secondResult = -1;
  bool secondShown = false;
  std::vector<QString> boxesOfSecond;
  first->onShown = [&](CHistoryDlg& d) {
    CHistoryApp second(Settings());
    second.transportOverride = transport.get();
    second.onShown = [&](CHistoryDlg& d2) {
      secondShown = true;
      d2.close();
    };
    secondResult = second.InitInstance();
    boxesOfSecond = Boxes();
    EXPECT_TRUE(d.isVisible()) << "the first copy is not touched";
    d.close();
  };
  first->InitInstance();
  EXPECT_EQ(secondResult, 0);
  EXPECT_FALSE(secondShown);
  EXPECT_EQ(boxesOfSecond, std::vector<QString>{"程序已运行。"});

  // Once the first copy has ended, a new one starts.
  first.reset();
  CHistoryApp third(Settings());
  third.transportOverride = transport.get();
  bool thirdShown = false;
  third.onShown = [&](CHistoryDlg& d) {
    thirdShown = true;
    d.close();
  };
  third.InitInstance();
  EXPECT_TRUE(thirdShown);
}

TEST_F(AppStart, UnreadableOrDamagedDatabaseIsReportedNamingTheFileAndTheWindowStillOpens) {
  const QString file = folder + "/" + tallyglass::db::kDatabaseFileName;
  // Not a database at all; and a database with one page of its table
  // overwritten, which only a check of the whole file finds.
  auto notADatabase = [&] {
    QFile garbage(file);
    ASSERT_TRUE(garbage.open(QIODevice::WriteOnly));
    garbage.write(QByteArray(2048, '\x7f'));
  };
  auto damagedPage = [&] {
    Seed({});
    {
      tallyglass::db::HistoryDb fill;
      ASSERT_TRUE(fill.Open(folder, {}));
      QSqlQuery q(fill.Database());
      ASSERT_TRUE(q.exec("PRAGMA journal_mode=DELETE"));
      QSqlDatabase d = fill.Database();
      d.transaction();
      for (int i = 0; i < 2000; ++i) {
        q.exec(QString("INSERT INTO History VALUES (%1, '%2', 100, 'u', 1999, 16000)")
                   .arg(2000000 + i)
                   .arg(QString(200, QChar('x'))));
      }
      d.commit();
    }
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_GT(f.size(), 40 * 4096);
    f.seek(30 * 4096);
    f.write(QByteArray(4096, '\x55'));
  };
  // A file that is no database fails to open; a damaged page is found by
  // the check that runs once the window shows, and told the same way.
  const struct {
    const char* name;
    std::function<void()> make;
    bool opens;
  } cases[] = {{"not a database", notADatabase, false}, {"damaged page", damagedPage, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    QDir(folder).removeRecursively();
    ASSERT_TRUE(QDir().mkpath(folder));
    c.make();
    const qint64 size = QFileInfo(file).size();

    CHistoryApp app(Settings());
    app.transportOverride = transport.get();
    app.openerOverride = &opener;
    std::vector<QString> boxesAtStart;
    int rows = -1;
    std::vector<QString> boxesOfQuery;
    app.onShown = [&](CHistoryDlg& d) {
      (void)WaitFor([&] { return d.UpkeepDone(); });
      boxesAtStart = Boxes();
      rows = static_cast<CDataGrid*>(d.GetDlgItem(IDC_GRID))->View()->model()->rowCount();
      // The window stays usable: a query reports the missing connection.
      static_cast<QLineEdit*>(d.GetDlgItem(IDC_INCLUDE1))->setText("手机");
      QTest::mouseClick(static_cast<QPushButton*>(d.GetDlgItem(IDC_QUERY)), Qt::LeftButton);
      boxesOfQuery = Boxes();
      d.close();
    };
    EXPECT_EQ(app.InitInstance(), 0);
    ASSERT_GE(boxesAtStart.size(), 1u);
    EXPECT_TRUE(boxesAtStart[0].startsWith("连接数据库失败!\r\n错误信息:" + file + ": "))
        << boxesAtStart[0].toStdString();
    if (!c.opens) {
      ASSERT_EQ(boxesAtStart.size(), 2u);
      EXPECT_EQ(boxesAtStart[1], "读取记录错误。");
      EXPECT_EQ(rows, 0);
      ASSERT_EQ(boxesOfQuery.size(), 1u);
      EXPECT_TRUE(boxesOfQuery[0].startsWith("数据库操作失败!\r\n错误信息:"))
          << boxesOfQuery[0].toStdString();
    } else {
      EXPECT_TRUE(boxesAtStart[0].contains("quick_check")) << boxesAtStart[0].toStdString();
    }
    EXPECT_TRUE(Boxes().empty()) << "the exit step shows nothing";
    EXPECT_EQ(QFileInfo(file).size(), size) << "the user's file is left alone";
  }
}

TEST(TallyglassSettings, IdsInFlightFromTheEnvironmentAndTheCommandLine) {
  const struct {
    const char* env;  // TALLYGLASS_IN_FLIGHT, nullptr: unset
    std::vector<std::string> args;
    int inFlight;
    bool error;
  } cases[] = {
      {nullptr, {}, 8, false},
      {"3", {}, 3, false},
      {"0", {}, 8, false},  // nonsense in the environment keeps the default
      {"many", {}, 8, false},
      {"3", {"--in-flight", "16"}, 16, false},
      {nullptr, {"--in-flight=64"}, 64, false},
      {nullptr, {"--in-flight", "65"}, 8, true},
      {nullptr, {"--in-flight", "-1"}, 8, true},
  };
  for (const auto& c : cases) {
    auto p = tallyglass::ui::ParseSettings(c.args, [&](const char* name) -> const char* {
      return std::string(name) == "TALLYGLASS_IN_FLIGHT" ? c.env : nullptr;
    });
    EXPECT_EQ(p.settings.inFlight, c.inFlight) << (c.env ? c.env : "-");
    EXPECT_EQ(!p.error.empty(), c.error) << p.error;
  }
  EXPECT_NE(tallyglass::ui::HelpText().find("TALLYGLASS_IN_FLIGHT"), std::string::npos);
}

// The site's settings are parsed as site_tests check; here that they reach
// tallyglass through its command line, with its own messages, and that
// --help lists those it uses (pages open in the default browser, so not the
// login browser).
TEST(TallyglassSettings, SiteSettingsThroughTheCommandLine) {
  const auto none = [](const char*) -> const char* { return nullptr; };
  auto p = tallyglass::ui::ParseSettings({"--site-url=http://127.0.0.1:9/", "--cookies", "none",
                                          "--page-deadline-ms", "9000", "--in-flight", "4"},
                                         none);
  ASSERT_EQ(p.error, "");
  EXPECT_EQ(p.settings.siteUrl, "http://127.0.0.1:9");
  EXPECT_TRUE(p.settings.cookiesGiven);
  EXPECT_EQ(p.settings.pageDeadlineMs, 9000);
  EXPECT_EQ(p.settings.inFlight, 4);
  const std::pair<std::vector<std::string>, std::string> wrong[] = {
      {{"--bogus"}, "未知选项 --bogus"},
      {{"--cookies"}, "--cookies 需要一个值"},
      {{"--site-url", "dbd.jd.com"}, "站点地址必须以 http:// 或 https:// 开头：dbd.jd.com"},
  };
  for (const auto& [args, error] : wrong) EXPECT_EQ(tallyglass::ui::ParseSettings(args, none).error, error);
  for (const char* word :
       {"--site-url", "--cookies", "--request-deadline-ms", "--page-deadline-ms", "AUCTION_SITE_URL",
        "AUCTION_COOKIES", "AUCTION_REQUEST_DEADLINE_MS", "AUCTION_PAGE_DEADLINE_MS"})
    EXPECT_NE(tallyglass::ui::HelpText().find(word), std::string::npos) << word;
}

}  // namespace
}  // namespace tgtest
