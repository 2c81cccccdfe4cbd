#include "site/demo.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QProcess>

#include "platform/shell/locate.h"

namespace site {

DemoSite::DemoSite(QString program) : program_(std::move(program)) {
  if (program_.isEmpty()) {
    program_ = QString::fromStdString(
        platform::shell::FindCompanion(QCoreApplication::applicationDirPath().toStdString(),
                                       platform::shell::Companion::Program, "auction-sim"));
  }
}

DemoSite::~DemoSite() {
  if (!proc_ || proc_->state() == QProcess::NotRunning) return;
  proc_->terminate();
  if (!proc_->waitForFinished(3000)) {
    proc_->kill();
    proc_->waitForFinished(3000);
  }
}

bool DemoSite::Start(int waitMs) {
  if (!QFileInfo(program_).isExecutable()) {
    error_ = QStringLiteral("找不到模拟站点程序 %1").arg(program_);
    return false;
  }
  proc_ = std::make_unique<QProcess>();
  proc_->setProgram(program_);
  proc_->setArguments({QStringLiteral("--demo"), QStringLiteral("--port"), QStringLiteral("0")});
  proc_->setProcessChannelMode(QProcess::SeparateChannels);
  proc_->setStandardErrorFile(QProcess::nullDevice());
  proc_->start();
  if (!proc_->waitForStarted(waitMs)) {
    error_ = QStringLiteral("模拟站点无法启动：%1").arg(proc_->errorString());
    return false;
  }
  QDeadlineTimer deadline(waitMs);
  while (!deadline.hasExpired()) {
    if (!proc_->canReadLine() && !proc_->waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
      if (proc_->state() == QProcess::NotRunning) break;
      continue;
    }
    while (proc_->canReadLine()) {
      const QByteArray line = proc_->readLine().trimmed();
      if (!line.startsWith("PORT=")) continue;
      bool ok = false;
      const int port = line.mid(5).toInt(&ok);
      if (ok && port > 0 && port < 65536) {
        baseUrl_ = "http://127.0.0.1:" + std::to_string(port);
        // Keep draining its output so that a chatty simulator never blocks on a full pipe.
        QProcess* p = proc_.get();
        QObject::connect(p, &QProcess::readyReadStandardOutput, p, [p] { p->readAllStandardOutput(); });
        return true;
      }
    }
  }
  error_ = proc_->state() == QProcess::NotRunning ? QStringLiteral("模拟站点启动后立即退出")
                                                  : QStringLiteral("模拟站点没有报告端口");
  return false;
}

bool DemoSite::IsRunning() const { return proc_ && proc_->state() == QProcess::Running; }

std::unique_ptr<DemoSite> StartDemoSite(SiteSettings& s, QString& failure) {
  auto demo = std::make_unique<DemoSite>();
  if (!demo->Start()) {
    failure = QStringLiteral("无法启动演示站点：%1").arg(demo->Error());
    return nullptr;
  }
  s.siteUrl = demo->BaseUrl();
  if (!s.cookiesGiven) s.cookies = "none";
  return demo;
}

}  // namespace site
