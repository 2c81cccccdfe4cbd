#include "platform/http/http.h"

#include <curl/curl.h>
#include <libpsl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <mutex>

namespace platform::http {
namespace {

void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

// A tab, CR or LF would split the cookie line or inject a header.
bool HasControl(const std::string& s) {
  return std::any_of(s.begin(), s.end(), [](unsigned char c) { return c < 0x20 || c == 0x7F; });
}

bool IsIpAddress(const std::string& host) {
  if (host.find(':') != std::string::npos) return true;  // IPv6
  return !host.empty() &&
         std::all_of(host.begin(), host.end(), [](unsigned char c) { return std::isdigit(c) || c == '.'; });
}

// The newest public-suffix list on the machine, else the one built into libpsl.
const psl_ctx_t* PublicSuffixes() {
  static const psl_ctx_t* const list = []() -> const psl_ctx_t* {
    if (const psl_ctx_t* latest = psl_latest(nullptr)) return latest;
    return psl_builtin();
  }();
  return list;
}

// One line of the Netscape cookie file format, as CURLOPT_COOKIELIST takes it.
std::string NetscapeLine(const Cookie& c) {
  bool tail = c.includeSubdomains || (!c.domain.empty() && c.domain[0] == '.');
  std::string line;
  if (c.httpOnly) line += "#HttpOnly_";
  line += c.domain;
  line += tail ? "\tTRUE\t" : "\tFALSE\t";
  line += c.path.empty() ? "/" : c.path;
  line += c.secure ? "\tTRUE\t" : "\tFALSE\t";
  line += std::to_string(c.expires);
  line += '\t';
  line += c.name;
  line += '\t';
  line += c.value;
  return line;
}

}  // namespace

struct CurlTransport::Impl {
  CURL* curl = nullptr;
  // The transfer runs on a multi handle so that Cancel can wake its wait
  // at once (the progress callback alone may come a second late).
  CURLM* multi = nullptr;
  curl_slist* headers = nullptr;
  curl_slist* resolve = nullptr;
  std::string body;
  std::size_t maxBytes = 0;
  bool truncated = false;
  bool writeFailed = false;
  std::atomic<bool> cancel{false};
  // A request that must not be sent twice: once it went out, no new
  // connection may be opened for it.
  bool noResend = false;
  bool requestSent = false;
  bool resendRefused = false;
  // The connection the last transfer used, until libcurl closes it: on a
  // multi handle the easy handle forgets it once the transfer is done.
  curl_socket_t lastSocket = CURL_SOCKET_BAD;
  char errbuf[CURL_ERROR_SIZE] = {};

  static size_t Write(char* data, size_t size, size_t count, void* user) {
    auto* self = static_cast<Impl*>(user);
    size_t n = size * count;
    try {
      size_t room = self->maxBytes > self->body.size() ? self->maxBytes - self->body.size() : 0;
      if (n > room) {
        self->body.append(data, room);
        self->truncated = true;
        return 0;  // aborts the transfer
      }
      self->body.append(data, n);
      return n;
    } catch (...) {
      self->writeFailed = true;
      return 0;
    }
  }

  static int Prereq(void* user, char*, char*, int, int) {
    static_cast<Impl*>(user)->requestSent = true;
    return CURL_PREREQFUNC_OK;
  }

  static curl_socket_t OpenSocket(void* user, curlsocktype, curl_sockaddr* a) {
    auto* self = static_cast<Impl*>(user);
    if (self->noResend && self->requestSent) {
      self->resendRefused = true;
      return CURL_SOCKET_BAD;
    }
    return socket(a->family, a->socktype, a->protocol);
  }

  static int CloseSocket(void* user, curl_socket_t s) {
    auto* self = static_cast<Impl*>(user);
    if (self->lastSocket == s) self->lastSocket = CURL_SOCKET_BAD;
    return close(s);
  }

  static int Progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<Impl*>(user)->cancel.load() ? 1 : 0;
  }

  CURLcode Perform() {
    if (!multi || curl_multi_add_handle(multi, curl) != CURLM_OK) {
      const CURLcode rc = curl_easy_perform(curl);
      KeepSocket();
      return rc;
    }
    CURLcode result = CURLE_OK;
    for (;;) {
      int running = 0;
      if (curl_multi_perform(multi, &running) != CURLM_OK) {
        result = CURLE_RECV_ERROR;
        break;
      }
      bool done = false;
      int left = 0;
      while (CURLMsg* m = curl_multi_info_read(multi, &left)) {
        if (m->msg == CURLMSG_DONE) {
          result = m->data.result;
          done = true;
        }
      }
      if (done) break;
      if (cancel.load()) {
        result = CURLE_ABORTED_BY_CALLBACK;
        break;
      }
      curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
    }
    KeepSocket();
    curl_multi_remove_handle(multi, curl);
    return result;
  }

