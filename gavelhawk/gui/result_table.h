#pragma once
// The search results as the window's list view sees them: one line per hit
// slot shown, a new hit inserts its line, and only the cells that changed
// (a remaining time, a sales median) are repainted.
#include <QAbstractTableModel>
#include <QString>
#include <array>
#include <cstdint>

#include "gavelhawk/search/search_controller.h"

class ResultTableModel : public QAbstractTableModel {
 public:
  static constexpr int kColumns = 8;
  static constexpr int kRemainColumn = 3;
  static constexpr int kHistoryColumn = 7;  // 历史中位
  ResultTableModel(const gavelhawk::search::SearchController* search, QObject* parent);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

  // The search stored a hit in `slot`: its line is added. Slot 0 is a new
  // crawl's first hit: the previous crawl's lines go first.
  void HitStored(int slot);
  // Shows slots 0..HitLast() anew.
  void Reset();
  // The remaining times as of now; a line whose text is unchanged is left alone.
  void Tick();
  void SetHistory(int row, const QString& text);
  // Changes whenever the lines are replaced: an answer about older lines is dropped.
  std::uint64_t Generation() const { return generation_; }
  // The column's width in pixels.
  static int Width(int column);

 private:
  void Replace(int rows);
  const gavelhawk::search::SearchController* search_;
  int rows_ = 0;
  std::uint64_t generation_ = 0;
  // Null: the hit's own text is shown (remaining time) or nothing (median).
  std::array<QString, gavelhawk::search::kHitSlots> remain_;
  std::array<QString, gavelhawk::search::kHitSlots> history_;
};
