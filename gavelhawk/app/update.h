#pragma once
// Reads of the update page: the published version with its download link,
// and the change history. Plain cuts of the page text (GBK, CR LF removed).
#include <string>
#include <string_view>

namespace gavelhawk::ui {

// A published version counts as newer than this program's 3.61 above this.
inline constexpr double kNewerThan = 3.6101;

struct UpdateOffer {
  enum class Kind { None, Ordinary, Important };
  Kind kind = Kind::None;
  float version = 0;  // as published; 0 when none could be read
  std::string link;   // the download link as found (GBK bytes), possibly empty
};

// The version after "专业版" and "v" up to "<", read as a float; above
// kNewerThan it is an offer, Important from major version 4 on. The link is
// the text from the first "http" after the version up to the next "<".
UpdateOffer ReadUpdateOffer(std::string_view page);

// The text from "专业版", then from "更新历史", up to the first "<br", with
// every "</p><p>" turned into "\r\n".
std::string ReadUpdateHistory(std::string_view page);

// Whether the download link of the update page at `updatePageUrl` may be
// opened: http(s)://HOST/... with no user part, HOST that of the update page
// (and its port, for the same scheme), and https when the page is. Anything else would let whoever
// altered the page send the user to a download of their choosing.
bool IsUpdateLink(std::string_view link, std::string_view updatePageUrl);

// The C library's atof, but independent of the locale: leading blanks, an
// optional sign, a decimal number with an optional exponent; 0 when none.
double ParseDecimal(std::string_view text);

}  // namespace gavelhawk::ui