  void KeepSocket() {
    curl_socket_t s = CURL_SOCKET_BAD;
    if (curl_easy_getinfo(curl, CURLINFO_ACTIVESOCKET, &s) != CURLE_OK) s = CURL_SOCKET_BAD;
    lastSocket = s;
  }
};

CurlTransport::CurlTransport(Options options)
    : impl_(std::make_unique<Impl>()), options_(std::move(options)) {
  GlobalInit();
  CURL* c = curl_easy_init();
  impl_->curl = c;
  impl_->multi = curl_multi_init();
  impl_->maxBytes = options_.maxBytes;
  if (!c) return;
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_ERRORBUFFER, impl_->errbuf);
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &Impl::Write);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, impl_.get());
  curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, &Impl::Progress);
  curl_easy_setopt(c, CURLOPT_XFERINFODATA, impl_.get());
  curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(c, CURLOPT_PREREQFUNCTION, &Impl::Prereq);
  curl_easy_setopt(c, CURLOPT_PREREQDATA, impl_.get());
  curl_easy_setopt(c, CURLOPT_OPENSOCKETFUNCTION, &Impl::OpenSocket);
  curl_easy_setopt(c, CURLOPT_OPENSOCKETDATA, impl_.get());
  curl_easy_setopt(c, CURLOPT_CLOSESOCKETFUNCTION, &Impl::CloseSocket);
  curl_easy_setopt(c, CURLOPT_CLOSESOCKETDATA, impl_.get());
  if (!options_.userAgent.empty()) curl_easy_setopt(c, CURLOPT_USERAGENT, options_.userAgent.c_str());
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(options_.connectTimeout.count()));
  // libcurl counts the stall in whole seconds; round up so a short time-out
  // never becomes "none".
  long stallSeconds = static_cast<long>((options_.stallTimeout.count() + 999) / 1000);
  curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, std::max(stallSeconds, 1L));
  curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(c, CURLOPT_MAXREDIRS, 5L);
  // Only the web: a redirect to file:// or the like is refused (and see
  // RedirectProtocols, set per request).
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(c, CURLOPT_TCP_KEEPALIVE, 1L);
  // Always from the origin, never from a proxy's cache.
  impl_->headers = curl_slist_append(impl_->headers, "Cache-Control: no-cache");
  impl_->headers = curl_slist_append(impl_->headers, "Pragma: no-cache");
  curl_easy_setopt(c, CURLOPT_HTTPHEADER, impl_->headers);
  for (const std::string& r : options_.resolve) impl_->resolve = curl_slist_append(impl_->resolve, r.c_str());
  if (impl_->resolve) curl_easy_setopt(c, CURLOPT_RESOLVE, impl_->resolve);
  // The cookie engine in memory only: nothing is read from or written to disk.
  curl_easy_setopt(c, CURLOPT_COOKIEFILE, "");
}

CurlTransport::~CurlTransport() {
  if (impl_->curl) curl_easy_cleanup(impl_->curl);
  if (impl_->multi) curl_multi_cleanup(impl_->multi);
  curl_slist_free_all(impl_->headers);
  curl_slist_free_all(impl_->resolve);
}

Response CurlTransport::Get(const std::string& url) { return GetWithin(url, std::chrono::milliseconds(0)); }

Response CurlTransport::GetWithin(const std::string& url, std::chrono::milliseconds deadline) {
  RequestOptions o;
  o.deadline = deadline;
  return Send(url, o);
}

bool CurlTransport::ConnectionAlive() {
  const curl_socket_t s = impl_->lastSocket;
  if (s == CURL_SOCKET_BAD) return false;
  // An idle connection has nothing to read; a readable one was closed (or
  // holds junk): either way it cannot carry the next request.
  pollfd p{s, POLLIN, 0};
  if (poll(&p, 1, 0) == 0) return true;
  char byte;
  return recv(s, &byte, 1, MSG_PEEK | MSG_DONTWAIT) < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
}

void CurlTransport::Cancel(bool on) {
  impl_->cancel.store(on);
  if (on && impl_->multi) curl_multi_wakeup(impl_->multi);
}

