#include "site/login.h"

#include "site/fetch.h"

namespace site {

SiteConnection::SiteConnection(const SiteSettings& settings, const char* userAgent)
    : userAgent_(userAgent),
      login_(settings.cookies, platform::http::HostOf(settings.siteUrl)),
      transport_(SiteHttpOptions(userAgent)) {
  const std::shared_ptr<const platform::cookies::LoadResult> first = login_.Current();
  // "none" is the user's own choice (and the demo's): nothing to tell.
  if (settings.cookies != "none") notice_ = platform::cookies::NoLoginNotice(*first);
  loginBrowser_ = !settings.loginBrowser.empty()   ? settings.loginBrowser
                  : !first->browserCommand.empty() ? first->browserCommand
                                                   : "firefox";
  platform::cookies::KeepLoginCurrent(login_, transport_);
  // The browser's store is looked at every few seconds, never on a request's
  // path; each transport takes the latest login before a request.
  login_.RefreshEvery(std::chrono::seconds(2));
}

std::unique_ptr<platform::http::CurlTransport> SiteConnection::NewTransport() {
  auto t = std::make_unique<platform::http::CurlTransport>(SiteHttpOptions(userAgent_));
  platform::cookies::KeepLoginCurrent(login_, *t);
  return t;
}

}  // namespace site
