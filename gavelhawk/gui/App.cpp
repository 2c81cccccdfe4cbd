#include "gavelhawk/gui/App.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QTimer>
#include <atomic>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <memory>
#include <ostream>

#include "gavelhawk/gui/MainDlg.h"
#include "gavelhawk/log/event_log.h"
#include "gavelhawk/site/probe.h"
#include "gavelhawk/snipe/cli.h"
#include "gavelhawk/snipe/saved_list.h"
#include "platform/cookies/cookies.h"
#include "platform/http/http.h"
#include "platform/notify/notify.h"
#include "platform/power/power.h"
#include "platform/shell/shell.h"
#include "platform/shell/signals.h"
#include "site/demo.h"
#include "site/fetch.h"
#include "site/login.h"

namespace {

// The update page is read while the window waits to appear: a page that does
// not answer must not hold it for more than a few seconds.
platform::http::Options UpdateHttpOptions() {
  platform::http::Options o = site::SiteHttpOptions();
  o.connectTimeout = std::chrono::milliseconds(2500);
  o.stallTimeout = std::chrono::milliseconds(2000);
  o.deadline = std::chrono::milliseconds(6000);
  o.maxBytes = 1u << 20;
  return o;
}

}  // namespace

CGavelhawkApp::CGavelhawkApp(gavelhawk::ui::AppSettings settings) : settings_(std::move(settings)) {
  site::SetDeadlines(std::chrono::milliseconds(settings_.requestDeadlineMs),
                     std::chrono::milliseconds(settings_.pageDeadlineMs));
}

int CGavelhawkApp::RunProbe(std::ostream& out) {
  site::SiteConnection site(settings_, site::kAgentName);
  if (!site.notice().empty()) std::cerr << "gavelhawk --probe: " << site.notice() << "\n";
  return gavelhawk::site::RunProbe(site.transport(), settings_.siteUrl, *settings_.probeId, out);
}

int CGavelhawkApp::RunSnipe(const gavelhawk::snipe::CliArgs& args, std::ostream& out) {
  // The window and this command never snipe side by side: whoever runs first
  // holds the saved list's lock.
  std::string refusal;
  const std::unique_ptr<gavelhawk::ui::SavedListLock> listLock =
      gavelhawk::ui::LockSavedList(gavelhawk::ui::SavedListPath(std::getenv), &refusal);
  if (!listLock) {
    std::cerr << "gavelhawk snipe: " << refusal << "\n";
    return 1;
  }
  site::SiteConnection site(settings_, site::kAgentName);
  // No window to carry the notice: say it where the user looks.
  if (!site.notice().empty()) std::cerr << "gavelhawk snipe: " << site.notice() << "\n";
  std::atomic<bool> interrupted{false};
  platform::shell::CatchTerminationSignals(interrupted);
  gavelhawk::snipe::CliSite where;
  where.siteUrl = settings_.siteUrl;
  where.newTransport = [&site] { return site.NewTransport(); };
  return gavelhawk::snipe::RunSnipe(args, where, out, interrupted);
}