Response CurlTransport::Send(const std::string& url, const RequestOptions& options) {
  Response r;
  std::chrono::milliseconds deadline = options.deadline;
  if (impl_->cancel.load()) {
    r.cancelled = true;
    r.error = "cancelled";
    return r;
  }
  try {
    if (beforeRequest_) beforeRequest_(*this);
  } catch (...) {
    // A failing refresh leaves the cookies as they were.
  }
  CURL* c = impl_->curl;
  if (!c) {
    r.error = "no HTTP handle";
    return r;
  }
  impl_->body.clear();
  impl_->truncated = false;
  impl_->writeFailed = false;
  impl_->errbuf[0] = '\0';
  impl_->noResend = !options.resend;
  impl_->requestSent = false;
  impl_->resendRefused = false;
  curl_easy_setopt(c, CURLOPT_HTTPGET, 1L);
  curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, options.followRedirects ? 1L : 0L);
  if (deadline.count() <= 0) deadline = options_.deadline;
  curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, static_cast<long>(std::max<std::int64_t>(deadline.count(), 0)));
  curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, RedirectProtocols(url));
  if (curl_easy_setopt(c, CURLOPT_URL, url.c_str()) != CURLE_OK) {
    r.error = "bad address";
    return r;
  }
  CURLcode rc = impl_->Perform();
  long status = 0;
  curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
  r.status = status;
  r.truncated = impl_->truncated;
  r.body.swap(impl_->body);
  if (rc == CURLE_OK) {
    r.ok = true;
  } else if (impl_->resendRefused) {
    r.notResent = true;
    r.error = "connection closed after the request was sent";
  } else if (rc == CURLE_ABORTED_BY_CALLBACK && impl_->cancel.load()) {
    r.cancelled = true;
    r.error = "cancelled";
  } else if (rc == CURLE_OPERATION_TIMEDOUT) {
    r.timedOut = true;
    r.error = impl_->errbuf[0] ? impl_->errbuf : curl_easy_strerror(rc);
  } else if (impl_->truncated) {
    r.error = "answer larger than " + std::to_string(impl_->maxBytes) + " bytes";
  } else if (impl_->writeFailed) {
    r.error = "out of memory";
  } else {
    r.unreachable =
        rc == CURLE_COULDNT_CONNECT || rc == CURLE_COULDNT_RESOLVE_HOST || rc == CURLE_COULDNT_RESOLVE_PROXY;
    r.error = impl_->errbuf[0] ? impl_->errbuf : curl_easy_strerror(rc);
  }
  return r;
}

void CurlTransport::SetCookies(const std::vector<Cookie>& cookies) {
  CURL* c = impl_->curl;
  if (!c) return;
  curl_easy_setopt(c, CURLOPT_COOKIELIST, "ALL");
  std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
  for (const Cookie& k : cookies) {
    if (k.expires != 0 && k.expires <= now) continue;
    if (k.name.empty() || k.domain.empty()) continue;
    // Whatever the source: a cookie for a whole public suffix would follow a
    // redirect to any site under it.
    if ((k.includeSubdomains || k.domain[0] == '.') && IsPublicSuffix(k.domain)) continue;
    if (HasControl(k.domain) || HasControl(k.path) || HasControl(k.name) || HasControl(k.value)) continue;
    curl_easy_setopt(c, CURLOPT_COOKIELIST, NetscapeLine(k).c_str());
  }
}

void CurlTransport::SetBeforeRequest(std::function<void(CurlTransport&)> hook) {
  beforeRequest_ = std::move(hook);
}

bool DomainMatches(const std::string& cookieDomain, bool includeSubdomains, const std::string& host) {
  std::string domain = Lower(cookieDomain);
  if (!domain.empty() && domain[0] == '.') {
    domain.erase(0, 1);
    includeSubdomains = true;
  }
  std::string h = Lower(host);
  if (domain.empty() || h.empty()) return false;
  if (includeSubdomains && IsPublicSuffix(domain)) return false;
  if (h == domain) return true;
  if (!includeSubdomains || IsIpAddress(h)) return false;
  return h.size() > domain.size() && h.compare(h.size() - domain.size(), domain.size(), domain) == 0 &&
         h[h.size() - domain.size() - 1] == '.';
}

const char* RedirectProtocols(const std::string& url) {
  static const std::string kHttps = "https:";
  if (url.size() >= kHttps.size() && Lower(url.substr(0, kHttps.size())) == kHttps) return "https";
  return "http,https";
}

bool IsPublicSuffix(const std::string& domain) {
  std::string d = Lower(domain);
  while (!d.empty() && d.front() == '.') d.erase(0, 1);
  while (!d.empty() && d.back() == '.') d.pop_back();
  if (d.empty()) return true;
  if (IsIpAddress(d)) return false;
  const psl_ctx_t* list = PublicSuffixes();
  // Without any list only a bare top-level name is surely one.
  if (!list) return d.find('.') == std::string::npos;
  return psl_is_public_suffix(list, d.c_str()) != 0;
}

std::chrono::milliseconds DeadlineFromEnvironment(const char* name, std::chrono::milliseconds fallback) {
  const char* v = std::getenv(name);
  if (!v) return fallback;
  char* end = nullptr;
  errno = 0;
  long long ms = std::strtoll(v, &end, 10);
  if (end == v || errno != 0 || ms <= 0 || ms > 86400000) return fallback;
  return std::chrono::milliseconds(ms);
}

std::string HostOf(const std::string& url) {
  CURLU* u = curl_url();
  if (!u) return {};
  std::string host;
  char* part = nullptr;
  if (curl_url_set(u, CURLUPART_URL, url.c_str(), CURLU_NON_SUPPORT_SCHEME) == CURLUE_OK &&
      curl_url_get(u, CURLUPART_HOST, &part, 0) == CURLUE_OK && part) {
    host = part;
  }
  curl_free(part);
  curl_url_cleanup(u);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  return Lower(host);
}

}  // namespace platform::http
