#pragma once
// The price chart of a query: every sale (or a uniform sample when there are
// too many to see) by closing day, and the median of each week as a line.
#include "tallyglass/db/history_db.h"

class QDialog;
class QWidget;

namespace tallyglass::ui {

// A window of its own (not modal), deleted when closed.
QDialog* OpenPriceChart(QWidget* parent, const tallyglass::db::HistoryResultSet::ChartData& data);

}  // namespace tallyglass::ui