int CGavelhawkApp::InitInstance() {
  // Standard buttons and dialogs in the window's language, from the first box on.
  platform::dialog::InstallQtTranslations();
  gavelhawk::ui::AppSettings s = settings_;
  // One client snipes a list at a time: a second window, or `gavelhawk
  // snipe`, finds it locked and stops here, before any demo site starts.
  const std::string savedList = gavelhawk::ui::SavedListPath(std::getenv, s.demo);
  std::string refusal;
  const std::unique_ptr<gavelhawk::ui::SavedListLock> listLock =
      gavelhawk::ui::LockSavedList(savedList, &refusal);
  if (!listLock) {
    platform::dialog::MessageBox(nullptr, QString::fromStdString(refusal), QStringLiteral("Gavelhawk"));
    return 1;
  }

  std::unique_ptr<site::DemoSite> demo;
  if (s.demo) {
    QString failure;
    demo = site::StartDemoSite(s, failure);
    if (!demo) {
      platform::dialog::MessageBox(nullptr, failure, QStringLiteral("Gavelhawk"));
      return 1;
    }
    if (!s.updateUrlGiven) s.updateUrl = s.siteUrl + "/update";
    // tallyglass, started from the window, inherits this and reads the same site.
    qputenv("AUCTION_SITE_URL", QByteArray::fromStdString(s.siteUrl));
  }

  gavelhawk::log::Install(gavelhawk::log::DefaultLogPath(std::getenv));
  gavelhawk::log::Log("Gavelhawk 启动，站点 " + s.siteUrl);

  // Bid results reach the desktop from whatever thread told them.
  platform::notify::Notifier notifier(QStringLiteral("Gavelhawk"));
  // Posted to the notifier's thread; the notifier outlives every poster (it
  // is unhooked before it goes).
  platform::notify::Notifier* notifierPtr = &notifier;
  gavelhawk::log::SetNotifier([notifierPtr](const std::string& title, const std::string& body) {
    QMetaObject::invokeMethod(
        notifierPtr,
        [notifierPtr, t = QString::fromStdString(title), b = QString::fromStdString(body)] {
          notifierPtr->Notify(t, b);
        },
        Qt::QueuedConnection);
  });
  platform::power::SleepInhibitor inhibitor(QStringLiteral("Gavelhawk"));

  site::SiteConnection site(s, site::kAgentName);
  if (!site.notice().empty()) gavelhawk::log::Log(site.notice());
  platform::shell::SystemOpener systemOpener(site.loginBrowser());

  MainDlgServices services;
  services.transport = &site.transport();
  services.newUpdateTransport = [] {
    return std::make_unique<platform::http::CurlTransport>(UpdateHttpOptions());
  };
  services.newTransport = [&site] { return site.NewTransport(); };
  services.opener = openerOverride ? openerOverride : &systemOpener;
  services.siteUrl = s.siteUrl;
  services.homeUrl = s.homeUrl;
  services.serviceUrl = s.serviceUrl;
  services.updateUrl = s.updateUrl;
  services.appDir = QCoreApplication::applicationDirPath().toStdString();
  services.loginNotice = site.notice();
  services.savedListPath = savedList;
  services.inhibitor = &inhibitor;
  services.demo = s.demo;

  {
    CMainDlg dlg(services);
    // A notice nobody could see is told where the user looks: the log and
    // the window's caption.
    QObject::connect(
        &notifier, &platform::notify::Notifier::failed, &dlg,
        [&dlg](const QString& title, const QString& body, const QString& reason) {
          gavelhawk::log::Log(
              QStringLiteral("无法显示通知（%1）：%2 %3").arg(reason, title, body).toStdString());
          dlg.ShowStatus(QStringLiteral("通知无法显示，请看日志：%1").arg(body));
        });
    // The window shows once start-up is over; an accepted update ends the
    // program before it does. Closing the window ends the program.
    QObject::connect(&dlg, &CMainDlg::startUpDone, &dlg, [this, &dlg, &notifier](bool started) {
      if (!started) {
        QTimer::singleShot(0, QCoreApplication::instance(), &QCoreApplication::quit);
        return;
      }
      notifier.SetIcon(dlg.windowIcon());
      dlg.setModal(true);
      dlg.show();
      if (onShown) QTimer::singleShot(0, &dlg, [this, &dlg] { onShown(dlg); });
    });
    QObject::connect(&dlg, &QDialog::finished, QCoreApplication::instance(), &QCoreApplication::quit,
                     Qt::QueuedConnection);
    dlg.OnInitDialog();
    QCoreApplication::exec();
  }
  gavelhawk::log::SetNotifier(nullptr);
  gavelhawk::log::Log("Gavelhawk 退出");
  return 0;
}
