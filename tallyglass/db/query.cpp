#include "tallyglass/db/query.h"

namespace tallyglass::db {

bool HasSearchCondition(const QueryInputs& in) {
  return !in.include[0].isEmpty() || !in.exclude[0].isEmpty() || !in.buyer.isEmpty();
}

Statement BuildHistoryQuery(const QueryInputs& in, Engine engine) {
  const bool pg = engine == Engine::Postgres;
  auto id = [pg](const char* name) {
    return pg ? QStringLiteral("\"%1\"").arg(QLatin1String(name)) : QString::fromLatin1(name);
  };
  // SQLite's LIKE ignores ASCII case and has no escape character unless
  // asked; PostgreSQL needs ILIKE, and ESCAPE '' so that a typed backslash is
  // an ordinary character there too.
  const QString like =
      pg ? QStringLiteral(" ilike '%' || ? || '%' ESCAPE ''") : QStringLiteral(" like '%' || ? || '%'");
  const QString notLike = pg ? QStringLiteral(" not ilike '%' || ? || '%' ESCAPE ''")
                             : QStringLiteral(" not like '%' || ? || '%'");

  Statement s;
  s.from = QStringLiteral(" FROM %1").arg(id("History"));
  bool first = true;
  auto add = [&](const QString& condition) {
    s.from += first ? QStringLiteral(" WHERE ") : QStringLiteral(" AND ");
    s.from += condition;
    first = false;
  };
  // The later fields of a row count only when its first field is filled.
  if (!in.include[0].isEmpty()) {
    for (const QString& k : in.include) {
      if (k.isEmpty()) continue;
      add(id("Title") + like);
      s.params << k;
      s.includeKeywords << k;
    }
  }
  if (!in.exclude[0].isEmpty()) {
    for (const QString& k : in.exclude) {
      if (k.isEmpty()) continue;
      add(id("Title") + notLike);
      s.params << k;
      ++s.otherConditions;
    }
  }
  if (!in.buyer.isEmpty()) {
    add(id("trxBuyerName") + like);
    s.params << in.buyer;
    ++s.otherConditions;
  }
  if (in.days > 0) {
    // Within the last `days` days counted with today.
    s.dayBound = static_cast<std::int64_t>(in.today) - in.days;
    add(QStringLiteral("%1 > %2").arg(id("bidTime")).arg(*s.dayBound));
  }
  s.sql = QStringLiteral("SELECT %1,%2,%3,%4,%5")
              .arg(id("ProductID"), id("Title"), id("trxPrice"), id("trxBuyerName"), id("Price")) +
          s.from;
  return s;
}

}  // namespace tallyglass::db
