#include "platform/notify/notify.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QSystemTrayIcon>
#include <QVariantMap>

namespace platform::notify {

namespace {
// A stalled service must not hold a notice back for long before the tray has it.
constexpr int kServiceTimeoutMs = 3000;
}  // namespace

Notifier::Notifier(QString appName, QDBusConnection bus, QObject* parent)
    : QObject(parent), appName_(std::move(appName)), bus_(std::move(bus)) {}

Notifier::~Notifier() = default;

void Notifier::Notify(const QString& title, const QString& body) {
  if (!bus_.isConnected()) {
    ShowInTray(title, body, QStringLiteral("没有 D-Bus 会话总线"));
    return;
  }
  QDBusMessage call = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
      QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
  call << appName_ << 0u << QString() << title << body << QStringList() << QVariantMap() << -1;
  auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, kServiceTimeoutMs), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, title, body] {
    watcher->deleteLater();
    if (watcher->isError()) {
      ShowInTray(title, body, watcher->error().message());
    } else {
      emit shown(true);
    }
  });
}

void Notifier::ShowInTray(const QString& title, const QString& body, const QString& serviceError) {
  if (!QSystemTrayIcon::isSystemTrayAvailable()) {
    emit failed(title, body, QStringLiteral("没有通知服务（%1），也没有系统托盘").arg(serviceError));
  } else {
    if (!tray_) {
      tray_ = std::make_unique<QSystemTrayIcon>(icon_);
      tray_->setToolTip(appName_);
    }
    tray_->show();
    tray_->showMessage(title, body, QSystemTrayIcon::Information);
  }
  emit shown(false);
}

}  // namespace platform::notify
