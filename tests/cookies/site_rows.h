#pragma once
// The same mix of cookies in every store: the site's own, others', expired.
#include "fixtures.h"

namespace cookietest {

inline const std::string kHost = "paimai.jd.com";

inline std::vector<Row> SiteRows() {
  return {
      {".jd.com", "pin", "buyer-one", kNow + 3600},
      {".jd.com", "thor", "T0K3N/abc+def==", kNow + 86400 * 30, true, true},
      {"paimai.jd.com", "sid", "s-42", kNow + 600},
      {".jd.com", "session", "sess-1", 0},
      {".jd.com", "old", "stale", kNow - 10},
      {"jd.com", "apex", "only-for-jd.com", kNow + 600},
      {".taobao.com", "other", "not-ours", kNow + 600},
      {".notjd.com", "lookalike", "not-ours-either", kNow + 600},
  };
}

inline std::vector<std::string> SiteNames() { return {"pin", "session", "sid", "thor"}; }

}  // namespace cookietest
