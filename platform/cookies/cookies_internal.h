#pragma once
// Shared by the readers of the cookie stores; not part of the interface.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/http/http.h"

namespace platform::cookies::detail {

using http::Cookie;

// What one store gave: the cookies of the host, and why there are none.
struct StoreRead {
  bool opened = false;   // the store could be read at all
  bool busy = false;     // the browser kept writing it: read it again later
  bool damaged = false;  // the store is not a sound database
  std::vector<Cookie> cookies;
  std::string error;
};

// A cookie is kept when it belongs to `host`, has not expired at `now` and
// cannot break a request header.
bool Keep(const Cookie& c, const std::string& host, std::int64_t now);

std::string HomeDir();
std::string ConfigHome();  // $XDG_CONFIG_HOME or ~/.config
bool IsFile(const std::string& path);
bool IsDir(const std::string& path);

// Removes the folders of store copies that earlier versions made.
void RemoveStaleCopies();

StoreRead ReadNetscapeFile(const std::string& path, const std::string& host, std::int64_t now);
StoreRead ParseNetscapeText(std::string_view text, const std::string& host, std::int64_t now);

// Firefox: the profile folders in the order a user expects them to be
// tried, and the cookies of one profile (a folder or its cookies.sqlite).
struct FirefoxProfile {
  std::string dir;
  bool flatpak = false;
};
std::vector<std::string> FirefoxBases();  // folders that may hold profiles.ini
// The profile folders profiles.ini (its text) names under `base`, in the
// order they are tried; entries may name folders that do not exist.
std::vector<std::string> ProfileOrder(const std::string& base, std::string_view iniText);
std::vector<FirefoxProfile> FirefoxProfiles();
std::string FirefoxDatabase(const std::string& profileOrFile);
StoreRead ReadFirefoxDatabase(const std::string& database, const std::string& host, std::int64_t now);

// Chromium and Chrome ("chromium" / "chrome").
struct ChromiumProfile {
  std::string dir;
  std::string database;  // Network/Cookies or Cookies; empty when neither exists
  bool flatpak = false;
};
std::vector<std::string> ChromiumBases(const std::string& browser);  // the user-data folders
std::vector<ChromiumProfile> ChromiumProfiles(const std::string& browser);
std::string ChromiumDatabase(const std::string& profileOrFile);
StoreRead ReadChromiumDatabase(const std::string& database, const std::string& browser,
                               const std::string& host, std::int64_t now);

// The files whose change means the login may have changed.
std::vector<std::string> WatchedFiles(const std::string& sourceName);

}  // namespace platform::cookies::detail
