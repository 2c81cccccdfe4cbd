#pragma once
// The application: settings, the site connection with the user's login, and
// one modal CMainDlg. The program ends when the window closes.
#include <functional>
#include <iosfwd>

#include "gavelhawk/app/settings.h"

class CMainDlg;
namespace gavelhawk::snipe {
struct CliArgs;
}
namespace platform::shell {
class Opener;
}

class CGavelhawkApp {
 public:
  explicit CGavelhawkApp(gavelhawk::ui::AppSettings settings);

  // Runs the window in the application's event loop (a QApplication must
  // exist, its loop not yet running) and returns the exit code: 0 when the
  // window closed or an accepted update ended start-up, 1 when --demo could
  // not start its site or another client holds the saved snipe list.
  int InitInstance();

  // `--probe ID`: no window; prints to `out`, returns the exit code.
  int RunProbe(std::ostream& out);

  // `snipe ...`: no window; one line per event on `out`; the exit code.
  int RunSnipe(const gavelhawk::snipe::CliArgs& args, std::ostream& out);

  // Test seams: pages, documents and programs go here instead of the desktop;
  // `onShown` runs once the window is up (a test closes it from there).
  platform::shell::Opener* openerOverride = nullptr;
  std::function<void(CMainDlg&)> onShown;

 private:
  gavelhawk::ui::AppSettings settings_;
};
