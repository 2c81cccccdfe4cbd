#pragma once
// The rows the grid shows, read page by page: the grid asks for more as the
// user scrolls, and a page arrives later from the query's worker. The day
// number in bidTime shows as a date; the stored value stays what EditRole
// gives.
#include <QAbstractTableModel>
#include <QStringList>
#include <QVariant>
#include <QVector>
#include <functional>
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

  const QStringList& Fields() const { return fields_; }
  const Row* RowAt(int row) const;
  bool Fetching() const { return pending_; }
  bool Complete() const { return last_; }

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
  bool canFetchMore(const QModelIndex& parent) const override;
  void fetchMore(const QModelIndex& parent) override;

 private:
  QStringList fields_;
  std::vector<Row> rows_;
  QString keyName_ = QStringLiteral("ProductID");
  int dayColumn_ = -1;
  bool last_ = true;
  bool pending_ = false;
};

// A day number as the grid shows it: YYYY-MM-DD.
QString DayText(qint64 day);

}  // namespace tallyglass::db
