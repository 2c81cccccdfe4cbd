// The results view of the search: rows from the hit table, and taking a hit
// into the snipe inputs.
#include <QHeaderView>
#include <QTreeWidget>
#include <cstdio>

#include "gavelhawk/gui/MainDlg.h"
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
      {"夺宝编号", 60, Qt::AlignLeft},  {"商品名称", 315, Qt::AlignLeft}, {"商品状态", 60, Qt::AlignHCenter},
      {"剩余时间", 60, Qt::AlignRight}, {"折扣", 60, Qt::AlignHCenter},   {"现价", 60, Qt::AlignHCenter},
      {"原价", 60, Qt::AlignHCenter},
  };
  m_listResults->clear();
  m_listResults->setColumnCount(0);
  QStringList headings;
  for (const Column& c : columns) headings << QString::fromUtf8(c.heading);
  m_listResults->setHeaderLabels(headings);
  for (int i = 0; i < 7; ++i) {
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
    for (int c = 0; c < 7; ++c) row->setTextAlignment(c, columns[c].align | Qt::AlignVCenter);
  }
  ResultListShown();
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
