#include "tallyglass/db/rows_model.h"

#include <QDate>

namespace tallyglass::db {

QString DayText(qint64 day) { return QDate(1970, 1, 1).addDays(day).toString(QStringLiteral("yyyy-MM-dd")); }

void HistoryRowsModel::Reset(const QStringList& fields) {
  beginResetModel();
  fields_ = fields;
  rows_.clear();
  rows_.shrink_to_fit();
  dayColumn_ = static_cast<int>(fields_.indexOf(QStringLiteral("bidTime")));
  last_ = true;
  pending_ = false;
  endResetModel();
}

void HistoryRowsModel::AppendPage(std::vector<Row> rows, bool last) {
  pending_ = false;
  last_ = last;
  if (rows.empty()) return;
  const int first = static_cast<int>(rows_.size());
  beginInsertRows({}, first, first + static_cast<int>(rows.size()) - 1);
  for (Row& r : rows) rows_.push_back(std::move(r));
  endInsertRows();
}

void HistoryRowsModel::PageFailed() {
  pending_ = false;
  last_ = true;
}

const Row* HistoryRowsModel::RowAt(int row) const {
  if (row < 0 || row >= static_cast<int>(rows_.size())) return nullptr;
  return &rows_[row];
}

int HistoryRowsModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int HistoryRowsModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(fields_.size());
}

QVariant HistoryRowsModel::data(const QModelIndex& index, int role) const {
  const Row* r = RowAt(index.row());
  if (!r || index.column() < 0 || index.column() >= r->size()) return {};
  const QVariant& v = (*r)[index.column()];
  if (role == Qt::EditRole) return v;
  if (role != Qt::DisplayRole) return {};
  if (index.column() == dayColumn_ && !v.isNull()) {
    bool ok = false;
    const qint64 day = v.toLongLong(&ok);
    if (ok) return DayText(day);
  }
  return v;
}

QVariant HistoryRowsModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return {};
  if (orientation == Qt::Vertical) return section + 1;
  return section >= 0 && section < fields_.size() ? QVariant(fields_[section]) : QVariant();
}

bool HistoryRowsModel::canFetchMore(const QModelIndex& parent) const {
  return !parent.isValid() && !last_ && !pending_ && requestPage;
}

void HistoryRowsModel::fetchMore(const QModelIndex& parent) {
  if (!canFetchMore(parent)) return;
  pending_ = true;
  QVariant key;
  const int k = static_cast<int>(fields_.indexOf(keyName_));
  if (!rows_.empty() && k >= 0) key = rows_.back()[k];
  requestPage(key);
}

}  // namespace tallyglass::db
