#include "platform/power/power.h"

#include <QDBusError>
#include <QDBusMessage>
#include <QDBusReply>

namespace platform::power {

namespace {

// The window waits for these answers: a bus that does not answer must not
// freeze it for long.
constexpr int kCallTimeoutMs = 2000;

const QString kScreenSaverService = QStringLiteral("org.freedesktop.ScreenSaver");
const QString kScreenSaverPath = QStringLiteral("/org/freedesktop/ScreenSaver");

}  // namespace

SleepInhibitor::SleepInhibitor(QString appName, QDBusConnection systemBus, QDBusConnection sessionBus)
    : app_(std::move(appName)), system_(std::move(systemBus)), session_(std::move(sessionBus)) {}

SleepInhibitor::~SleepInhibitor() { Release(); }

SleepInhibitor::Held SleepInhibitor::Hold(const QString& why) {
  if (held_ != Held::None) return held_;
  QStringList errors;
  if (system_.isConnected()) {
    // A "block" lock keeps the machine awake; where policy refuses one, a
    // "delay" lock at least gives the bid in flight a few seconds.
    for (const char* mode : {"block", "delay"}) {
      QDBusMessage call = QDBusMessage::createMethodCall(
          QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
          QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
      call << QStringLiteral("sleep") << app_ << why << QString::fromLatin1(mode);
      QDBusReply<QDBusUnixFileDescriptor> reply = system_.call(call, QDBus::Block, kCallTimeoutMs);
      if (reply.isValid() && reply.value().isValid()) {
        fd_ = reply.value();
        held_ = Held::Login1;
        error_.clear();
        return held_;
      }
      errors << QStringLiteral("login1 %1: %2").arg(QString::fromLatin1(mode), reply.error().message());
      // No logind at all: asking again in the other mode cannot help.
      if (reply.error().type() == QDBusError::ServiceUnknown || reply.error().type() == QDBusError::NoReply ||
          reply.error().type() == QDBusError::Timeout) {
        break;
      }
    }
  } else {
    errors << QStringLiteral("login1: 没有系统总线");
  }
  if (session_.isConnected()) {
    QDBusMessage call = QDBusMessage::createMethodCall(kScreenSaverService, kScreenSaverPath,
                                                       kScreenSaverService, QStringLiteral("Inhibit"));
    call << app_ << why;
    QDBusReply<uint> reply = session_.call(call, QDBus::Block, kCallTimeoutMs);
    if (reply.isValid()) {
      cookie_ = reply.value();
      held_ = Held::ScreenSaver;
      error_.clear();
      return held_;
    }
    errors << QStringLiteral("ScreenSaver: %1").arg(reply.error().message());
  } else {
    errors << QStringLiteral("ScreenSaver: 没有会话总线");
  }
  error_ = errors.join(QStringLiteral("; "));
  return held_;
}

void SleepInhibitor::Release() {
  switch (held_) {
    case Held::None:
      return;
    case Held::Login1:
      fd_ = QDBusUnixFileDescriptor();  // closing our copy ends the inhibitor
      break;
    case Held::ScreenSaver: {
      QDBusMessage call = QDBusMessage::createMethodCall(kScreenSaverService, kScreenSaverPath,
                                                         kScreenSaverService, QStringLiteral("UnInhibit"));
      call << cookie_;
      session_.call(call, QDBus::Block, kCallTimeoutMs);
      break;
    }
  }
  held_ = Held::None;
}

}  // namespace platform::power
