#pragma once
// The main window against an in-process auction-sim, with a recording
// opener (no browser starts) and scripted message boxes.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeView>
#include <memory>
#include <string>
#include <vector>

#include "gavelhawk/gui/MainDlg.h"
#include "platform/dialog/dialog.h"
#include "platform/http/http.h"
#include "platform/shell/shell.h"
#include "platform/text/gbk.h"
#include "platform/text/qgbk.h"
#include "sim/auction_sim.h"
#include "site/fetch.h"

namespace uitest {

inline QString U(const char* utf8) { return QString::fromUtf8(utf8); }
inline std::string Gbk(const char* utf8) { return platform::text::Utf8ToGbk(utf8); }

// Everything the window hands to the desktop, in order, tagged by route.
struct RecordingOpener : platform::shell::Opener {
  std::vector<std::string> calls;
  void OpenUrl(const std::string& url) override { calls.push_back("default " + url); }
  void OpenInLoginBrowser(const std::string& url) override { calls.push_back("login " + url); }
  void OpenDocument(const std::string& path) override { calls.push_back("document " + path); }
  void StartProgram(const std::string& path, const QStringList& args) override {
    calls.push_back("program " + path + (args.isEmpty() ? "" : " " + args.join(' ').toStdString()));
  }
};

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server.Start();
    transport = std::make_unique<platform::http::CurlTransport>(::site::SiteHttpOptions());
    platform::dialog::SetScripted(true);
  }

  void TearDown() override {
    dlg.reset();
    platform::dialog::SetScripted(false);
    server.Stop();
  }

  MainDlgServices Services() {
    MainDlgServices s;
    s.transport = transport.get();
    s.newTransport = [] {
      return std::make_unique<platform::http::CurlTransport>(::site::SiteHttpOptions());
    };
    s.opener = &opener;
    s.siteUrl = server.BaseUrl();
    s.homeUrl = "http://home.example/";
    s.serviceUrl = "http://service.example/page";
    s.updateUrl = server.BaseUrl() + "/update";
    s.appDir = "/opt/gavelhawk";
    return s;
  }

  // Builds the window and runs its start-up; the update page is the sim's.
  bool Open(MainDlgServices s) {
    dlg = std::make_unique<CMainDlg>(std::move(s));
    return StartUp();
  }
  // Runs the window's start-up and serves it until the update check has
  // answered; shows the window unless the check ended the program.
  bool StartUp() {
    dlg->OnInitDialog();
    EXPECT_TRUE(
        QTest::qWaitFor([this] { return dlg->StartUpState() != CMainDlg::StartUp::Checking; }, 60000));
    const bool started = dlg->StartUpState() == CMainDlg::StartUp::Started;
    if (started) dlg->show();
    return started;
  }
  bool Open() { return Open(Services()); }

  QLineEdit* Edit(int id) const { return qobject_cast<QLineEdit*>(dlg->GetDlgItem(id)); }
  QString Field(int id) const {
    QLineEdit* e = Edit(id);
    return e ? e->text() : QStringLiteral("<no edit %1>").arg(id);
  }
  void Type(int id, const QString& text) {
    QLineEdit* e = Edit(id);
    ASSERT_NE(e, nullptr) << id;
    e->setText(text);
  }
  void Press(int id) {
    QPushButton* b = dlg->Button(id);
    ASSERT_NE(b, nullptr) << id;
    ASSERT_TRUE(b->isEnabled()) << id;
    QTest::mouseClick(b, Qt::LeftButton);
  }
  QCheckBox* IEBox() const { return qobject_cast<QCheckBox*>(dlg->GetDlgItem(CMainDlg::IDC_IEMODE)); }
  void ClickIEBox() { QTest::mouseClick(IEBox(), Qt::LeftButton, {}, QPoint(6, IEBox()->height() / 2)); }

  // Clicks on a row of a list view, or on its empty area when row < 0.
  static void ClickList(QTreeView* list, int row, Qt::MouseButton button = Qt::LeftButton,
                        Qt::KeyboardModifiers mods = {}) {
    QPoint at;
    if (row >= 0) {
      const QModelIndex item = list->model()->index(row, 0);
      ASSERT_TRUE(item.isValid()) << row;
      list->scrollTo(item);
      at = list->visualRect(item).center();
    } else {
      at = QPoint(10, list->viewport()->height() - 4);
      ASSERT_FALSE(list->indexAt(at).isValid()) << "no empty area below the rows";
    }
    QTest::mouseClick(list->viewport(), button, mods, at);
  }

  // The window's snipe list model, as the tests read it.
  const gavelhawk::snipe::SnipeList& List() const { return dlg->Snipes(); }
  QTreeView* SnipeView() const { return qobject_cast<QTreeView*>(dlg->GetDlgItem(CMainDlg::IDC_SNIPELIST)); }
  QComboBox* Combo(int id) const { return qobject_cast<QComboBox*>(dlg->GetDlgItem(id)); }
  // Where 主页 goes: "login" with IE模式, else "default".
  std::string PageRoute() {
    Press(CMainDlg::IDC_HOMEPAGE);
    return opener.calls.empty() ? "" : opener.calls.back().substr(0, opener.calls.back().find(' '));
  }
  static std::vector<platform::dialog::ShownBox> Boxes() { return platform::dialog::TakeShownBoxes(); }
  static QStringList Texts(const std::vector<platform::dialog::ShownBox>& boxes) {
    QStringList t;
    for (const auto& b : boxes) t << b.text;
    return t;
  }

  sim::Server server;
  std::unique_ptr<platform::http::CurlTransport> transport;
  RecordingOpener opener;
  std::unique_ptr<CMainDlg> dlg;
};

}  // namespace uitest
