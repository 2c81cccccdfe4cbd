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
#include "tallyglass/db/query.h"
#include "tallyglass/db/rows_model.h"
#include "tallyglass/gui/DataGrid.h"
#include "tallyglass/gui/HistoryDlg.h"
#include "tallyglass/gui/PriceChart.h"

void CHistoryDlg::RunQuery() {
  // A field that fails its check has said so; there is nothing to search with.
  if (!UpdateData(true)) return;
  const tallyglass::db::QueryInputs in = Inputs();
  if (!tallyglass::db::HasSearchCondition(in)) {
    Message(QStringLiteral("请输入检索条件"));
    return;
  }
  if (m_todaySource != TodaySource::Site) NoteLocalToday();
  // What the chart names: the keywords and the range of this query.
  QStringList words;
  for (const QString& k : in.include)
    if (!in.include[0].isEmpty() && !k.isEmpty()) words << k;
  for (const QString& k : in.exclude)
    if (!in.exclude[0].isEmpty() && !k.isEmpty()) words << QLatin1Char('-') + k;
  if (!in.buyer.isEmpty()) words << QStringLiteral("成交账户名:") + in.buyer;
  m_strQueryName =
      QStringLiteral("%1，最近%2天（%3 至 %4）")
          .arg(words.join(QLatin1Char(' ')))
          .arg(in.days)
          .arg(tallyglass::db::DayText(in.today - in.days + 1), tallyglass::db::DayText(in.today));
  // From here the result set holds the query, not the table the crawl
  // appends to.
  Button(IDC_UPDATE)->setEnabled(false);
  const tallyglass::db::Engine engine =
      services_.db ? services_.db->engine() : tallyglass::db::Engine::Sqlite;
  // The query runs on the result set's worker; a query still running is
  // cancelled and its rows never show.
  m_grid->SetCaption(QStringLiteral("查询中…"));
  m_pRecordset->Start(tallyglass::db::BuildHistoryQuery(in, engine),
                      [this](const tallyglass::db::HistoryResultSet::Finished& f) { OnQueryFinished(f); });
  m_grid->AttachDataSource(m_pRecordset.get());
}

void CHistoryDlg::OnQueryFinished(const tallyglass::db::HistoryResultSet::Finished& f) {
  m_grid->SetCaption(QStringLiteral("查询记录"));
  m_grid->AttachDataSource(m_pRecordset.get());
  if (!f.ok) {
    ReportDbError(f.error);
    return;
  }
  // No rows: all are 0. Only the statistics are written back: the user may
  // have typed the next query meanwhile.
  m_nMaxPrice = f.stats.max;
  m_nMinPrice = f.stats.min;
  m_nAvgPrice = f.stats.avg;
  m_nMedianPrice = f.stats.median;
  m_nSales = static_cast<std::uint32_t>(std::min<std::int64_t>(f.stats.count, UINT32_MAX));
  Edit(IDC_MAXPRICE)->setText(QString::number(m_nMaxPrice));
  Edit(IDC_MINPRICE)->setText(QString::number(m_nMinPrice));
  Edit(IDC_AVGPRICE)->setText(QString::number(m_nAvgPrice));
  Edit(IDC_MEDIANPRICE)->setText(QString::number(m_nMedianPrice));
  Edit(IDC_SALES)->setText(QString::number(m_nSales));
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
  if (services_.opener) services_.opener->OpenUrl(services_.siteUrl + ::site::DetailPath(n));
}

void CHistoryDlg::ShowPriceChart() {
  QPushButton* chart = Button(IDC_CHART);
  chart->setEnabled(false);
  m_pRecordset->LoadChart(
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
  m_pRecordset->ExportCsv(path, [this, exportCsv, path](bool ok, std::int64_t rows, const QString& error) {
    exportCsv->setEnabled(true);
    if (ok) {
      Message(QStringLiteral("已导出%1条记录到 %2").arg(rows).arg(QDir::toNativeSeparators(path)));
    } else {
      Message(QStringLiteral("导出失败!\r\n错误信息:%1").arg(error));
    }
  });
}
