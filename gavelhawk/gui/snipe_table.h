#pragma once
// The snipe list as the window's list view sees it: one line per row of the
// model, its cells repainted when the model says the row changed.
#include <QAbstractTableModel>
#include <QString>
#include <array>

#include "gavelhawk/snipe/snipe_list.h"

class SnipeTableModel : public QAbstractTableModel {
 public:
  static constexpr int kColumns = 9;
  static constexpr int kRemainColumn = 6;
  SnipeTableModel(const gavelhawk::snipe::SnipeList* list, QObject* parent);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

  // Rows came or went: the list is shown anew.
  void Reset();
  // Row i changed: its cells are repainted, the others are left alone.
  void RowChanged(int i);
  // The live countdown's remaining time for row i, until the row changes.
  void SetRemain(int i, const QString& text);
  // The column's width at the template's font.
  static int Width(int column);

 private:
  const gavelhawk::snipe::SnipeList* list_;
  std::array<QString, gavelhawk::snipe::kListRows> remain_;
};
