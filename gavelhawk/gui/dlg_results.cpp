// The results view of the search: a view of the search's hit slots through
// ResultTableModel, the sales medians, and taking a hit into the snipe inputs.
#include <QDateTime>
#include <QHeaderView>
#include <QLabel>
#include <QTreeView>
#include <cstdlib>

#include "gavelhawk/gui/MainDlg.h"
#include "gavelhawk/gui/result_table.h"
#include "gavelhawk/log/event_log.h"
#include "gavelhawk/snipe/price_history.h"
#include "platform/text/qgbk.h"

using platform::text::GbkToQString;

void CMainDlg::RefreshResultList() {
  m_search->CountFromNow();
  m_resultTable->Reset();
  for (int c = 0; c < ResultTableModel::kColumns; ++c)
    m_listResults->header()->resizeSection(c, ResultTableModel::Width(c));
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
  std::vector<std::string> titles;
  for (int i = 0; i < m_resultTable->rowCount(); ++i)
    titles.push_back(m_search->Hits()[static_cast<std::size_t>(i)].strTitle);
  const std::uint64_t shown = m_resultTable->Generation();
  const std::int64_t now = m_services.siteNow ? m_services.siteNow() : QDateTime::currentMSecsSinceEpoch();
  HistoryLookup().LookUp(std::move(titles), now, [this, shown](std::vector<PriceHistory> answers) {
    QMetaObject::invokeMethod(
        this,
        [this, shown, answers = std::move(answers)] {
          // Lines shown anew since the lookup began are not the lines it answers.
          if (shown != m_resultTable->Generation()) return;
          for (std::size_t i = 0; i < answers.size(); ++i) {
            const PriceHistory& h = answers[i];
            m_resultTable->SetHistory(static_cast<int>(i), !h.present    ? QString()
                                                           : h.count > 0 ? QString::number(h.median)
                                                                         : QString::fromUtf8("无"));
          }
        },
        Qt::QueuedConnection);
  });
}

void CMainDlg::TakeSelectedHit() {
  int first = -1;
  for (int i = 0; i < m_resultTable->rowCount(); ++i) {
    if (m_listResults->selectionModel()->isRowSelected(i, QModelIndex())) {
      first = i;
      break;
    }
  }
  if (first < 0 || first >= kHitSlots) return;
  UpdateData(true);
  const SearchHit& h = m_search->Hits()[static_cast<std::size_t>(first)];
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
