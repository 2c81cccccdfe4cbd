// 查询, 查看当前商品, 价格走势 and 导出CSV: the history query with its price
// statistics, the page of the row selected in the grid, the chart and the
// export of the matching rows.
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>
#include <cstdint>

#include "platform/dialog/file_dialog.h"
#include "platform/shell/shell.h"
#include "site/paths.h"
#include "tallyglass/db/query_controller.h"
#include "tallyglass/gui/DataGrid.h"
#include "tallyglass/gui/HistoryDlg.h"
#include "tallyglass/gui/PriceChart.h"

void CHistoryDlg::RunQuery() {
  // A field that fails its check has said so; there is nothing to search with.
  if (!UpdateData(true)) return;
  const QString refusal = m_query->Run(Inputs());
  if (!refusal.isEmpty()) {
    Message(refusal);
    return;
  }
  if (m_todaySource != TodaySource::Site) NoteLocalToday();
  m_strQueryName = m_query->queryName();
  // From here the result set holds the query, not the table the walk
  // appends to.
  Button(IDC_UPDATE)->setEnabled(false);
  m_grid->SetCaption(m_query->GridCaption());
  m_grid->AttachDataSource(m_pRecordset);
}

void CHistoryDlg::OnQueryFinished(bool ok) {
  m_grid->SetCaption(m_query->GridCaption());
  m_grid->AttachDataSource(m_pRecordset);
  if (!ok) {
    ReportDbError(m_query->error());
    return;
  }
  // Only the statistics are written back: the user may have typed the next
  // query meanwhile.
  const tallyglass::db::PriceStats& st = m_query->stats();
  m_nMaxPrice = st.max;
  m_nMinPrice = st.min;
  m_nAvgPrice = st.avg;
  m_nMedianPrice = st.median;
  m_nSales = static_cast<std::uint32_t>(std::min<std::int64_t>(st.count, UINT32_MAX));
  Edit(IDC_MAXPRICE)->setText(QString::number(m_nMaxPrice));
  Edit(IDC_MINPRICE)->setText(QString::number(m_nMinPrice));
  Edit(IDC_AVGPRICE)->setText(QString::number(m_nAvgPrice));
  Edit(IDC_MEDIANPRICE)->setText(QString::number(m_nMedianPrice));
  Edit(IDC_SALES)->setText(QString::number(m_nSales));
}

void CHistoryDlg::ViewCurrentItem() {
  QString problem;
  const std::optional<std::int32_t> id = m_query->CurrentProductId(&problem);
  if (!id) {
    Message(problem);
    return;
  }
  if (services_.opener) services_.opener->OpenUrl(services_.siteUrl + ::site::DetailPath(*id));
}

void CHistoryDlg::ShowPriceChart() {
  QPushButton* chart = Button(IDC_CHART);
  chart->setEnabled(false);
  m_query->LoadChart(
      [this, chart](bool ok, const tallyglass::db::HistoryResultSet::ChartData& data, const QString& error) {
        chart->setEnabled(true);
        if (!ok) {
          ReportDbError(error);
          return;
        }
        if (data.count == 0) {
          Message(QStringLiteral("没有可显示的成交记录。"));
          return;
        }
        if (m_pChart) m_pChart->close();
        m_pChart = tallyglass::ui::OpenPriceChart(this, data, m_strQueryName);
      });
}

void CHistoryDlg::ExportCsv() {
  const QString path = platform::dialog::GetSaveFileName(
      this, QStringLiteral("导出CSV"), QDir::home().filePath(QStringLiteral("tallyglass.csv")),
      QStringLiteral("CSV 文件 (*.csv)"));
  if (path.isEmpty()) return;
  QPushButton* exportCsv = Button(IDC_EXPORT);
  exportCsv->setEnabled(false);
  m_query->ExportCsv(path, [this, exportCsv, path](bool ok, std::int64_t rows, const QString& error) {
    exportCsv->setEnabled(true);
    if (ok) {
      Message(QStringLiteral("已导出%1条记录到 %2").arg(rows).arg(QDir::toNativeSeparators(path)));
    } else {
      Message(QStringLiteral("导出失败!\r\n错误信息:%1").arg(error));
    }
  });
}
