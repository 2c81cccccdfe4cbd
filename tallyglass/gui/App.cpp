#include "tallyglass/gui/App.h"

#include <QCoreApplication>
#include <QStandardPaths>
#include <QTimer>
#include <ctime>

#include "platform/dialog/dialog.h"
#include "platform/http/http.h"
#include "platform/shell/shell.h"
#include "site/demo.h"
#include "site/fetch.h"
#include "site/login.h"
#include "tallyglass/crawl/resume.h"
#include "tallyglass/db/history_db.h"
#include "tallyglass/gui/HistoryDlg.h"

namespace {

QString Caption() { return QString::fromLatin1(tallyglass::ui::kProgramName); }

}  // namespace

CHistoryApp::CHistoryApp(tallyglass::ui::Settings settings) : settings_(std::move(settings)) {
  site::SetDeadlines(std::chrono::milliseconds(settings_.requestDeadlineMs),
                     std::chrono::milliseconds(settings_.pageDeadlineMs));
}

CHistoryApp::~CHistoryApp() { ExitInstance(); }

void CHistoryApp::ConnectDatabase() {
  m_pConnection = std::make_unique<tallyglass::db::HistoryDb>();
  const std::int32_t delivered =
      settings_.demo ? tallyglass::crawl::kDemoResumeId : tallyglass::crawl::kDeliveredResumeId;
  const bool opened = m_pConnection->Open(m_szFolder, QString::fromStdString(settings_.database));
  // The folder exists now unless it could not be made (the error says so).
  tallyglass::crawl::EnsureResumeFile(m_szFolder, delivered);
  if (!opened) {
    platform::dialog::MessageBox(
        nullptr, QStringLiteral("连接数据库失败!\r\n错误信息:%1").arg(m_pConnection->LastError()), Caption());
  }
}

void CHistoryApp::ExitInstance() {
  if (m_bDbOpened && m_pConnection && m_pConnection->IsOpen()) m_pConnection->Close();
}

int CHistoryApp::InitInstance() {
  // Standard buttons and dialogs in the window's language, from the first box on.
  platform::dialog::InstallQtTranslations();
  m_bDbOpened = false;
  instance_ = std::make_unique<platform::shell::SingleInstance>(QStringLiteral("Tallyglass v1.0"));
  if (!instance_->IsFirst()) {
    platform::dialog::MessageBox(nullptr, QStringLiteral("程序已运行。"), Caption());
    instance_.reset();
    return 0;
  }

  tallyglass::ui::Settings s = settings_;
  std::unique_ptr<site::DemoSite> demo;
  if (s.demo) {
    QString failure;
    demo = site::StartDemoSite(s, failure);
    if (!demo) {
      platform::dialog::MessageBox(nullptr, failure, Caption());
      return 1;
    }
    // The demo's history must not mix with the real one.
    if (s.dataDir.empty()) s.dataDir = tallyglass::db::DemoDataDir().toStdString();
  }
  m_szFolder = s.dataDir.empty() ? tallyglass::db::DefaultDataDir() : QString::fromStdString(s.dataDir);

  settings_.demo = s.demo;
  ConnectDatabase();
  m_bDbOpened = true;

  std::unique_ptr<site::SiteConnection> site;
  if (!transportOverride) site = std::make_unique<site::SiteConnection>(s, site::kHistoryAgentName);
  platform::shell::SystemOpener systemOpener("");

  HistoryDlgServices services;
  services.db = m_pConnection.get();
  services.transport = transportOverride ? transportOverride : &site->transport();
  services.opener = openerOverride ? openerOverride : &systemOpener;
  services.siteUrl = s.siteUrl;
  services.shopUrl = s.shopUrl;
  services.serviceUrl = s.serviceUrl;
  services.folder = m_szFolder;
  services.inFlight = s.inFlight;
  services.firstId = s.demo ? tallyglass::crawl::kDemoResumeId : tallyglass::crawl::kDeliveredResumeId;
  if (transportOverride) {
    // Tests hand in a transport for the window; the walk's readers get
    // plain ones to the same site.
    services.newTransport = [] {
      return std::make_unique<platform::http::CurlTransport>(site::SiteHttpOptions(site::kHistoryAgentName));
    };
  } else {
    services.newTransport = [&site]() -> std::unique_ptr<platform::http::Transport> {
      return site->NewTransport();
    };
  }

  {
    CHistoryDlg dlg(services);
    dlg.OnInitDialog();
    if (onShown) QTimer::singleShot(0, &dlg, [this, &dlg] { onShown(dlg); });
    dlg.exec();
  }
  ExitInstance();
  return 0;
}
