#pragma once
// Gavelhawk's settings: built-in defaults, overridden by environment
// variables, overridden by command-line options. There is no file.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "site/settings.h"

namespace gavelhawk::ui {

inline constexpr char kVersion[] = "3.6.0.0";
inline constexpr char kDefaultHomeUrl[] = "http://www.jd.com/";
// Placeholders until the makers publish these pages: .invalid never resolves,
// so nothing is fetched from or opened on somebody else's host.
inline constexpr char kDefaultServiceUrl[] = "http://gavelhawk.invalid/service.html";
inline constexpr char kDefaultUpdateUrl[] = "http://gavelhawk.invalid/update.html";

// The manual 操作说明 opens: beside the program, or in share/gavelhawk when
// installed.
inline constexpr char kManualFile[] = "manual.html";

// The site, the login and the deadlines as both programs take them, and
// gavelhawk's own.
struct AppSettings : ::site::SiteSettings {
  std::string updateUrl = kDefaultUpdateUrl;
  bool updateUrlGiven = false;
  std::string homeUrl = kDefaultHomeUrl;
  std::string serviceUrl = kDefaultServiceUrl;
  bool demo = false;
  bool help = false;
  bool version = false;
  std::optional<std::int32_t> probeId;
};

struct ParsedSettings {
  AppSettings settings;
  std::string error;  // set when the command line was wrong; UTF-8
};

// `args` without the program name. `getenv` answers nullptr for unset.
ParsedSettings ParseSettings(const std::vector<std::string>& args,
                             const std::function<const char*(const char*)>& getenv);

// The program's own options out of a command line that may also hold Qt's
// (-platform offscreen, -style Fusion): every argument except Qt's options
// and their values. Lets a wrong option be reported before any display is
// needed.
std::vector<std::string> OwnOptions(const std::vector<std::string>& args);

// `gavelhawk --help`: every option and variable.
std::string HelpText();

}  // namespace gavelhawk::ui
