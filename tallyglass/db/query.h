#pragma once
// The history query: keywords, a buyer name and a range of days become one
// statement over table History with the typed texts as bound values.
#include <QString>
#include <array>
#include <cstdint>

#include "tallyglass/db/history_db.h"

namespace tallyglass::db {

struct QueryInputs {
  std::array<QString, 4> include;  // fields 1003, 1004, 1005, 1015
  std::array<QString, 4> exclude;  // fields 1006, 1007, 1008, 1016
  QString buyer;                   // field 1013
  int days = 15;
  std::int32_t today = 0;  // day number
};

// A query needs a first include keyword, a first exclude keyword or a buyer
// name; the other fields do not count.
bool HasSearchCondition(const QueryInputs& in);

// The statement of a query. Keywords match anywhere in the title ignoring
// ASCII case; "%" and "_" typed by the user keep their wildcard meaning.
Statement BuildHistoryQuery(const QueryInputs& in, Engine engine);

}  // namespace tallyglass::db
