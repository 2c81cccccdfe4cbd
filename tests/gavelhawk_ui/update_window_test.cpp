// The update check at start-up and the update history, against the
// simulator's update page; and the whole program's exit after an update.
#include <QLabel>
#include <QSignalSpy>

#include "fixture.h"
#include "gavelhawk/gui/App.h"
#include "gavelhawk/snipe/saved_list.h"

namespace uitest {
namespace {

using platform::dialog::Answer;
using platform::dialog::Buttons;

std::string UpdatePage(const std::string& version, const std::string& link) {
  return "<html><h3>Gavelhawk 专业版 v" + version + "</h3><p>下载：<a>" + link +
         "</a></p><p>更新历史</p><p>3.62 更快</p><p>3.61 更稳<br></p></html>";
}

class UpdateTest : public WindowTest {
 protected:
  std::string Link() const { return server.BaseUrl() + "/download/gavelhawk.tar.gz"; }
  // How far start-up went: the category combo is filled after the check.
  int Categories() const {
    return qobject_cast<QComboBox*>(dlg->GetDlgItem(CMainDlg::IDC_CATEGORY))->count();
  }
};

TEST_F(UpdateTest, ThePublishedOwnVersionStartsSilently) {
  server.SetUpdatePage(UpdatePage("3.61", Link()));
  EXPECT_TRUE(Open());
  EXPECT_TRUE(Boxes().empty());
  EXPECT_TRUE(opener.calls.empty());
}

TEST_F(UpdateTest, ANewerVersionAsksAndOkOpensTheLinkAndEndsBeforeTheWindow) {
  server.SetUpdatePage(UpdatePage("3.6101", Link()));
  platform::dialog::QueueAnswer(Answer::Ok);
  EXPECT_FALSE(Open());
  const auto boxes = Boxes();
  ASSERT_EQ(1u, boxes.size());
  EXPECT_EQ(U("有更新，是否立即下载并覆盖安装？"), boxes[0].text);
  EXPECT_EQ(U("更新"), boxes[0].caption);
  EXPECT_EQ(Buttons::OkCancel, boxes[0].buttons);
  EXPECT_EQ((std::vector<std::string>{"default " + Link()}), opener.calls);
  EXPECT_EQ(CMainDlg::StartUp::Ended, dlg->StartUpState());
  EXPECT_FALSE(dlg->isVisible());
  EXPECT_EQ(0, Categories());  // start-up went no further
}

TEST_F(UpdateTest, CancelLetsTheProgramStart) {
  server.SetUpdatePage(UpdatePage("3.62", Link()));
  platform::dialog::QueueAnswer(Answer::Cancel);
  EXPECT_TRUE(Open());
  EXPECT_EQ(QStringList{U("有更新，是否立即下载并覆盖安装？")}, Texts(Boxes()));
  EXPECT_TRUE(opener.calls.empty());
  EXPECT_EQ(7, Categories());
  EXPECT_TRUE(dlg->isVisible());
}

TEST_F(UpdateTest, ANewMajorVersionInsistsWhateverTheIEMode) {
  server.SetUpdatePage(UpdatePage("4.0", Link()));
  platform::dialog::QueueAnswer(Answer::Cancel);  // an OK-only box cannot be declined
  dlg = std::make_unique<CMainDlg>(Services());
  dlg->m_bIEMode = true;
  EXPECT_FALSE(StartUp());
  const auto boxes = Boxes();
  ASSERT_EQ(1u, boxes.size());
  EXPECT_EQ(U("有重要更新，请下载并覆盖安装"), boxes[0].text);
  EXPECT_EQ(U("重要更新"), boxes[0].caption);
  EXPECT_EQ(Buttons::Ok, boxes[0].buttons);
  EXPECT_EQ((std::vector<std::string>{"default " + Link()}), opener.calls);
}

TEST_F(UpdateTest, AVersionWithoutClosingBracketReadsZero) {
  server.SetUpdatePage("专业版 v9.0 " + Link());
  EXPECT_TRUE(Open());
  EXPECT_TRUE(Boxes().empty());
  EXPECT_TRUE(opener.calls.empty());
}

TEST_F(UpdateTest, ALinkOffTheUpdatePagesHostIsShownNotOpened) {
  // The link is the text from the first "http" after the version: without
  // one, what follows the version is all the page offers.
  const std::pair<std::string, std::string> cases[] = {
      {"file:///etc/passwd", "3.7"},
      {"javascript:alert(1)", "3.7"},
      {"http://evil.example/gh.tar.gz", "http://evil.example/gh.tar.gz"},
      {"http://127.0.0.1@evil.example/gh.tar.gz", "http://127.0.0.1@evil.example/gh.tar.gz"},
  };
  for (const auto& [link, shown] : cases) {
    server.SetUpdatePage(UpdatePage("3.7", link));
    platform::dialog::QueueAnswer(Answer::Ok);
    EXPECT_TRUE(Open()) << link;
    const QStringList texts = Texts(Boxes());
    ASSERT_EQ(2, texts.size()) << link;
    EXPECT_EQ(U("有更新，是否立即下载并覆盖安装？"), texts[0]);
    EXPECT_EQ(U("更新页上的下载地址无效，未打开：\n") + QString::fromStdString(shown), texts[1]);
    EXPECT_EQ(7, Categories()) << link;
  }
  EXPECT_TRUE(opener.calls.empty());
}

TEST_F(UpdateTest, TheWindowsEventsGoOnWhileAStalledPageIsRead) {
  sim::Fault stall{sim::FaultKind::Stall, "/update"};
  stall.stallMs = 600000;
  server.AddFault(stall);
  auto s = Services();
  s.newUpdateTransport = [] {
    platform::http::Options o = ::site::SiteHttpOptions();
    o.deadline = std::chrono::milliseconds(1500);
    return std::make_unique<platform::http::CurlTransport>(o);
  };
  dlg = std::make_unique<CMainDlg>(std::move(s));
  QSignalSpy done(dlg.get(), &CMainDlg::startUpDone);
  dlg->OnInitDialog();
  // The page is read off the window's thread: start-up waits for its answer
  // while a call posted meanwhile runs.
  EXPECT_EQ(CMainDlg::StartUp::Checking, dlg->StartUpState());
  int combosWhenRun = -1;
  QMetaObject::invokeMethod(
      dlg.get(), [&] { combosWhenRun = Categories(); }, Qt::QueuedConnection);
  ASSERT_TRUE(done.wait(60000));
  EXPECT_EQ(0, combosWhenRun);
  EXPECT_EQ(QVariantList{true}, done.takeFirst());
  EXPECT_EQ(7, Categories());
  EXPECT_TRUE(Boxes().empty());
  server.ClearFaults();
}

TEST_F(UpdateTest, AnUnreadablePageStartsSilently) {
  server.AddFault({sim::FaultKind::Status500, "/update"});
  EXPECT_TRUE(Open());
  server.ClearFaults();
  server.AddFault({sim::FaultKind::Refuse, "/update"});
  EXPECT_TRUE(Open());
  server.ClearFaults();
  server.AddFault({sim::FaultKind::Garbage, "/update"});
  EXPECT_TRUE(Open());
  auto s = Services();
  s.updateUrl = "http://127.0.0.1:1/update";  // nobody listens
  EXPECT_TRUE(Open(s));
  EXPECT_TRUE(Boxes().empty());
  EXPECT_TRUE(opener.calls.empty());
}

TEST_F(UpdateTest, HistoryShowsTheSectionLineByLine) {
  server.SetUpdatePage(UpdatePage("3.61", Link()));
  ASSERT_TRUE(Open());
  QPushButton* history = dlg->Button(CMainDlg::IDC_UPDATEHISTORY);
  // One read at a time: the button waits for the page's answer.
  auto pressAndWait = [&] {
    Press(CMainDlg::IDC_UPDATEHISTORY);
    EXPECT_FALSE(history->isEnabled());
    EXPECT_TRUE(QTest::qWaitFor([&] { return history->isEnabled(); }, 60000));
  };
  pressAndWait();
  auto boxes = Boxes();
  ASSERT_EQ(1u, boxes.size());
  EXPECT_EQ(U("更新历史\n3.62 更快\n3.61 更稳"), boxes[0].text);
  EXPECT_EQ(U("软件更新历史"), boxes[0].caption);
  EXPECT_EQ(2u, server.LogFor("/update").size());  // fetched again for the history

  server.AddFault({sim::FaultKind::Status500, "/update"});
  pressAndWait();
  boxes = Boxes();
  ASSERT_EQ(1u, boxes.size());
  EXPECT_EQ(U(""), boxes[0].text);
  EXPECT_EQ(U("软件更新历史"), boxes[0].caption);
}

// The whole program, as main runs it.
class AppTest : public WindowTest {
 protected:
  std::string Link() const { return server.BaseUrl() + "/download/gavelhawk.tar.gz"; }
  gavelhawk::ui::AppSettings Settings() const {
    gavelhawk::ui::AppSettings s;
    s.siteUrl = server.BaseUrl();
    s.updateUrl = server.BaseUrl() + "/update";
    s.cookies = "none";
    return s;
  }
  // Runs the program; closes its window as soon as it is up.
  int Run(const gavelhawk::ui::AppSettings& s, bool* shown, QString* title = nullptr) {
    CGavelhawkApp app(s);
    app.openerOverride = &opener;
    app.onShown = [&](CMainDlg& d) {
      *shown = d.isVisible();
      if (title) *title = d.windowTitle();
      d.close();
    };
    return app.InitInstance();
  }
};

TEST_F(AppTest, AnAcceptedUpdateEndsTheProgramWithExitCodeZero) {
  server.SetUpdatePage(UpdatePage("4.0", Link()));
  platform::dialog::QueueAnswer(Answer::Ok);
  bool shown = false;
  EXPECT_EQ(0, Run(Settings(), &shown));
  EXPECT_FALSE(shown);
  EXPECT_EQ((std::vector<std::string>{"default " + Link()}), opener.calls);
}

TEST_F(AppTest, WithoutAnUpdateTheWindowComesUpAndClosingEndsWithZero) {
  bool shown = false;
  EXPECT_EQ(0, Run(Settings(), &shown));
  EXPECT_TRUE(shown);
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(AppTest, ASilentUpdatePageOnlyDelaysTheWindow) {
  // The page sends part of its answer, then nothing for ten minutes: the
  // check gives up after a few seconds (the test's time-out guards it).
  sim::Fault stall{sim::FaultKind::Stall, "/update"};
  stall.stallMs = 600000;
  server.AddFault(stall);
  bool shown = false;
  EXPECT_EQ(0, Run(Settings(), &shown));
  EXPECT_TRUE(shown);
  EXPECT_TRUE(Boxes().empty());
  server.ClearFaults();
}

TEST_F(AppTest, AMissingLoginIsSaidInTheCaptionWithoutStoppingAnyone) {
  auto s = Settings();
  s.cookies = "/nonexistent/cookies.txt";
  bool shown = false;
  QString title;
  EXPECT_EQ(0, Run(s, &shown, &title));
  EXPECT_TRUE(shown);
  EXPECT_TRUE(title.startsWith(U("Gavelhawk")));
  EXPECT_TRUE(title.contains(U("登录"))) << title.toStdString();
  EXPECT_TRUE(Boxes().empty());

  s.cookies = "none";  // chosen on purpose: nothing to say
  EXPECT_EQ(0, Run(s, &shown, &title));
  EXPECT_EQ(U("Gavelhawk"), title);
}

TEST_F(AppTest, DemoRunsTheWindowAgainstItsOwnSimulator) {
  auto s = Settings();
  s.demo = true;
  s.siteUrl = "http://127.0.0.1:1";  // replaced by the demo site
  s.updateUrlGiven = false;
  std::string siteUrl, clockPage, updatePage;
  CGavelhawkApp app(s);
  app.openerOverride = &opener;
  app.onShown = [&](CMainDlg& d) {
    siteUrl = d.Services().siteUrl;
    clockPage = d.FetchPage(d.SiteUrl("/detail/3333333"));
    updatePage = d.Services().updateUrl;
    d.close();
  };
  EXPECT_EQ(0, app.InitInstance());
  EXPECT_EQ(0u, siteUrl.rfind("http://127.0.0.1:", 0)) << siteUrl;
  EXPECT_NE("http://127.0.0.1:1", siteUrl);
  EXPECT_EQ(siteUrl + "/update", updatePage);
  EXPECT_NE(std::string::npos, clockPage.find("nowMil")) << clockPage.substr(0, 200);
  // tallyglass started from the window reads the same site.
  EXPECT_EQ(QString::fromStdString(siteUrl), qEnvironmentVariable("AUCTION_SITE_URL"));
  EXPECT_TRUE(Boxes().empty());  // the demo's own update page offers nothing
  qunsetenv("AUCTION_SITE_URL");
}

TEST_F(AppTest, ASecondWindowOnTheSameListIsRefusedAndNothingStarts) {
  std::string refusal;
  const auto held = gavelhawk::ui::LockSavedList(gavelhawk::ui::SavedListPath(std::getenv), &refusal);
  ASSERT_TRUE(held) << refusal;
  bool shown = false;
  EXPECT_EQ(1, Run(Settings(), &shown));
  EXPECT_FALSE(shown);
  const QStringList told = Texts(Boxes());
  ASSERT_EQ(1, told.size());
  EXPECT_TRUE(told[0].startsWith(U("抢拍列表正由另一个 Gavelhawk 使用"))) << told[0].toStdString();
  EXPECT_TRUE(server.Log().empty());  // not even the update page was read
}

}  // namespace
}  // namespace uitest
