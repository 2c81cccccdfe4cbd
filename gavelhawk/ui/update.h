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

// Only web addresses are opened from the update page: http:// or https://
// followed by a host, and nothing a shell or a file manager could take as a
// path, an option or a program.
bool IsWebLink(std::string_view link);

// The C library's atof, but independent of the locale: leading blanks, an
// optional sign, a decimal number with an optional exponent; 0 when none.
double ParseDecimal(std::string_view text);

}  // namespace gavelhawk::ui
