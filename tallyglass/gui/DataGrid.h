#pragma once
// CDataGrid: the window's data-bound grid. Shows the rows of the result set
// it is attached to, one column per field headed by the field's name, and
// shares the result set's current row both ways.
#include <QWidget>

class QLabel;
class QTableView;

namespace tallyglass::db {
class HistoryResultSet;
}

class CDataGrid : public QWidget {
  Q_OBJECT

 public:
  explicit CDataGrid(QWidget* parent = nullptr);
  ~CDataGrid() override;

  // Binds the grid to `rs` (or to nothing). Attaching again shows the rows
  // and columns the result set holds now.
  void AttachDataSource(tallyglass::db::HistoryResultSet* rs);

  QTableView* View() const { return view_; }
  QString Caption() const;
  // The caption says what the grid is doing ("查询中…" while a query runs).
  void SetCaption(const QString& text);
  // The row the grid shows as current; -1 for none.
  int CurrentRow() const;

 private:
  void ShowRow(int row);
  void FitColumns();
  QLabel* caption_;
  QTableView* view_;
  tallyglass::db::HistoryResultSet* rs_ = nullptr;
  bool syncing_ = false;
};
