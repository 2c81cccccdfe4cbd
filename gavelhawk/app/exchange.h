#pragma once
// The number rule of the field exchange, apart from any window.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace gavelhawk::ui {

// A whole number as the exchange accepts it: blanks and tabs around it, an
// optional sign, decimal digits, within 32 bits. Anything else (empty,
// letters, a decimal point, too large) is not a number.
std::optional<std::int32_t> ParseWholeNumber(std::string_view text);

// The remaining-time column of the snipe list: "%d分%d秒" for whole seconds
// above zero, "已结束" otherwise. UTF-8.
std::string FormatRemain(std::int64_t remainMs);

}  // namespace gavelhawk::ui
