// 查询 and 查看当前商品: the history query with its price statistics, and the
// page of the row selected in the grid.
#include <QPushButton>

#include "platform/shell/shell.h"
#include "tallyglass/db/query.h"
#include "tallyglass/ui/DataGrid.h"
#include "tallyglass/ui/HistoryDlg.h"

void CHistoryDlg::RunQuery() {
  // A field that fails its check has said so; there is nothing to search with.
  if (!UpdateData(true)) return;
  const tallyglass::db::QueryInputs in = Inputs();
  if (!tallyglass::db::HasSearchCondition(in)) {
    Message(QStringLiteral("请输入检索条件"));
    return;
  }
  // From here the result set holds the query, not the table the crawl
  // appends to.
  Button(IDC_UPDATE)->setEnabled(false);
  m_pRecordset->Close();
  const tallyglass::db::Engine engine =
      services_.db ? services_.db->engine() : tallyglass::db::Engine::Sqlite;
  const bool opened = m_pRecordset->Open(tallyglass::db::BuildHistoryQuery(in, engine));
  m_grid->AttachDataSource(m_pRecordset.get());
  if (!opened) {
    ReportDbError(m_pRecordset->LastError());
    return;
  }
  tallyglass::db::PriceStats stats;
  if (!m_pRecordset->ComputeStatistics(&stats)) {
    ReportDbError(m_pRecordset->LastError());
    return;
  }
  // No rows: all three are 0.
  m_nMaxPrice = stats.max;
  m_nMinPrice = stats.min;
  m_nAvgPrice = stats.avg;
  UpdateData(false);
}

void CHistoryDlg::ViewCurrentItem() {
  if (m_pRecordset->CurrentRow() < 0) {
    Message(QStringLiteral("请先在表格中选中一条记录。"));
    return;
  }
  std::optional<QVariant> id = m_pRecordset->Collect(QStringLiteral("ProductID"));
  bool ok = false;
  const std::int32_t n = id ? id->toInt(&ok) : 0;
  if (!ok) {
    ReportDbError(id ? QStringLiteral("ProductID: %1").arg(id->toString()) : m_pRecordset->LastError());
    return;
  }
  if (services_.opener) services_.opener->OpenUrl(services_.siteUrl + "/detail/" + std::to_string(n));
}
