#include "tallyglass/db/query_controller.h"

#include <QStringList>

#include "tallyglass/db/rows_model.h"

namespace tallyglass::db {

QueryController::QueryController(HistoryDb* db, QObject* parent)
    : QObject(parent), results_(std::make_unique<HistoryResultSet>(db)) {
  if (db) engine_ = db->engine();
  results_->onPageError = [this](const QString& error) { emit pageFailed(error); };
}

QueryController::~QueryController() = default;

QString QueryController::GridCaption() const {
  return state_ == State::Running ? QStringLiteral("查询中…") : QStringLiteral("查询记录");
}

void QueryController::OpenWholeTable() {
  results_->OpenHistoryTable([this](bool ok) {
    state_ = ok ? State::WholeTable : State::Empty;
    error_ = ok ? QString() : results_->LastError();
    emit opened(ok);
  });
}

void QueryController::Refresh() {
  // A failed refresh leaves the grid empty until the next one; the walk
  // goes on.
  results_->Requery([this](bool ok) {
    if (ok) emit refreshed();
  });
}

QString QueryController::QueryName(const QueryInputs& in) {
  QStringList words;
  for (const QString& k : in.include)
    if (!in.include[0].isEmpty() && !k.isEmpty()) words << k;
  for (const QString& k : in.exclude)
    if (!in.exclude[0].isEmpty() && !k.isEmpty()) words << QLatin1Char('-') + k;
  if (!in.buyer.isEmpty()) words << QStringLiteral("成交账户名:") + in.buyer;
  return QStringLiteral("%1，最近%2天（%3 至 %4）")
      .arg(words.join(QLatin1Char(' ')))
      .arg(in.days)
      .arg(DayText(in.today - in.days + 1), DayText(in.today));
}

QString QueryController::Run(const QueryInputs& in) {
  if (!HasSearchCondition(in)) return QStringLiteral("请输入检索条件");
  queryName_ = QueryName(in);
  state_ = State::Running;
  error_.clear();
  // A query still running is cancelled and its rows never show.
  results_->Start(BuildHistoryQuery(in, engine_), [this](const HistoryResultSet::Finished& f) {
    state_ = f.ok ? State::Queried : State::Failed;
    error_ = f.error;
    // No rows: all are 0.
    stats_ = f.ok ? f.stats : PriceStats{};
    emit queryFinished(f.ok);
  });
  return {};
}

std::optional<std::int32_t> QueryController::CurrentProductId(QString* problem) {
  if (results_->CurrentRow() < 0) {
    *problem = QStringLiteral("请先在表格中选中一条记录。");
    return std::nullopt;
  }
  std::optional<QVariant> id = results_->Collect(QStringLiteral("ProductID"));
  bool ok = false;
  const std::int32_t n = id ? id->toInt(&ok) : 0;
  if (!ok) {
    *problem = QStringLiteral("数据库操作失败!\r\n错误信息:%1")
                   .arg(id ? QStringLiteral("ProductID: %1").arg(id->toString()) : results_->LastError());
    return std::nullopt;
  }
  return n;
}

void QueryController::LoadChart(
    std::function<void(bool ok, const HistoryResultSet::ChartData& data, QString error)> done) {
  results_->LoadChart(std::move(done));
}

void QueryController::ExportCsv(const QString& path,
                                std::function<void(bool ok, std::int64_t rows, QString error)> done) {
  results_->ExportCsv(path, std::move(done));
}

}  // namespace tallyglass::db
