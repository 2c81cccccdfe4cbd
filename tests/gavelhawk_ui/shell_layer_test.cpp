// The shell layer: what reaches a started program (its arguments and the
// environment), the single-instance lock and the demo site.
#include <sys/wait.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

#include "fixture.h"
#include "platform/notify/notify.h"
#include "site/demo.h"

namespace uitest {
namespace {

QString WaitForFile(const QString& path) {
  QString text;
  static_cast<void>(QTest::qWaitFor(
      [&] {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly)) return false;
        text = QString::fromUtf8(f.readAll());
        return !text.isEmpty();
      },
      10000));
  return text;
}

TEST(SystemOpener, AStartedProgramInheritsTheEnvironment) {
  QTemporaryDir dir;
  const QString out = dir.filePath("env.txt");
  qputenv("GH_SHELL_TEST_SITE", "http://127.0.0.1:4321");
  platform::shell::SystemOpener opener("unused");
  opener.StartProgram(
      "/bin/sh", {"-c", "printf %s \"$GH_SHELL_TEST_SITE\" > " + out + ".tmp && mv " + out + ".tmp " + out});
  EXPECT_EQ("http://127.0.0.1:4321", WaitForFile(out));
  qunsetenv("GH_SHELL_TEST_SITE");
}

TEST(SystemOpener, TheLoginBrowserGetsTheAddressAsItsLastArgument) {
  QTemporaryDir dir;
  const QString script = dir.filePath("browser.sh");
  {
    QFile f(script);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("printf '%s|' \"$@\" > \"$0.tmp\" && mv \"$0.tmp\" \"$0.out\"\n");
  }
  // The setting is a command with its own arguments; the address goes last,
  // as one argument that no shell reads.
  platform::shell::SystemOpener opener("/bin/sh " + script.toStdString() + " -P \"my profile\"");
  const std::string url = "http://127.0.0.1:9/detail/1?a=1&b=$(touch x);c";
  opener.OpenInLoginBrowser(url);
  EXPECT_EQ(QStringLiteral("-P|my profile|") + QString::fromStdString(url) + "|",
            WaitForFile(script + ".out"));
  EXPECT_FALSE(QFile::exists("x"));
}

TEST(Notifier, ANoticeNobodyCanShowIsReportedWithTheReason) {
  // No session bus and, offscreen, no tray.
  platform::notify::Notifier notifier(
      QStringLiteral("Gavelhawk"),
      QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent"), "gone"));
  QSignalSpy failed(&notifier, &platform::notify::Notifier::failed);
  notifier.Notify(QStringLiteral("Gavelhawk"), QStringLiteral("夺宝编号 4000001 出价成功"));
  ASSERT_EQ(1, failed.count());
  EXPECT_EQ(QStringLiteral("夺宝编号 4000001 出价成功"), failed.at(0).at(1).toString());
  EXPECT_TRUE(failed.at(0).at(2).toString().contains(QStringLiteral("也没有系统托盘")))
      << failed.at(0).at(2).toString().toStdString();
}

TEST(SingleInstance, OneCopyPerNameAndAStaleLockIsTakenOver) {
  const QString name = QStringLiteral("gavelhawk-ui-test %1").arg(QCoreApplication::applicationPid());
  {
    platform::shell::SingleInstance first(name);
    EXPECT_TRUE(first.IsFirst());
    platform::shell::SingleInstance second(name);
    EXPECT_FALSE(second.IsFirst());
    platform::shell::SingleInstance other(name + " other");
    EXPECT_TRUE(other.IsFirst());
  }
  platform::shell::SingleInstance again(name);
  EXPECT_TRUE(again.IsFirst());
}

TEST(SingleInstance, ALockLeftByACrashedCopyIsTakenOver) {
  const QString name = QStringLiteral("gavelhawk-ui-crash %1").arg(QCoreApplication::applicationPid());
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    auto* held = new platform::shell::SingleInstance(name);  // never released: the copy "crashes"
    _exit(held->IsFirst() ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(child, waitpid(child, &status, 0));
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(0, WEXITSTATUS(status));
  platform::shell::SingleInstance next(name);
  EXPECT_TRUE(next.IsFirst());
}

TEST(DemoSite, StartsTheSimulatorReadsItsPortAndStopsIt) {
  std::string base;
  {
    ::site::DemoSite demo(QStringLiteral(GH_AUCTION_SIM));
    ASSERT_TRUE(demo.Start()) << demo.Error().toStdString();
    EXPECT_TRUE(demo.IsRunning());
    base = demo.BaseUrl();
    EXPECT_EQ(0u, base.rfind("http://127.0.0.1:", 0)) << base;
    platform::http::CurlTransport t(::site::SiteHttpOptions());
    const auto home = t.Get(base + "/");
    EXPECT_TRUE(home.ok);
    EXPECT_NE(std::string::npos, home.body.find("nowMil"));
    // The lively scenario: auctions in the listing.
    const auto listing = t.Get(base + "/paimai/0-0-0-0-0-0-1-0-0-0-1.html");
    EXPECT_NE(std::string::npos, listing.body.find("/detail/")) << listing.body.substr(0, 300);
  }
  platform::http::Options quick;
  quick.connectTimeout = std::chrono::milliseconds(2000);
  platform::http::CurlTransport t(quick);
  EXPECT_FALSE(t.Get(base + "/").ok);  // gone with its owner
}

TEST(DemoSite, AMissingSimulatorIsReportedNotHung) {
  ::site::DemoSite demo(QStringLiteral("/nonexistent/auction-sim"));
  EXPECT_FALSE(demo.Start());
  EXPECT_FALSE(demo.Error().isEmpty());
  EXPECT_FALSE(demo.IsRunning());
  ::site::DemoSite notASim(QStringLiteral("/bin/true"));
  EXPECT_FALSE(notASim.Start());
  EXPECT_FALSE(notASim.Error().isEmpty());
}

}  // namespace
}  // namespace uitest
