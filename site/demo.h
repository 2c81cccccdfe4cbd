#pragma once
// --demo: a private auction-sim on loopback with a lively scenario, so that a
// newcomer sees the program work without an account.
#include <QString>
#include <memory>
#include <string>

#include "site/settings.h"

class QProcess;

namespace site {

class DemoSite {
 public:
  // `program` defaults to the auction-sim beside the running executable.
  explicit DemoSite(QString program = QString());
  ~DemoSite();  // stops the simulator
  DemoSite(const DemoSite&) = delete;
  DemoSite& operator=(const DemoSite&) = delete;

  // Starts it with `--demo --port 0` and waits (at most `waitMs`) for its
  // "PORT=<n>" line. False with `error` set when it did not come up.
  bool Start(int waitMs = 10000);
  bool IsRunning() const;
  std::string BaseUrl() const { return baseUrl_; }  // "http://127.0.0.1:<n>"
  const QString& Error() const { return error_; }

 private:
  QString program_;
  std::unique_ptr<QProcess> proc_;
  std::string baseUrl_;
  QString error_;
};

// --demo's start-up, the same for both programs: starts the simulator and
// points `s` at it, with no login unless one was asked for. On failure:
// nullptr, and `failure` holds the message to show.
std::unique_ptr<DemoSite> StartDemoSite(SiteSettings& s, QString& failure);

}  // namespace site
