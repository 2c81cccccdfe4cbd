// 更新: the walk over the site's auction ids, and endID.dat for the window.
#include <QCoreApplication>
#include <QPushButton>
#include <limits>

#include "tallyglass/crawl/resume.h"
#include "tallyglass/crawl/walk.h"
#include "tallyglass/ui/DataGrid.h"
#include "tallyglass/ui/HistoryDlg.h"

using tallyglass::crawl::AuctionOutcome;

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
  Message(QStringLiteral("ID File write error!"));
  return false;
}

void CHistoryDlg::UpdateDatabase() {
  if (!m_bStopped) {
    // Pressed again while the walk pumps messages: the stop request.
    m_bStopped = true;
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

  const std::int32_t today =
      services_.transport ? tallyglass::crawl::FetchToday(*services_.transport, services_.siteUrl) : 0;
  // endID.dat may have been edited since the window opened.
  LoadLastId();
  std::int32_t walking = m_nLastId;
  std::int32_t lastAppended = m_nLastId;
  m_bStopped = false;
  QString dbError;

  while (!m_bStopped) {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    if (m_bClosing || m_bEnded || m_bStopped) break;
    if (walking == std::numeric_limits<std::int32_t>::max() || !services_.transport) break;
    ++walking;
    AuctionOutcome o =
        tallyglass::crawl::CrawlAuction(*services_.transport, services_.siteUrl, walking, today);
    if (o.kind == AuctionOutcome::EndOfWalk) {
      if (onAuctionHandled) onAuctionHandled(walking, o.kind);
      break;
    }
    if (o.kind == AuctionOutcome::Sold) {
      // Saved at once: a crash loses nothing that was stored.
      if (!m_pRecordset->Append(o.record)) {
        dbError = m_pRecordset->LastError();
        break;
      }
      lastAppended = walking;
    }
    if (onAuctionHandled) onAuctionHandled(walking, o.kind);
  }

  // The grid shows what the walk stored.
  if (m_pRecordset->IsOpen()) {
    m_pRecordset->Requery();
    m_grid->AttachDataSource(m_pRecordset.get());
  }
  m_nLastId = lastAppended;
  SaveLastId();
  if (dbError.isEmpty()) {
    Message(QStringLiteral("更新完成,当前记录ID为%1").arg(m_nLastId));
  } else {
    Message(QStringLiteral("更新中止,当前记录ID为%1\r\n错误信息:%2").arg(m_nLastId).arg(dbError));
  }
  m_bStopped = true;
  query->setEnabled(true);
  update->setText(QStringLiteral("更新"));
}
