// 更新: the walk over the site's auction ids, and endID.dat for the window.
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <atomic>
#include <memory>

#include "site/fetch.h"
#include "tallyglass/crawl/resume.h"
#include "tallyglass/crawl/walker.h"
#include "tallyglass/gui/DataGrid.h"
#include "tallyglass/gui/HistoryDlg.h"

using tallyglass::crawl::AuctionOutcome;
using tallyglass::crawl::WalkSession;

namespace {

QString ResumePath(const QString& folder) {
  return QDir::toNativeSeparators(tallyglass::crawl::ResumeFilePath(folder));
}

}  // namespace

bool CHistoryDlg::LoadLastId() {
  std::optional<std::int32_t> id = tallyglass::crawl::ReadResumeId(m_szFolder);
  if (!id) return false;
  m_nLastId = *id;
  return true;
}

bool CHistoryDlg::SaveLastId() {
  // Also when the file cannot even be created: the walk must not look saved
  // when the next start would resume from the old id.
  if (tallyglass::crawl::WriteResumeId(m_szFolder, m_nLastId) == tallyglass::crawl::SaveResult::Saved)
    return true;
  Message(QStringLiteral("ID File write error!\r\n%1").arg(ResumePath(m_szFolder)));
  return false;
}

void CHistoryDlg::ResumeFromStore() {
  QString error;
  std::optional<std::int32_t> largest = tallyglass::db::LargestProductId(services_.db, &error);
  m_nLastId = largest ? *largest : services_.firstId;
  const bool missing =
      tallyglass::crawl::CheckResumeFile(m_szFolder) == tallyglass::crawl::ResumeFileState::Missing;
  Message(QStringLiteral("%1 %2, 无法读出记录ID。\r\n将从ID %3 之后继续更新 (%4)。")
              .arg(ResumePath(m_szFolder), missing ? QStringLiteral("不存在") : QStringLiteral("已损坏"),
                   QString::number(m_nLastId),
                   largest ? QStringLiteral("数据库中最大的记录ID") : QStringLiteral("数据库中没有记录")));
  if (tallyglass::crawl::WriteResumeId(m_szFolder, m_nLastId) != tallyglass::crawl::SaveResult::Saved)
    Message(QStringLiteral("ID File write error!\r\n%1").arg(ResumePath(m_szFolder)));
}

void CHistoryDlg::CheckResumeAtStart() {
  using tallyglass::crawl::ResumeFileState;
  if (!services_.db || !services_.db->IsOpen()) return;
  const ResumeFileState state = tallyglass::crawl::CheckResumeFile(m_szFolder);
  // Missing here means it could not even be created at start.
  if (state != ResumeFileState::Ok) {
    ResumeFromStore();
    return;
  }
  QString error;
  if (m_nLastId > services_.firstId && !tallyglass::db::LargestProductId(services_.db, &error) &&
      error.isEmpty()) {
    // A deleted or emptied database with an endID.dat far ahead would skip
    // the whole old history without a word.
    const auto answer = platform::dialog::MessageBox(
        this,
        QStringLiteral("数据库中没有记录, 但 %1 记录的ID为 %2。\r\n"
                       "按 OK 从头更新 (重新获取全部历史, 从ID %3 之后开始);\r\n"
                       "按 Cancel 从ID %2 之后继续。")
            .arg(ResumePath(m_szFolder), QString::number(m_nLastId), QString::number(services_.firstId)),
        QString::fromLatin1(tallyglass::ui::kProgramName), platform::dialog::Buttons::OkCancel);
    if (answer == platform::dialog::Answer::Ok) {
      m_nLastId = services_.firstId;
      SaveLastId();
    }
  }
  const QFileInfo file(tallyglass::crawl::ResumeFilePath(m_szFolder));
  if ((file.exists() && !file.isWritable()) || !QFileInfo(m_szFolder).isWritable())
    Message(QStringLiteral("%1 无法写入: 更新后的记录ID将无法保存。").arg(ResumePath(m_szFolder)));
}

void CHistoryDlg::ShowWalkProgress() {
  if (!m_walk || !m_walkProgress) return;
  m_walkProgress->setText(QStringLiteral("已检查 %1 个ID, 存入 %2 条, %3 个ID/秒, 当前ID %4")
                              .arg(m_walk->walked())
                              .arg(m_walk->stored())
                              .arg(m_walk->IdsPerSecond(), 0, 'f', 1)
                              .arg(m_walk->currentId()));
}

