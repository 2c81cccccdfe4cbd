#include "tallyglass/ui/App.h"

#include <QCoreApplication>
#include <QStandardPaths>
#include <QTimer>
#include <ctime>

#include "platform/cookies/cookies.h"
#include "platform/dialog/dialog.h"
#include "platform/http/http.h"
#include "platform/shell/demo.h"
#include "platform/shell/shell.h"
#include "tallyglass/crawl/fetch.h"
#include "tallyglass/crawl/resume.h"
#include "tallyglass/db/history_db.h"
#include "tallyglass/ui/HistoryDlg.h"

namespace {

QString Caption() { return QString::fromLatin1(tallyglass::ui::kProgramName); }

// The site transport with the user's browser login, as the bidding program
// sends it.
struct SiteConnection {
  explicit SiteConnection(const tallyglass::ui::Settings& s)
      : transport(tallyglass::crawl::HistoryHttpOptions()),
        cookies(s.cookies, platform::http::HostOf(s.siteUrl)) {
    platform::cookies::KeepLoginCurrent(cookies, transport);
  }
  platform::http::CurlTransport transport;
  platform::cookies::CookieSource cookies;
};

// A reader thread's own transport, with its own view of the login: a
// cookie source is not shared between threads.
struct LoggedInTransport : platform::http::CurlTransport {
  explicit LoggedInTransport(const tallyglass::ui::Settings& s)
      : platform::http::CurlTransport(tallyglass::crawl::HistoryHttpOptions()),
        cookies(s.cookies, platform::http::HostOf(s.siteUrl)) {
    platform::cookies::KeepLoginCurrent(cookies, *this);
  }
  platform::cookies::CookieSource cookies;
};

}  // namespace

CHistoryApp::CHistoryApp(tallyglass::ui::Settings settings) : settings_(std::move(settings)) {}

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
  m_bDbOpened = false;
  instance_ = std::make_unique<platform::shell::SingleInstance>(QStringLiteral("Tallyglass v1.0"));
  if (!instance_->IsFirst()) {
    platform::dialog::MessageBox(nullptr, QStringLiteral("程序已运行。"), Caption());
    instance_.reset();
    return 0;
  }

  tallyglass::ui::Settings s = settings_;
  std::unique_ptr<platform::shell::DemoSite> demo;
  if (s.demo) {
    demo = std::make_unique<platform::shell::DemoSite>();
    if (!demo->Start()) {
      platform::dialog::MessageBox(nullptr, QStringLiteral("无法启动演示站点：%1").arg(demo->Error()),
                                   Caption());
      return 1;
    }
    s.siteUrl = demo->BaseUrl();
    if (!s.cookiesGiven) s.cookies = "none";
    // The demo's history must not mix with the real one.
    if (s.dataDir.empty()) {
      s.dataDir = (QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                   QStringLiteral("/Tallyglass-demo"))
                      .toStdString();
    }
  }
  m_szFolder = s.dataDir.empty() ? tallyglass::db::DefaultDataDir() : QString::fromStdString(s.dataDir);

  settings_.demo = s.demo;
  ConnectDatabase();
  m_bDbOpened = true;

  std::unique_ptr<SiteConnection> site;
  if (!transportOverride) site = std::make_unique<SiteConnection>(s);
  platform::shell::SystemOpener systemOpener("");

  HistoryDlgServices services;
  services.db = m_pConnection.get();
  services.transport = transportOverride ? transportOverride : &site->transport;
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
      return std::make_unique<platform::http::CurlTransport>(tallyglass::crawl::HistoryHttpOptions());
    };
  } else {
    services.newTransport = [s]() -> std::unique_ptr<platform::http::Transport> {
      return std::make_unique<LoggedInTransport>(s);
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
