#include "gavelhawk/gui/result_table.h"

#include <cstdio>

#include "platform/text/qgbk.h"

using platform::text::GbkToQString;

namespace {

struct Column {
  const char* heading;
  int width;
  Qt::Alignment align;
};
// The list view keeps its first column left whatever is asked for.
constexpr Column kColumns[ResultTableModel::kColumns] = {
    {"夺宝编号", 60, Qt::AlignLeft},  {"商品名称", 315, Qt::AlignLeft},   {"商品状态", 60, Qt::AlignHCenter},
    {"剩余时间", 60, Qt::AlignRight}, {"折扣", 60, Qt::AlignHCenter},     {"现价", 60, Qt::AlignHCenter},
    {"原价", 60, Qt::AlignHCenter},   {"历史中位", 60, Qt::AlignHCenter},
};

QVariant Align(int column) { return QVariant::fromValue(kColumns[column].align | Qt::AlignVCenter); }

}  // namespace

ResultTableModel::ResultTableModel(const gavelhawk::search::SearchController* search, QObject* parent)
    : QAbstractTableModel(parent), search_(search) {}

int ResultTableModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : rows_; }

int ResultTableModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumns; }

int ResultTableModel::Width(int column) { return ::kColumns[column].width; }

QVariant ResultTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rows_) return {};
  if (role == Qt::TextAlignmentRole) return Align(index.column());
  if (role != Qt::DisplayRole) return {};
  const auto row = static_cast<std::size_t>(index.row());
  const gavelhawk::search::Hit& h = search_->Hits()[row];
  switch (index.column()) {
    case 0:
      return QString::number(h.nDealId);
    case 1:
      return GbkToQString(h.strTitle);
    case 2:
      return GbkToQString(h.strStatus);
    case 3:
      return remain_[row].isNull() ? GbkToQString(h.strRemain) : remain_[row];
    case 4: {
      char discount[64];
      std::snprintf(discount, sizeof discount, "%.2f", static_cast<double>(h.fDiscount));
      return QString::fromLatin1(discount);
    }
    case 5:
      return QString::number(h.nCurPrice);
    case 6:
      return QString::number(h.nListPrice);
    case 7:
      return history_[row];
    default:
      return {};
  }
}

QVariant ResultTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= kColumns) return {};
  if (role == Qt::TextAlignmentRole) return Align(section);
  if (role == Qt::DisplayRole) return QString::fromUtf8(::kColumns[section].heading);
  return {};
}

void ResultTableModel::Replace(int rows) {
  ++generation_;
  remain_.fill(QString());
  history_.fill(QString());
  rows_ = rows;
}

void ResultTableModel::HitStored(int slot) {
  if (slot < 0 || slot >= gavelhawk::search::kHitSlots) return;
  if (slot == 0 && rows_ > 0) {
    beginRemoveRows(QModelIndex(), 0, rows_ - 1);
    Replace(0);
    endRemoveRows();
  }
  if (slot < rows_) {
    remain_[static_cast<std::size_t>(slot)] = QString();
    history_[static_cast<std::size_t>(slot)] = QString();
    emit dataChanged(index(slot, 0), index(slot, kColumns - 1));
    return;
  }
  beginInsertRows(QModelIndex(), rows_, slot);
  rows_ = slot + 1;
  endInsertRows();
}

void ResultTableModel::Reset() {
  beginResetModel();
  Replace(std::min(search_->HitLast() + 1, gavelhawk::search::kHitSlots));
  endResetModel();
}

void ResultTableModel::Tick() {
  for (int i = 0; i < rows_; ++i) {
    const QString now = GbkToQString(search_->RemainNow(i));
    if (now == data(index(i, kRemainColumn)).toString()) continue;
    remain_[static_cast<std::size_t>(i)] = now;
    emit dataChanged(index(i, kRemainColumn), index(i, kRemainColumn));
  }
}

void ResultTableModel::SetHistory(int row, const QString& text) {
  if (row < 0 || row >= rows_ || history_[static_cast<std::size_t>(row)] == text) return;
  history_[static_cast<std::size_t>(row)] = text;
  emit dataChanged(index(row, kHistoryColumn), index(row, kHistoryColumn));
}
