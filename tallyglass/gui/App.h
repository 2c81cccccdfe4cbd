#pragma once
// CHistoryApp: one running copy, the database connection for the whole run,
// and one modal CHistoryDlg. The program ends when the window closes.
#include <QString>
#include <functional>
#include <memory>

#include "tallyglass/settings.h"

class CHistoryDlg;
namespace platform::http {
class Transport;
}
namespace platform::shell {
class Opener;
class SingleInstance;
}  // namespace platform::shell
namespace tallyglass::db {
class HistoryDb;
}

class CHistoryApp {
 public:
  explicit CHistoryApp(tallyglass::ui::Settings settings);
  ~CHistoryApp();

  // Start-up and the window's run (a QApplication must exist); then the exit
  // step. The exit code: 0, or 1 when --demo could not start its site.
  int InitInstance();
  // Closes the connection if it is open.
  void ExitInstance();
  // Opens the database, making what a first start lacks; reports a failure
  // and goes on.
  void ConnectDatabase();

  // The data folder: database file and endID.dat.
  QString m_szFolder;
  bool m_bDbOpened = false;
  std::unique_ptr<tallyglass::db::HistoryDb> m_pConnection;

  // Test seams: the site and the desktop, and a look at the running window
  // (a test closes it from there).
  platform::http::Transport* transportOverride = nullptr;
  platform::shell::Opener* openerOverride = nullptr;
  std::function<void(CHistoryDlg&)> onShown;

 private:
  tallyglass::ui::Settings settings_;
  std::unique_ptr<platform::shell::SingleInstance> instance_;
};
