// The window's result set on the whole table.
#include "tallyglass/gui/HistoryDlg.h"

bool CHistoryDlg::OpenHistoryTable() {
  if (m_pRecordset->OpenHistoryTable()) return true;
  Message(QStringLiteral("读取记录错误。"));
  return false;
}
