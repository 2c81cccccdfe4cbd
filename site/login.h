#pragma once
// The site connection of a program: one login, read from the user's browser
// off every request's path and shared by the transports of every thread,
// and the program's main transport.
#include <memory>
#include <string>

#include "platform/cookies/cookies.h"
#include "platform/http/http.h"
#include "site/settings.h"

namespace site {

class SiteConnection {
 public:
  // `userAgent`: the program's agent name (kAgentName, kHistoryAgentName).
  SiteConnection(const SiteSettings& settings, const char* userAgent);
  SiteConnection(const SiteConnection&) = delete;
  SiteConnection& operator=(const SiteConnection&) = delete;

  // The transport of the thread that made the connection.
  platform::http::CurlTransport& transport() { return transport_; }
  // A transport of its own for another thread, with the same login.
  std::unique_ptr<platform::http::CurlTransport> NewTransport();

  // The line to show when no login was found, naming the source tried;
  // empty when there is one, or when the user chose "none".
  const std::string& notice() const { return notice_; }
  // The browser that pages open in: the one given, else the one the login
  // came from, else firefox.
  const std::string& loginBrowser() const { return loginBrowser_; }

 private:
  const char* userAgent_;
  platform::cookies::SharedLogin login_;
  platform::http::CurlTransport transport_;
  std::string notice_;
  std::string loginBrowser_;
};

}  // namespace site
