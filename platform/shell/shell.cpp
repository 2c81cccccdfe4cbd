#include "platform/shell/shell.h"

#include <QDir>
#include <QGuiApplication>
#include <QLockFile>
#include <QPalette>
#include <QProcess>
#include <QStandardPaths>

namespace platform::shell {

SystemOpener::SystemOpener(std::string loginBrowserCommand) : loginBrowser_(std::move(loginBrowserCommand)) {}

void SystemOpener::XdgOpen(const QString& target, const std::string& what) {
  // Not QDesktopServices: it says nothing when xdg-open finds no program.
  // The answer comes later: whoever is to be told then is the one told now,
  // even if this opener is gone by then.
  auto* p = new QProcess;
  p->setProcessChannelMode(QProcess::ForwardedChannels);
  const auto fail = onFailure;
  QObject::connect(p, &QProcess::errorOccurred, p, [fail, p, what](QProcess::ProcessError e) {
    if (e != QProcess::FailedToStart) return;
    if (fail) fail(what, QStringLiteral("无法启动 xdg-open：%1").arg(p->errorString()).toStdString());
    p->deleteLater();
  });
  QObject::connect(p, &QProcess::finished, p, [fail, p, what](int code, QProcess::ExitStatus status) {
    if (fail && (status != QProcess::NormalExit || code != 0)) {
      fail(what, QStringLiteral("xdg-open 没有找到能打开它的程序（退出码 %1）").arg(code).toStdString());
    }
    p->deleteLater();
  });
  p->start(QStringLiteral("xdg-open"), {target});
}

void SystemOpener::Detached(const QString& program, const QStringList& args, const std::string& what) {
  QProcess p;
  p.setProgram(program);
  p.setArguments(args);
  // A detached child inherits this process's environment.
  if (!p.startDetached())
    Fail(what, QStringLiteral("无法启动 %1：%2").arg(program, p.errorString()).toStdString());
}

void SystemOpener::OpenUrl(const std::string& url) { XdgOpen(QString::fromStdString(url), url); }

void SystemOpener::OpenInLoginBrowser(const std::string& url) {
  // The setting may carry arguments ("firefox -P work"); the address goes last.
  QStringList parts = QProcess::splitCommand(QString::fromStdString(loginBrowser_));
  if (parts.isEmpty()) parts << QStringLiteral("firefox");
  const QString program = parts.takeFirst();
  parts << QString::fromStdString(url);
  Detached(program, parts, url);
}

void SystemOpener::OpenDocument(const std::string& path) { XdgOpen(QString::fromStdString(path), path); }

void SystemOpener::StartProgram(const std::string& path, const QStringList& args) {
  Detached(QString::fromStdString(path), args, path);
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