void CHistoryDlg::UpdateDatabase() {
  if (!m_bStopped || m_walkTick) {
    // Pressed again during the walk (or while it winds down): the stop
    // request, never a second walk.
    m_bStopped = true;
    if (m_walk) m_walk->Stop();
    return;
  }
  if (m_nLastId < tallyglass::crawl::kFirstResumeId || m_nLastId > tallyglass::crawl::kLastResumeId) {
    Message(QStringLiteral("数据库不提供自动更新，请联系店主"));
    return;
  }
  QPushButton* update = Button(IDC_UPDATE);
  QPushButton* query = Button(IDC_QUERY);
  query->setEnabled(false);
  update->setText(QStringLiteral("暂停"));

  // endID.dat may have been edited (or damaged) since the window opened.
  if (tallyglass::crawl::CheckResumeFile(m_szFolder) == tallyglass::crawl::ResumeFileState::Corrupt) {
    ResumeFromStore();
  } else {
    LoadLastId();
  }

  tallyglass::crawl::TransportFactory factory = services_.newTransport;
  if (!factory) {
    factory = [] {
      return std::make_unique<platform::http::CurlTransport>(::site::SiteHttpOptions(::site::kHistoryAgentName));
    };
  }
  tallyglass::crawl::WalkOptions options;
  options.siteUrl = services_.siteUrl;
  options.inFlight = services_.inFlight;
  // A walk before this one may still be letting its readers go.
  m_walk.reset();
  m_walk = std::make_unique<WalkSession>(services_.db, m_szFolder, std::move(factory), options, m_nLastId);
  m_walk->onStep = [this](std::int32_t id, AuctionOutcome::Kind kind) {
    if (onAuctionHandled) onAuctionHandled(id, kind);
    // Closed in between: the ids after this one are not handled.
    if (m_bClosing || m_bEnded) m_walk->Stop();
  };
  m_bStopped = false;

  m_walkProgress->clear();

  // The readers work on their own threads; this loop keeps the window
  // alive, commits what they read and shows how far they are.
  QEventLoop loop;
  QTimer tick;
  tick.setInterval(100);
  QElapsedTimer sinceRefresh;
  sinceRefresh.start();
  std::int64_t shownRows = 0;
  auto refreshGrid = [&] {
    if (m_pRecordset->IsOpen()) {
      m_pRecordset->Requery();
      m_grid->AttachDataSource(m_pRecordset.get());
    }
    shownRows = m_walk->stored();
    sinceRefresh.restart();
  };
  m_walkTick = [&] {
    if (m_bClosing || m_bEnded) m_walk->Stop();
    const bool over = m_walk->Pump();
    ShowWalkProgress();
    if (m_walk->stored() != shownRows && sinceRefresh.elapsed() >= 1000) refreshGrid();
    if (over) loop.quit();
  };
  connect(&tick, &QTimer::timeout, &loop, [this] { m_walkTick(); });
  // The readers wake this thread when they have something; the tick is for
  // commits that are due by time, and the progress.
  auto posted = std::make_shared<std::atomic<bool>>(false);
  m_walk->SetOnReady([this, posted] {
    if (posted->exchange(true)) return;
    QMetaObject::invokeMethod(
        this,
        [this, posted] {
          posted->store(false);
          if (m_walkTick) m_walkTick();
        },
        Qt::QueuedConnection);
  });
  m_walk->Start();
  tick.start();
  loop.exec();
  tick.stop();
  m_walkTick = nullptr;

  // The grid shows what the walk stored.
  refreshGrid();
  m_walkProgress->setText(IdleStatus());
  m_nLastId = m_walk->lastAppended();
  SaveLastId();
  QString text;
  if (m_walk->result() == WalkSession::Result::Completed) {
    text = QStringLiteral("更新完成,当前记录ID为%1").arg(m_nLastId);
  } else {
    text = QStringLiteral("更新中止,当前记录ID为%1 错误信息:%2").arg(m_nLastId).arg(m_walk->error());
  }
  if (m_walk->implausible() > 0)
    text += QStringLiteral("\r\n%1 条成交记录的价格或日期不可信, 未存入").arg(m_walk->implausible());
  Message(text);
  m_bStopped = true;
  query->setEnabled(true);
  update->setText(QStringLiteral("更新"));
}
