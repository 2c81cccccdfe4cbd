#pragma once
// The rows the grid shows, read page by page: the grid asks for more as the
// user scrolls, and a page arrives later from the query's worker. Only the
// keys of every row read are kept, and the whole rows of a window of blocks
// around what was last shown; a block scrolled back to is read again by its
// keys. The day number in bidTime shows as a date; the stored value stays
// what EditRole gives.
#include <QAbstractTableModel>
#include <QStringList>
#include <QVariant>
#include <QVector>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <vector>

namespace tallyglass::db {

using Row = QVector<QVariant>;

class HistoryRowsModel : public QAbstractTableModel {
 public:
  // Empties the model and shows `fields` as the headings.
  void Reset(const QStringList& fields);
  void Clear() { Reset({}); }
  // Appends a page; `last`: nothing more to read.
  void AppendPage(std::vector<Row> rows, bool last);
  // A page was asked for and will not come (an error).
  void PageFailed();

  // Called by fetchMore with the key of the last row held (or none).
  std::function<void(const QVariant& afterKey)> requestPage;
  void SetKeyColumn(const QString& name) { keyName_ = name; }

  // Rows per block: a page of the query.
  static constexpr int kBlockRows = 400;
  // Blocks kept whole around the last row shown.
  static constexpr int kKeptBlocks = 24;
  // A block that was let go and is shown again: its rows after `afterKey`
  // (none: from the first), kBlockRows of them, go to BlockArrived.
  std::function<void(int block, const QVariant& afterKey)> requestBlock;
  void BlockArrived(int block, std::vector<Row> rows);

  const QStringList& Fields() const { return fields_; }
  // Null when the row's block is not held (it is asked for again).
  const Row* RowAt(int row) const;
  // The key of any row read so far.
  QVariant KeyAt(int row) const;
  std::size_t BlocksHeld() const { return blocks_.size(); }
  bool Fetching() const { return pending_; }
  bool Complete() const { return last_; }

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
  bool canFetchMore(const QModelIndex& parent) const override;
  void fetchMore(const QModelIndex& parent) override;

 private:
  void KeepAround(int block) const;
  QStringList fields_;
  std::vector<std::int64_t> keys_;  // of every row read, in order
  int keyColumn_ = -1;
  mutable std::map<int, std::vector<Row>> blocks_;
  mutable std::set<int> asked_;  // blocks asked for again, not yet arrived
  QString keyName_ = QStringLiteral("ProductID");
  int dayColumn_ = -1;
  bool last_ = true;
  bool pending_ = false;
};

// A day number as the grid shows it: YYYY-MM-DD.
QString DayText(qint64 day);

}  // namespace tallyglass::db
