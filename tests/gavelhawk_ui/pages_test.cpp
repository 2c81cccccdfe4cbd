// Which command opens which address in which browser, and what starts the
// manual and tallyglass. The opener records; no browser starts.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "fixture.h"

namespace uitest {
namespace {

using D = CMainDlg;

class PagesTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    ASSERT_TRUE(Open());
    Press(D::IDC_COLLAPSE);  // expanded: 查看商品 is shown
    Boxes();
  }
  std::string Site(const std::string& path) const { return server.BaseUrl() + path; }
};

TEST_F(PagesTest, WithIEModeClearPagesGoToTheDefaultBrowser) {
  Press(D::IDC_HOMEPAGE);
  Press(D::IDC_AUCTIONSITE);
  Press(D::IDC_SERVICE);
  Press(D::IDC_VIEWITEM);
  EXPECT_EQ((std::vector<std::string>{
                "default http://home.example/",
                "default http://home.example/",  // 夺宝岛 opens the home page first
                "default " + Site("/paimai/0-0-0-0-0-0-1-0-0-1-1.html"),
                "default http://service.example/page",
                "default " + Site("/detail/3333333"),
            }),
            opener.calls);
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(PagesTest, WithIEModeSetEveryPageGoesToTheLoginBrowser) {
  ClickIEBox();
  Type(D::IDC_DEALID, "4567");
  Press(D::IDC_HOMEPAGE);
  Press(D::IDC_AUCTIONSITE);
  Press(D::IDC_SERVICE);
  Press(D::IDC_VIEWITEM);
  EXPECT_EQ((std::vector<std::string>{
                "login http://home.example/",
                "login http://home.example/",
                "login " + Site("/paimai/0-0-0-0-0-0-1-0-0-1-1.html"),
                "login http://service.example/page",
                "login " + Site("/detail/4567"),
            }),
            opener.calls);
}

TEST_F(PagesTest, TheIEModeIsReadWhenThePageOpens) {
  Press(D::IDC_HOMEPAGE);
  ClickIEBox();
  Press(D::IDC_HOMEPAGE);
  ClickIEBox();
  Press(D::IDC_HOMEPAGE);
  EXPECT_EQ((std::vector<std::string>{"default http://home.example/", "login http://home.example/",
                                      "default http://home.example/"}),
            opener.calls);
}

TEST_F(PagesTest, ManualAndTallyglassComeFromTheProgramFolderWhateverTheIEMode) {
  ClickIEBox();
  Press(D::IDC_MANUAL);  // /opt/gavelhawk holds no manual: said, nothing opened
  Press(D::IDC_PRICEQUERY);
  Press(D::IDC_PRICEQUERY);  // a second press starts it again
  EXPECT_EQ(
      (std::vector<std::string>{"program /opt/gavelhawk/tallyglass", "program /opt/gavelhawk/tallyglass"}),
      opener.calls);
  EXPECT_EQ(QStringList{U("找不到操作说明：/opt/gavelhawk/manual.html")}, Texts(Boxes()));
}

TEST_F(PagesTest, ADemoWindowStartsTallyglassInItsDemo) {
  dlg.reset();
  MainDlgServices s = Services();
  s.demo = true;
  ASSERT_TRUE(Open(s));
  Press(D::IDC_PRICEQUERY);
  EXPECT_EQ((std::vector<std::string>{"program /opt/gavelhawk/tallyglass --demo"}), opener.calls);
}

TEST_F(PagesTest, AnInstalledProgramFindsTheManualUnderShare) {
  QTemporaryDir prefix;
  ASSERT_TRUE(prefix.isValid());
  const std::string root = prefix.path().toStdString();
  QDir(prefix.path()).mkpath(QStringLiteral("bin"));
  QDir(prefix.path()).mkpath(QStringLiteral("share/gavelhawk"));
  QFile manual(prefix.path() + QStringLiteral("/share/gavelhawk/manual.html"));
  ASSERT_TRUE(manual.open(QIODevice::WriteOnly));
  manual.close();
  QFile program(prefix.path() + QStringLiteral("/bin/tallyglass"));
  ASSERT_TRUE(program.open(QIODevice::WriteOnly));
  program.close();
  program.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  auto s = Services();
  s.appDir = root + "/bin";
  ASSERT_TRUE(Open(s));
  Press(D::IDC_MANUAL);
  Press(D::IDC_PRICEQUERY);
  EXPECT_EQ((std::vector<std::string>{"document " + root + "/share/gavelhawk/manual.html",
                                      "program " + root + "/bin/tallyglass"}),
            opener.calls);
}

TEST_F(WindowTest, APageThatCannotBeOpenedIsToldWithItsAddressAndWhy) {
  // A desktop where xdg-open finds no program, and a login browser that is not installed.
  QTemporaryDir bin;
  {
    QFile f(bin.filePath("xdg-open"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("#!/bin/sh\nexit 3\n");
    f.setPermissions(f.permissions() | QFileDevice::ExeOwner);
  }
  const QByteArray path = qgetenv("PATH");
  qputenv("PATH", bin.path().toUtf8() + ":" + path);
  platform::shell::SystemOpener system("/nonexistent/browser --new-tab");
  MainDlgServices s = Services();
  s.opener = &system;
  ASSERT_TRUE(Open(s));
  Press(CMainDlg::IDC_COLLAPSE);
  Boxes();
  const std::string item = server.BaseUrl() + "/detail/3333333";
  const struct {
    bool ieMode;
    QString why;
  } cases[] = {{false, U("xdg-open 没有找到能打开它的程序（退出码 3）")},
               {true, U("无法启动 /nonexistent/browser：")}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ieMode);
    if (IEBox()->isChecked() != c.ieMode) ClickIEBox();
    Press(CMainDlg::IDC_VIEWITEM);
    std::vector<platform::dialog::ShownBox> boxes;
    ASSERT_TRUE(QTest::qWaitFor([&] {
      for (auto& b : Boxes()) boxes.push_back(b);
      return !boxes.empty();
    }));
    ASSERT_EQ(1u, boxes.size());
    EXPECT_TRUE(boxes[0].text.startsWith(U("无法打开 ") + QString::fromStdString(item) + "\n" + c.why))
        << boxes[0].text.toStdString();
  }
  dlg.reset();  // before the opener it uses
  qputenv("PATH", path);
}

TEST_F(PagesTest, ViewItemReadsTheFieldAsItStandsNow) {
  Type(D::IDC_DEALID, " 98765 ");
  Press(D::IDC_VIEWITEM);
  ASSERT_EQ(1u, opener.calls.size());
  EXPECT_EQ("default " + Site("/detail/98765"), opener.calls[0]);
}

TEST(PagesWithoutFolder, TheProgramFolderDefaultsToTheRunningProgramsOwnAndTheManualShipsThere) {
  platform::dialog::SetScripted(true);
  RecordingOpener opener;
  MainDlgServices s;
  s.opener = &opener;
  CMainDlg dlg(s);
  dlg.OnInitDialog();  // no update page: start-up ends at once
  ASSERT_EQ(CMainDlg::StartUp::Started, dlg.StartUpState());
  dlg.OnPriceQuery();
  dlg.OnManual();
  const std::string dir = QCoreApplication::applicationDirPath().toStdString();
  EXPECT_EQ((std::vector<std::string>{"program " + dir + "/tallyglass", "document " + dir + "/manual.html"}),
            opener.calls);
  EXPECT_TRUE(platform::dialog::TakeShownBoxes().empty());
  platform::dialog::SetScripted(false);
}

}  // namespace
}  // namespace uitest
