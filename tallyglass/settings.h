#pragma once
// Tallyglass's settings: built-in defaults, overridden by environment
// variables, overridden by command-line options. There is no file.
#include <functional>
#include <string>
#include <vector>

#include "site/settings.h"

namespace tallyglass::ui {

inline constexpr char kVersion[] = "3.0.0.0";
// Placeholders until the makers publish these pages: .invalid never
// resolves, so nothing is opened on somebody else's host.
inline constexpr char kDefaultShopUrl[] = "http://tallyglass.invalid/shop.html";
inline constexpr char kDefaultServiceUrl[] = "http://tallyglass.invalid/service.html";

// The site, the login and the deadlines as both programs take them, and
// tallyglass's own.
struct Settings : ::site::SiteSettings {
  std::string dataDir;   // empty: the default folder (see DataDir)
  std::string database;  // a postgresql:// address; empty: the local SQLite file
  std::string shopUrl = kDefaultShopUrl;
  std::string serviceUrl = kDefaultServiceUrl;
  int inFlight = 8;  // ids the walk reads at once, 1 to 64
  bool demo = false;
  bool help = false;
  bool version = false;
};

struct ParsedSettings {
  Settings settings;
  std::string error;  // set when the command line was wrong; UTF-8
};

// `args` without the program name. `getenv` answers nullptr for unset.
ParsedSettings ParseSettings(const std::vector<std::string>& args,
                             const std::function<const char*(const char*)>& getenv);

// The program's own options out of a command line that may also hold Qt's:
// every argument except Qt's options and their values.
std::vector<std::string> OwnOptions(const std::vector<std::string>& args);

// `tallyglass --help`.
std::string HelpText();

}  // namespace tallyglass::ui
