// 更新: the walk over the site's auction ids, and endID.dat for the window.
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>

#include "tallyglass/crawl/resume.h"
#include "tallyglass/gui/HistoryDlg.h"

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

void CHistoryDlg::ShowWalkState() {
  Button(IDC_UPDATE)->setText(m_walk->UpdateButtonText());
  Button(IDC_QUERY)->setEnabled(m_walk->QueryEnabled());
  m_bStopped = !m_walk->Running();
}

void CHistoryDlg::UpdateDatabase() {
  if (m_walk->Running()) {
    // Pressed again during the walk (or while it winds down): the stop
    // request, never a second walk.
    m_walk->Stop();
    return;
  }
  if (!tallyglass::crawl::WalkController::Walkable(m_nLastId)) {
    Message(QStringLiteral("数据库不提供自动更新，请联系店主"));
    return;
  }
  // endID.dat may have been edited (or damaged) since the window opened.
  if (tallyglass::crawl::CheckResumeFile(m_szFolder) == tallyglass::crawl::ResumeFileState::Corrupt) {
    ResumeFromStore();
  } else {
    LoadLastId();
  }
  m_walkProgress->clear();
  m_walk->Start(m_nLastId);
}

void CHistoryDlg::OnWalkFinished(const tallyglass::crawl::WalkController::Outcome& outcome) {
  // The grid shows what the walk stored.
  m_query->Refresh();
  m_walkProgress->setText(IdleStatus());
  m_nLastId = outcome.lastId;
  SaveLastId();
  Message(outcome.SummaryText());
  if (m_endAfterWalk) QDialog::done(*m_endAfterWalk);
}
