#pragma once
// Keeping the machine awake while a snipe waits: a sleep inhibitor from
// logind (org.freedesktop.login1 Manager.Inhibit, "block", else "delay",
// kept as its file descriptor), else the desktop's
// org.freedesktop.ScreenSaver Inhibit.
#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QString>

namespace platform::power {

class SleepInhibitor {
 public:
  enum class Held { None, Login1, ScreenSaver };

  explicit SleepInhibitor(QString appName, QDBusConnection systemBus = QDBusConnection::systemBus(),
                          QDBusConnection sessionBus = QDBusConnection::sessionBus());
  ~SleepInhibitor();  // releases
  SleepInhibitor(const SleepInhibitor&) = delete;
  SleepInhibitor& operator=(const SleepInhibitor&) = delete;

  // Takes an inhibitor unless one is held; `why` is what the desktop shows.
  // None when neither service granted one (LastError() says why).
  Held Hold(const QString& why);
  void Release();
  Held held() const { return held_; }
  const QString& LastError() const { return error_; }

 private:
  QString app_;
  QDBusConnection system_;
  QDBusConnection session_;
  Held held_ = Held::None;
  QDBusUnixFileDescriptor fd_;  // logind keeps the inhibitor while this is open
  uint cookie_ = 0;
  QString error_;
};

}  // namespace platform::power
