#pragma once
// The price chart of a query: every sale (or a uniform sample when there are
// too many to see) by closing day, and the median of each week as a line.
#include <QString>
#include <cstdint>

#include "tallyglass/db/history_db.h"

class QDialog;
class QWidget;

namespace tallyglass::ui {

// The day a week's median is drawn at: the week's end, or the latest sale
// when that is earlier, so that the line never runs past it.
std::int32_t WeekPointDay(std::int32_t monday, std::int32_t lastSaleDay);

// A window of its own (not modal), deleted when closed; `what` names the
// query (keywords and range).
QDialog* OpenPriceChart(QWidget* parent, const tallyglass::db::HistoryResultSet::ChartData& data,
                        const QString& what);

}  // namespace tallyglass::ui
