#include "tallyglass/db/rows_model.h"

#include <QDate>
#include <QMetaObject>
#include <algorithm>
#include <cstdlib>

namespace tallyglass::db {

QString DayText(qint64 day) { return QDate(1970, 1, 1).addDays(day).toString(QStringLiteral("yyyy-MM-dd")); }

void HistoryRowsModel::Reset(const QStringList& fields) {
  beginResetModel();
  fields_ = fields;
  keys_.clear();
  keys_.shrink_to_fit();
  blocks_.clear();
  asked_.clear();
  keyColumn_ = static_cast<int>(fields_.indexOf(keyName_));
  dayColumn_ = static_cast<int>(fields_.indexOf(QStringLiteral("bidTime")));
  last_ = true;
  pending_ = false;
  endResetModel();
}

void HistoryRowsModel::AppendPage(std::vector<Row> rows, bool last) {
  pending_ = false;
  last_ = last;
  if (rows.empty()) return;
  const int first = static_cast<int>(keys_.size());
  beginInsertRows({}, first, first + static_cast<int>(rows.size()) - 1);
  for (Row& r : rows) {
    const int i = static_cast<int>(keys_.size());
    keys_.push_back(keyColumn_ >= 0 && keyColumn_ < r.size() ? r[keyColumn_].toLongLong() : i);
    blocks_[i / kBlockRows].push_back(std::move(r));
  }
  endInsertRows();
  KeepAround((static_cast<int>(keys_.size()) - 1) / kBlockRows);
}

void HistoryRowsModel::BlockArrived(int block, std::vector<Row> rows) {
  asked_.erase(block);
  const int first = block * kBlockRows;
  if (first >= static_cast<int>(keys_.size()) || blocks_.count(block)) return;
  const int count = std::min<int>(static_cast<int>(rows.size()), static_cast<int>(keys_.size()) - first);
  if (count <= 0) return;
  rows.resize(static_cast<std::size_t>(count));
  blocks_[block] = std::move(rows);
  emit dataChanged(index(first, 0), index(first + count - 1, std::max(0, columnCount() - 1)));
}

void HistoryRowsModel::KeepAround(int block) const {
  for (auto it = blocks_.begin(); it != blocks_.end();) {
    if (std::abs(it->first - block) > kKeptBlocks / 2)
      it = blocks_.erase(it);
    else
      ++it;
  }
}

QVariant HistoryRowsModel::KeyAt(int row) const {
  if (row < 0 || row >= static_cast<int>(keys_.size())) return {};
  return QVariant::fromValue<qint64>(keys_[static_cast<std::size_t>(row)]);
}

void HistoryRowsModel::PageFailed() {
  pending_ = false;
  last_ = true;
}

const Row* HistoryRowsModel::RowAt(int row) const {
  if (row < 0 || row >= static_cast<int>(keys_.size())) return nullptr;
  const int block = row / kBlockRows;
  auto it = blocks_.find(block);
  if (it == blocks_.end()) {
    if (requestBlock && asked_.insert(block).second) {
      // Not from inside a paint: the answer changes the model.
      const QVariant after = block == 0 ? QVariant() : KeyAt(block * kBlockRows - 1);
      auto* self = const_cast<HistoryRowsModel*>(this);
      QMetaObject::invokeMethod(
          self, [self, block, after] { self->requestBlock(block, after); }, Qt::QueuedConnection);
    }
    return nullptr;
  }
  const std::size_t i = static_cast<std::size_t>(row - block * kBlockRows);
  if (i >= it->second.size()) return nullptr;
  KeepAround(block);
  // KeepAround keeps this block.
  return &it->second[i];
}

int HistoryRowsModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(keys_.size());
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
  requestPage(KeyAt(static_cast<int>(keys_.size()) - 1));
}

}  // namespace tallyglass::db
