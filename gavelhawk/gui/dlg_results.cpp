// The results view of the search: rows from the hit table, and taking a hit
// into the snipe inputs.
#include <QDateTime>
#include <QHeaderView>
#include <QLabel>
#include <QTreeWidget>
#include <cstdio>
#include <cstdlib>

#include "gavelhawk/gui/MainDlg.h"
#include "gavelhawk/log/event_log.h"
#include "gavelhawk/snipe/price_history.h"
#include "platform/text/qgbk.h"

using platform::text::GbkToQString;

void CMainDlg::RefreshResultList() {
  struct Column {
    const char* heading;
    int width;
    Qt::Alignment align;
  };
  // The list view keeps its first column left whatever is asked for.
  static const Column columns[] = {
      {"夺宝编号", 60, Qt::AlignLeft},    {"商品名称", 315, Qt::AlignLeft},
      {"商品状态", 60, Qt::AlignHCenter}, {"剩余时间", 60, Qt::AlignRight},
      {"折扣", 60, Qt::AlignHCenter},     {"现价", 60, Qt::AlignHCenter},
      {"原价", 60, Qt::AlignHCenter},     {"历史中位", 60, Qt::AlignHCenter},
  };
  constexpr int kColumns = static_cast<int>(std::size(columns));
  m_listResults->clear();
  m_listResults->setColumnCount(0);
  QStringList headings;
  for (const Column& c : columns) headings << QString::fromUtf8(c.heading);
  m_listResults->setHeaderLabels(headings);
  for (int i = 0; i < kColumns; ++i) {
    m_listResults->headerItem()->setTextAlignment(i, columns[i].align | Qt::AlignVCenter);
    m_listResults->header()->resizeSection(i, columns[i].width);
  }
  for (int i = 0; i <= m_nHitLast && i < kHitSlots; ++i) {
    const SearchHit& h = m_hits[static_cast<std::size_t>(i)];
    auto* row = new QTreeWidgetItem(m_listResults);
    char discount[64];
    std::snprintf(discount, sizeof discount, "%.2f", static_cast<double>(h.fDiscount));
    row->setText(0, QString::number(h.nDealId));
    row->setText(1, GbkToQString(h.strTitle));
    row->setText(2, GbkToQString(h.strStatus));
    row->setText(3, GbkToQString(h.strRemain));
    row->setText(4, QString::fromLatin1(discount));
    row->setText(5, QString::number(h.nCurPrice));
    row->setText(6, QString::number(h.nListPrice));
    for (int c = 0; c < kColumns; ++c) row->setTextAlignment(c, columns[c].align | Qt::AlignVCenter);
  }
  ResultListShown();
}

gavelhawk::snipe::PriceHistoryLookup& CMainDlg::HistoryLookup() {
  if (!m_resultHistory)
    m_resultHistory = std::make_unique<gavelhawk::snipe::PriceHistoryLookup>(
        gavelhawk::snipe::HistorySourceFromEnvironment(std::getenv, m_services.demo));
  return *m_resultHistory;
}

void CMainDlg::ShowSnipeHistory(std::int32_t dealId, const std::string& title) {
  using gavelhawk::snipe::PriceHistory;
  auto* label = qobject_cast<QLabel*>(GetDlgItem(IDC_HISTORY));
  if (!label) return;
  label->clear();
  const std::uint64_t run = ++m_snipeHistoryRun;
  const std::int64_t now = m_services.siteNow ? m_services.siteNow() : QDateTime::currentMSecsSinceEpoch();
  HistoryLookup().LookUp({title}, now, [this, run, dealId, label](std::vector<PriceHistory> answers) {
    QMetaObject::invokeMethod(
        this,
        [this, run, dealId, label, h = answers.empty() ? PriceHistory{} : answers.front()] {
          // Another auction was read since, or the fields moved on.
          if (run != m_snipeHistoryRun || dealId != m_nDealId) return;
          if (!h.error.empty()) gavelhawk::log::Log("历史成交读取失败：" + h.error);
          label->setText(QString::fromStdString(gavelhawk::snipe::HistoryLabelText(h)));
        },
        Qt::QueuedConnection);
  });
}

void CMainDlg::LookUpResultHistory() {
  using gavelhawk::snipe::PriceHistory;
  HistoryLookup();
  std::vector<std::string> titles;
  for (int i = 0; i <= m_nHitLast && i < kHitSlots; ++i)
    titles.push_back(m_hits[static_cast<std::size_t>(i)].strTitle);
  const std::uint64_t run = ++m_historyRun;
  const std::int64_t now = m_services.siteNow ? m_services.siteNow() : QDateTime::currentMSecsSinceEpoch();
  m_resultHistory->LookUp(std::move(titles), now, [this, run](std::vector<PriceHistory> answers) {
    QMetaObject::invokeMethod(
        this,
        [this, run, answers = std::move(answers)] {
          // Rows shown anew since the lookup began are not the rows it answers.
          if (run != m_historyRun) return;
          const int rows =
              std::min<int>(static_cast<int>(answers.size()), m_listResults->topLevelItemCount());
          for (int i = 0; i < rows; ++i) {
            const PriceHistory& h = answers[static_cast<std::size_t>(i)];
            const QString text = !h.present    ? QString()
                                 : h.count > 0 ? QString::number(h.median)
                                               : QString::fromUtf8("无");
            m_listResults->topLevelItem(i)->setText(kHistoryColumn, text);
          }
        },
        Qt::QueuedConnection);
  });
}

void CMainDlg::TakeSelectedHit() {
  int first = -1;
  for (int i = 0; i < m_listResults->topLevelItemCount(); ++i) {
    if (m_listResults->topLevelItem(i)->isSelected()) {
      first = i;
      break;
    }
  }
  if (first < 0 || first >= kHitSlots) return;
  UpdateData(true);
  const SearchHit& h = m_hits[static_cast<std::size_t>(first)];
  m_nDealId = h.nDealId;
  m_strTitle = h.strTitle;
  m_nMaxPrice = static_cast<std::int32_t>(static_cast<std::int64_t>(h.nListPrice) * 5 / 10);
  m_nIncrement = 1;
  UpdateData(false);
}

void CMainDlg::OnClickResultList() { TakeSelectedHit(); }

void CMainDlg::OnRClickResultList() {
  TakeSelectedHit();
  OnViewItem();
}

void CMainDlg::OnResultItemChanged() { TakeSelectedHit(); }
