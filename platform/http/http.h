#pragma once
// The one HTTP client of both programs. A failure never throws: the
// response says what went wrong and carries whatever body arrived.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform::http {

// One cookie of the user's browser login. `domain` is as the browser keeps
// it: a leading dot (or includeSubdomains) means the host and its subdomains.
struct Cookie {
  std::string domain;
  bool includeSubdomains = false;
  std::string path = "/";
  bool secure = false;
  bool httpOnly = false;
  std::int64_t expires = 0;  // seconds since 1970; 0 = session cookie
  std::string name;
  std::string value;

  bool operator==(const Cookie&) const = default;
};

struct Options {
  std::string userAgent;
  std::chrono::milliseconds connectTimeout{10000};
  // The transfer is abandoned when fewer than one byte per second arrives
  // for this long.
  std::chrono::milliseconds stallTimeout{20000};
  // Overall limit of one request, whatever trickles in; 0 = none. A request
  // may set its own (Transport::GetWithin).
  std::chrono::milliseconds deadline{0};
  // Answers are cut off at this many bytes.
  std::size_t maxBytes = 32u << 20;
  // Fixed name resolutions, "host:port:address" as curl's --resolve takes
  // them; lets tests reach a loopback server under several host names.
  std::vector<std::string> resolve;
};

struct Response {
  bool ok = false;         // the transfer completed (any HTTP status)
  long status = 0;         // HTTP status, 0 when none arrived
  bool truncated = false;  // cut off at Options::maxBytes (then ok is false
                           // and body holds the first maxBytes bytes)
  std::string body;        // raw bytes as received
  std::string error;       // a short description when !ok
  bool timedOut = false;   // ended by the deadline (or a time-out)
  bool cancelled = false;  // ended by Transport::Cancel
  // No connection could be made: refused, or no such host.
  bool unreachable = false;
  // The connection broke after the request had gone out and the transport
  // did not send it again (RequestOptions::resend false).
  bool notResent = false;
};

// How one request is made, beyond its address.
struct RequestOptions {
  std::chrono::milliseconds deadline{0};  // 0: the transport's own
  // False: a 3xx answer is the answer (ok, with its status).
  bool followRedirects = true;
  // False: a request that may have reached the server is never sent a
  // second time, even when its reused connection broke before any answer.
  bool resend = true;
};

// The seam in front of the network: tests script it, the programs use
// CurlTransport.
class Transport {
 public:
  virtual ~Transport() = default;
  virtual Response Get(const std::string& url) = 0;
  // The same with an overall deadline for this one request (0: the
  // transport's own). Transports without deadlines ignore it.
  virtual Response GetWithin(const std::string& url, std::chrono::milliseconds deadline) {
    (void)deadline;
    return Get(url);
  }
  // The same with every option of one request. Transports without the
  // options ignore them.
  virtual Response Send(const std::string& url, const RequestOptions& options) {
    return GetWithin(url, options.deadline);
  }
  // False when the connection kept for the next request is known to be
  // closed by the server, so that it can be opened again ahead of time.
  virtual bool ConnectionAlive() { return true; }
  // Ends the request under way on another thread as soon as possible (and
  // every later one until Cancel(false)). Safe to call from any thread.
  virtual void Cancel(bool on = true) { (void)on; }
};

// libcurl, one easy handle kept for the life of the object so that
// connections to the site are reused. Honours http_proxy/https_proxy/
// no_proxy from the environment. Not thread-safe: one per thread.
class CurlTransport : public Transport {
 public:
  explicit CurlTransport(Options options = {});
  ~CurlTransport() override;
  CurlTransport(const CurlTransport&) = delete;
  CurlTransport& operator=(const CurlTransport&) = delete;

  Response Get(const std::string& url) override;
  Response GetWithin(const std::string& url, std::chrono::milliseconds deadline) override;
  Response Send(const std::string& url, const RequestOptions& options) override;
  bool ConnectionAlive() override;
  void Cancel(bool on = true) override;

  // Replaces the login cookies. Each goes only to the hosts it belongs to;
  // expired ones are dropped. Cookies the site sets in its answers are kept
  // in memory for the session as a browser would.
  void SetCookies(const std::vector<Cookie>& cookies);

  // Called before every request; lets the owner refresh the login cheaply
  // (for example, reload the browser's cookies when they changed).
  void SetBeforeRequest(std::function<void(CurlTransport&)> hook);

  const Options& options() const { return options_; }

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  Options options_;
  std::function<void(CurlTransport&)> beforeRequest_;
};

// True when a cookie kept for `cookieDomain` may be sent to `host`; never
// for a domain cookie of a public suffix.
bool DomainMatches(const std::string& cookieDomain, bool includeSubdomains, const std::string& host);

// The schemes a redirect may lead to from `url`: from https only https, so
// that a login never goes out in clear; from http, http and https.
const char* RedirectProtocols(const std::string& url);

// True when `domain` (a leading dot ignored) is a public suffix such as
// "com" or "com.cn", after the public-suffix list; false for an address.
bool IsPublicSuffix(const std::string& domain);

// A deadline setting from the environment variable `name`, in ms; unset or
// nonsense (not a number, 0 or less, over a day) gives `fallback`.
std::chrono::milliseconds DeadlineFromEnvironment(const char* name, std::chrono::milliseconds fallback);

// Host part of an absolute URL ("http://a.b:8080/x" -> "a.b"), lower-cased.
std::string HostOf(const std::string& url);

}  // namespace platform::http
