// The window's result set on the whole table: its answer shows when it comes.
#include "tallyglass/gui/DataGrid.h"
#include "tallyglass/gui/HistoryDlg.h"

void CHistoryDlg::OpenHistoryTable() { m_query->OpenWholeTable(); }

void CHistoryDlg::OnTableOpened(bool ok) {
  if (!ok) {
    Message(QStringLiteral("读取记录错误。"));
    return;
  }
  m_grid->AttachDataSource(m_pRecordset);
}
