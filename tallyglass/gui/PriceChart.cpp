#include "tallyglass/gui/PriceChart.h"

#include <QChart>
#include <QChartView>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QDialog>
#include <QLineSeries>
#include <QScatterSeries>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>

namespace tallyglass::ui {

namespace {
// The chart's x axis counts milliseconds and shows local dates; noon UTC
// keeps a day on its own date in every time zone.
qreal DayToMs(std::int32_t day) { return (static_cast<qreal>(day) * 86400.0 + 43200.0) * 1000.0; }
}  // namespace

std::int32_t WeekPointDay(std::int32_t monday, std::int32_t lastSaleDay) {
  return std::min(monday + 6, lastSaleDay);
}

QDialog* OpenPriceChart(QWidget* parent, const tallyglass::db::HistoryResultSet::ChartData& data,
                        const QString& what) {
  auto* dlg = new QDialog(parent);
  dlg->setAttribute(Qt::WA_DeleteOnClose);
  dlg->setWindowTitle(QStringLiteral("价格走势 - ") + what);
  dlg->resize(760, 460);

  auto* sales = new QScatterSeries;
  sales->setName(data.sales.size() < static_cast<std::size_t>(data.count)
                     ? QStringLiteral("成交价（%1 笔中的 %2 笔）").arg(data.count).arg(data.sales.size())
                     : QStringLiteral("成交价"));
  sales->setMarkerSize(6);
  sales->setPen(Qt::NoPen);
  sales->setColor(QColor(0x2F, 0x6F, 0xB3, 140));
  std::int32_t lo = 0, hi = 0;
  std::int32_t firstDay = 0, lastDay = 0;
  bool any = false;
  // The axes span every point drawn.
  auto extend = [&](std::int32_t day, std::int32_t price) {
    lo = any ? std::min(lo, price) : price;
    hi = any ? std::max(hi, price) : price;
    firstDay = any ? std::min(firstDay, day) : day;
    lastDay = any ? std::max(lastDay, day) : day;
    any = true;
  };
  for (const auto& [day, price] : data.sales) {
    sales->append(DayToMs(day), price);
    extend(day, price);
  }
  auto* weekly = new QLineSeries;
  weekly->setName(QStringLiteral("周中位价"));
  QPen pen(QColor(0xD0, 0x4A, 0x1F));
  pen.setWidth(2);
  weekly->setPen(pen);
  for (const auto& [monday, median] : data.weeklyMedian) {
    const std::int32_t day = WeekPointDay(monday, data.lastDay);
    weekly->append(DayToMs(day), median);
    extend(day, median);
  }

  auto* chart = new QChart;
  chart->setTitle(what);
  chart->addSeries(sales);
  chart->addSeries(weekly);
  auto* x = new QDateTimeAxis;
  x->setFormat(QStringLiteral("yyyy-MM-dd"));
  x->setTitleText(QStringLiteral("成交日期"));
  x->setRange(QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(DayToMs(firstDay - 1))),
              QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(DayToMs(lastDay + 1))));
  auto* y = new QValueAxis;
  y->setTitleText(QStringLiteral("成交价（元）"));
  y->setLabelFormat(QStringLiteral("%d"));
  const qreal margin = std::max<qreal>(1, (hi - lo) * 0.05);
  y->setRange(std::max<qreal>(0, lo - margin), hi + margin);
  y->applyNiceNumbers();
  chart->addAxis(x, Qt::AlignBottom);
  chart->addAxis(y, Qt::AlignLeft);
  for (QAbstractSeries* s : chart->series()) {
    s->attachAxis(x);
    s->attachAxis(y);
  }
  chart->legend()->setAlignment(Qt::AlignTop);

  auto* view = new QChartView(chart, dlg);
  view->setRenderHint(QPainter::Antialiasing);
  auto* layout = new QVBoxLayout(dlg);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(view);
  dlg->show();
  return dlg;
}

}  // namespace tallyglass::ui
