#pragma once
// Desktop notifications: org.freedesktop.Notifications over D-Bus; where no
// service answers, a message from a tray icon; where there is no tray either,
// `failed` says so. Never blocks the caller.
#include <QDBusConnection>
#include <QIcon>
#include <QObject>
#include <QString>
#include <memory>

class QSystemTrayIcon;

namespace platform::notify {

class Notifier : public QObject {
  Q_OBJECT
 public:
  // `bus` is where the notification service is asked; the session bus by
  // default.
  explicit Notifier(QString appName, QDBusConnection bus = QDBusConnection::sessionBus(),
                    QObject* parent = nullptr);
  ~Notifier() override;

  void SetIcon(const QIcon& icon) { icon_ = icon; }
  // Shows `title` and `body`; the D-Bus answer comes later, and a failed one
  // falls back to the tray.
  void Notify(const QString& title, const QString& body);

 signals:
  // After each notice: true when the notification service took it (after
  // `failed` when nothing could show it).
  void shown(bool byService);
  // Neither the service nor a tray could show the notice: `reason` says why.
  void failed(const QString& title, const QString& body, const QString& reason);

 private:
  void ShowInTray(const QString& title, const QString& body, const QString& serviceError);
  QString appName_;
  QDBusConnection bus_;
  QIcon icon_;
  std::unique_ptr<QSystemTrayIcon> tray_;
};

}  // namespace platform::notify
