#include "platform/shell/shell.h"

#include <QDesktopServices>
#include <QDir>
#include <QGuiApplication>
#include <QLockFile>
#include <QPalette>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

namespace platform::shell {

SystemOpener::SystemOpener(std::string loginBrowserCommand) : loginBrowser_(std::move(loginBrowserCommand)) {}

void SystemOpener::OpenUrl(const std::string& url) {
  QDesktopServices::openUrl(QUrl(QString::fromStdString(url), QUrl::TolerantMode));
}

void SystemOpener::OpenInLoginBrowser(const std::string& url) {
  // The setting may carry arguments ("firefox -P work"); the address goes last.
  QStringList parts = QProcess::splitCommand(QString::fromStdString(loginBrowser_));
  if (parts.isEmpty()) parts << QStringLiteral("firefox");
  const QString program = parts.takeFirst();
  parts << QString::fromStdString(url);
  QProcess::startDetached(program, parts);
}

void SystemOpener::OpenDocument(const std::string& path) {
  QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
}

void SystemOpener::StartProgram(const std::string& path, const QStringList& args) {
  // A detached child inherits this process's environment.
  QProcess::startDetached(QString::fromStdString(path), args);
}

struct SingleInstance::Impl {
  explicit Impl(const QString& path) : lock(path) {}
  QLockFile lock;
};

SingleInstance::SingleInstance(const QString& name) {
  QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (dir.isEmpty()) dir = QDir::tempPath();
  QDir().mkpath(dir);
  QString file = name;
  file.replace(QLatin1Char('/'), QLatin1Char('_'));
  impl_ = std::make_unique<Impl>(dir + QLatin1Char('/') + file + QStringLiteral(".lock"));
  // A lock whose owner process is gone is taken over at once; a live owner
  // keeps it however old it is.
  impl_->lock.setStaleLockTime(0);
  first_ = impl_->lock.tryLock(0);
}

SingleInstance::~SingleInstance() = default;  // QLockFile unlocks when destroyed

void SkinH_Attach() {
  static bool attached = false;
  if (attached || !qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return;
  attached = true;
  // A calm light palette, the same on every desktop.
  QPalette p;
  const QColor window(0xEE, 0xF1, 0xF5);
  const QColor base(0xFF, 0xFF, 0xFF);
  const QColor text(0x1F, 0x23, 0x28);
  const QColor accent(0x2F, 0x6F, 0xB3);
  p.setColor(QPalette::Window, window);
  p.setColor(QPalette::WindowText, text);
  p.setColor(QPalette::Base, base);
  p.setColor(QPalette::AlternateBase, QColor(0xF6, 0xF8, 0xFA));
  p.setColor(QPalette::Text, text);
  p.setColor(QPalette::Button, QColor(0xE4, 0xE8, 0xEE));
  p.setColor(QPalette::ButtonText, text);
  p.setColor(QPalette::Highlight, accent);
  p.setColor(QPalette::HighlightedText, Qt::white);
  p.setColor(QPalette::ToolTipBase, base);
  p.setColor(QPalette::ToolTipText, text);
  p.setColor(QPalette::Link, accent);
  p.setColor(QPalette::PlaceholderText, QColor(0x80, 0x86, 0x8D));
  p.setColor(QPalette::Mid, QColor(0xC3, 0xC9, 0xD1));
  p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x9A, 0xA0, 0xA6));
  p.setColor(QPalette::Disabled, QPalette::Text, QColor(0x9A, 0xA0, 0xA6));
  p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x9A, 0xA0, 0xA6));
  QGuiApplication::setPalette(p);
}

}  // namespace platform::shell
