#pragma once
// `gavelhawk --probe ID`: prints what adding auction ID to the snipe list
// would read from the site, one key=value per line, without a window.
#include <cstdint>
#include <ostream>
#include <string>

#include "platform/http/http.h"

namespace gavelhawk::site {

// Reads the detail page of `dealId` (title, status, increment bounds, opening
// time), its closing time and the site clock from auction kClockDealId, and
// prints title=, status=, lower=, higher=, closing_minus_now_ms=,
// opening_minus_now_ms= and remaining=, all UTF-8. A missing or short detail
// page prints "error=商品不存在或拍卖已结束", a failed request
// "error=网络错误：" and its reason; both return 1; otherwise 0.
int RunProbe(platform::http::Transport& t, const std::string& siteUrl, std::int32_t dealId,
             std::ostream& out);

}  // namespace gavelhawk::site
