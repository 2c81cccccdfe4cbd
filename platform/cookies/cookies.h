#pragma once
// The user's browser login: the cookies of the auction site, read from the
// browser the user logs in with. They are kept in memory only and never
// written to a log or a message.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/http/http.h"

namespace platform::cookies {

struct LoadResult {
  std::vector<http::Cookie> cookies;  // only those whose domain matches the host
  std::string source;                 // what was read, for the user ("firefox:/home/u/.mozilla/...")
  std::string browser;                // "firefox", "chromium", "chrome" or "" for a cookies.txt
  std::string error;                  // why nothing was found, when cookies is empty
  // The command that starts `browser` where its cookies are kept
  // ("firefox", "google-chrome", "flatpak run org.mozilla.firefox"); empty
  // when `browser` is.
  std::string browserCommand;
  // The browser was writing its store all through the read: nothing was
  // read, the login may well be there.
  bool busy = false;
  // The store is damaged (`error` says which and how): the browser itself
  // may have lost the login.
  bool damaged = false;
};

// Loads the cookies for `host` from the source named by `sourceName`, the value of
// AUCTION_COOKIES: "auto", "firefox", "firefox:PROFILE-PATH", "chromium",
// "chrome", a path to a cookies.txt file, or "none". `now` (seconds since
// 1970) drops expired cookies. "chromium:PROFILE-PATH" and
// "chrome:PROFILE-PATH" name a Chromium profile folder the same way.
LoadResult LoadCookies(const std::string& sourceName, const std::string& host, std::int64_t now);

// The line the window shows when no login was found, naming the source that
// was tried, and a damaged store as damaged (UTF-8); empty when there are
// cookies.
std::string NoLoginNotice(const LoadResult& result);

// Chromium's v11 values are keyed by a password kept in the Secret Service.
// The lookup gets "chrome" or "chromium" and returns the password, or nothing
// when no keyring answers. An empty function restores the Secret Service.
using KeyringLookup = std::function<std::optional<std::string>(const std::string& application)>;
void SetKeyringLookup(KeyringLookup lookup);

// Caches a LoadResult and reloads it only when the underlying file changed.
class CookieSource {
 public:
  CookieSource(std::string sourceName, std::string host);
  // Reloads when the browser's file changed since the last load (cheap when not).
  const LoadResult& Current();
  // The same at a given time; cookies that expired since the load are dropped.
  const LoadResult& Current(std::int64_t now);
  // A copy of the current cookies; safe while other threads ask too (every
  // site transport of the program shares one source).
  std::vector<http::Cookie> Cookies();

 private:
  const LoadResult& CurrentLocked(std::int64_t now);
  std::mutex mu_;
  std::string sourceName_, host_;
  LoadResult last_;
  std::string stamp_;
  bool loaded_ = false;
};

// Keeps `transport`'s login in step with `source`: before every request the
// browser's cookies are checked (cheaply) and handed over only when they
// changed, so cookies the site sets during the session are not thrown away
// on every request. Both must outlive the transport's use.
void KeepLoginCurrent(CookieSource& source, http::CurlTransport& transport);

// One login for the transports of several threads. Reading the browser's
// store can take most of a second, so it never happens on a request's path:
// Refresh() (at the start, then on a thread of its own every few seconds)
// reloads it when the browser's file changed, and a request only picks up
// the latest snapshot.
class SharedLogin {
 public:
  SharedLogin(std::string sourceName, std::string host);
  ~SharedLogin();
  SharedLogin(const SharedLogin&) = delete;
  SharedLogin& operator=(const SharedLogin&) = delete;

  // The latest snapshot; cheap and safe from any thread. A new snapshot is
  // made only when the cookies changed.
  std::shared_ptr<const LoadResult> Current() const;
  // Reloads when the browser's file changed; safe from any thread.
  void Refresh();
  // Refresh() every `every` on a thread of its own, until destroyed.
  void RefreshEvery(std::chrono::milliseconds every);

 private:
  std::mutex sourceMu_;  // the CookieSource is not thread-safe
  CookieSource source_;
  mutable std::mutex mu_;
  std::shared_ptr<const LoadResult> current_;
  std::condition_variable cv_;
  bool stop_ = false;
  std::thread refresher_;
};

// Before each request, hands `transport` the shared login's snapshot when it
// is not the one handed over last (a pointer comparison, never a reload).
void KeepLoginCurrent(SharedLogin& login, http::CurlTransport& transport);

}  // namespace platform::cookies
