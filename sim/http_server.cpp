#include "sim/http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace sim::detail {
namespace {

constexpr std::size_t kMaxHead = 64 * 1024;
constexpr std::size_t kMaxBody = 1024 * 1024;

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); });
  return s;
}

std::string Trim(const std::string& s) {
  std::size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return s.substr(b, e - b);
}

bool ContainsToken(const std::string& value, const std::string& token) {
  std::string v = Lower(value);
  std::size_t start = 0;
  while (start <= v.size()) {
    std::size_t comma = v.find(',', start);
    if (comma == std::string::npos) comma = v.size();
    if (Trim(v.substr(start, comma - start)) == token) return true;
    start = comma + 1;
  }
  return false;
}

// False when the head is not a request line followed by header lines.
bool ParseHead(const std::string& head, HttpRequest& req) {
  std::size_t eol = head.find("\r\n");
  std::string line = head.substr(0, eol);
  std::size_t sp1 = line.find(' ');
  std::size_t sp2 = sp1 == std::string::npos ? sp1 : line.find(' ', sp1 + 1);
  if (sp1 == std::string::npos || sp2 == std::string::npos || sp1 == 0 || sp2 == sp1 + 1) return false;
  req.method = line.substr(0, sp1);
  req.target = line.substr(sp1 + 1, sp2 - sp1 - 1);
  req.version = line.substr(sp2 + 1);
  if (req.version.rfind("HTTP/1.", 0) != 0) return false;
  std::size_t q = req.target.find('?');
  req.path = req.target.substr(0, q);
  req.query = q == std::string::npos ? std::string() : req.target.substr(q + 1);
  std::size_t pos = eol == std::string::npos ? head.size() : eol + 2;
  while (pos < head.size()) {
    std::size_t e = head.find("\r\n", pos);
    if (e == std::string::npos) e = head.size();
    std::string h = head.substr(pos, e - pos);
    pos = e + 2;
    std::size_t colon = h.find(':');
    if (colon == std::string::npos || colon == 0) return false;
    req.headers.emplace_back(h.substr(0, colon), Trim(h.substr(colon + 1)));
  }
  return true;
}

std::string HeadOf(int status, const std::string& contentType, std::size_t length, bool keepAlive,
                   const std::vector<std::string>& setCookies = {}, const std::string& location = {}) {
  std::string h = "HTTP/1.1 " + std::to_string(status) + " " + StatusText(status) + "\r\n";
  h += "Server: auction-sim\r\n";
  for (const std::string& c : setCookies) h += "Set-Cookie: " + c + "\r\n";
  if (!location.empty()) h += "Location: " + location + "\r\n";
  h += "Content-Type: " + contentType + "\r\n";
  h += "Content-Length: " + std::to_string(length) + "\r\n";
  h += keepAlive ? "Connection: keep-alive\r\n" : "Connection: close\r\n";
  h += "Cache-Control: no-cache\r\n\r\n";
  return h;
}

}  // namespace

std::string StatusText(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 302:
      return "Found";
    case 400:
      return "Bad Request";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 413:
      return "Payload Too Large";
    case 431:
      return "Request Header Fields Too Large";
    case 500:
      return "Internal Server Error";
    case 501:
      return "Not Implemented";
    default:
      return "Status";
  }
}

std::string HttpRequest::Header(const std::string& name, const std::string& sep) const {
  std::string want = Lower(name), out;
  bool first = true;
  for (const auto& [k, v] : headers) {
    if (Lower(k) != want) continue;
    if (!first) out += sep;
    out += v;
    first = false;
  }
  return out;
}

bool HttpRequest::HasHeader(const std::string& name) const {
  std::string want = Lower(name);
  return std::any_of(headers.begin(), headers.end(), [&](const auto& kv) { return Lower(kv.first) == want; });
}

HttpServer::HttpServer(Handler handler, Latency oneWay)
    : handler_(std::move(handler)), latency_(std::move(oneWay)) {}

HttpServer::~HttpServer() { Stop(); }

std::uint16_t HttpServer::Start(std::uint16_t port) {
  if (acceptThread_.joinable()) return port_;
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
  int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(port);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 128) != 0) {
    std::string err = std::strerror(errno);
    ::close(fd);
    throw std::runtime_error("cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + err);
  }
  socklen_t len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  listenFd_ = fd;
  port_ = ntohs(addr.sin_port);
  stopping_ = false;
  acceptThread_ = std::thread([this] { AcceptLoop(); });
  return port_;
}

void HttpServer::Stop() {
  if (!acceptThread_.joinable()) return;
  {
    std::lock_guard lk(mu_);
    stopping_ = true;
  }
  cv_.notify_all();
  ::shutdown(listenFd_, SHUT_RDWR);
  acceptThread_.join();
  ::close(listenFd_);
  listenFd_ = -1;
  {
    // Wakes every connection thread out of recv/send; the fds stay open
    // until their threads are joined, so no number is reused under us.
    std::lock_guard lk(mu_);
    for (auto& c : conns_) ::shutdown(c->fd, SHUT_RDWR);
  }
  ReapFinished(true);
}

void HttpServer::ReapFinished(bool all) {
  std::list<std::unique_ptr<Conn>> finished;
  {
    std::lock_guard lk(mu_);
    for (auto it = conns_.begin(); it != conns_.end();) {
      if (all || (*it)->done) {
        finished.push_back(std::move(*it));
        it = conns_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& c : finished) {
    if (c->thread.joinable()) c->thread.join();
    ::close(c->fd);
  }
}

void HttpServer::AcceptLoop() {
  while (!stopping_) {
    pollfd p{listenFd_, POLLIN, 0};
    int r = ::poll(&p, 1, 200);
    ReapFinished(false);
    if (r <= 0 || stopping_) continue;
    int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    // The kernel stamps each read with the moment its bytes came in.
    ::setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &one, sizeof one);
    std::lock_guard lk(mu_);
    if (stopping_) {
      ::close(fd);
      break;
    }
    auto conn = std::make_unique<Conn>();
    conn->fd = fd;
    conn->id = nextConnId_++;
    Conn* raw = conn.get();
    conns_.push_back(std::move(conn));
    raw->thread = std::thread([this, raw] {
      Serve(*raw);
      raw->done = true;
    });
  }
}

bool HttpServer::Pause(std::chrono::milliseconds d) {
  std::unique_lock lk(mu_);
  if (d.count() <= 0) return !stopping_;
  return !cv_.wait_for(lk, d, [this] { return stopping_.load(); });
}

bool HttpServer::PauseUntil(std::chrono::steady_clock::time_point t) {
  std::unique_lock lk(mu_);
  return !cv_.wait_until(lk, t, [this] { return stopping_.load(); });
}

bool HttpServer::SendAll(int fd, const char* data, std::size_t n) {
  while (n > 0) {
    ssize_t w = ::send(fd, data, n, MSG_NOSIGNAL);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    data += w;
    n -= static_cast<std::size_t>(w);
  }
  return true;
}

void HttpServer::Serve(Conn& c) {
  using Steady = std::chrono::steady_clock;
  std::string buf;
  bool first = true;
  char tmp[16384];
  // When the first bytes now in `buf` came in.
  Steady::time_point came = Steady::now();
  auto fill = [&]() {
    ssize_t n;
    iovec io{tmp, sizeof tmp};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
    msghdr m{};
    do {
      m = msghdr{};
      m.msg_iov = &io;
      m.msg_iovlen = 1;
      m.msg_control = control;
      m.msg_controllen = sizeof control;
      n = ::recvmsg(c.fd, &m, 0);
    } while (n < 0 && errno == EINTR);
    if (n <= 0) return false;
    if (buf.empty()) {
      const Steady::time_point now = Steady::now();
      came = now;
      for (cmsghdr* h = CMSG_FIRSTHDR(&m); h; h = CMSG_NXTHDR(&m, h)) {
        if (h->cmsg_level != SOL_SOCKET || h->cmsg_type != SCM_TIMESTAMPNS) continue;
        timespec ts;
        std::memcpy(&ts, CMSG_DATA(h), sizeof ts);
        // The stamp is on the wall clock: its age moves to the steady one.
        const auto age = std::chrono::system_clock::now().time_since_epoch() -
                         (std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec));
        if (age > Steady::duration::zero() && age < std::chrono::seconds(1))
          came = now - std::chrono::duration_cast<Steady::duration>(age);
      }
    }
    buf.append(tmp, static_cast<std::size_t>(n));
    return true;
  };
  auto plain = [&](int status) {
    std::string body =
        "<html><body><h1>" + std::to_string(status) + " " + StatusText(status) + "</h1></body></html>\r\n";
    std::string out = HeadOf(status, "text/html; charset=utf-8", body.size(), false) + body;
    SendAll(c.fd, out.data(), out.size());
  };

  bool graceful = true;
  while (!stopping_) {
    std::size_t end;
    bool ok = true;
    while ((end = buf.find("\r\n\r\n")) == std::string::npos) {
      if (buf.size() > kMaxHead) {
        plain(431);
        ok = false;
        break;
      }
      if (!fill()) {
        ok = false;
        break;
      }
    }
    if (!ok) break;
    HttpRequest req;
    std::string head = buf.substr(0, end);
    buf.erase(0, end + 4);
    if (!ParseHead(head, req)) {
      plain(400);
      break;
    }
    if (req.HasHeader("Transfer-Encoding")) {
      plain(501);
      break;
    }
    if (req.HasHeader("Content-Length")) {
      std::string cl = req.Header("Content-Length");
      if (cl.empty() || cl.find_first_not_of("0123456789") != std::string::npos || cl.size() > 9) {
        plain(400);
        break;
      }
      std::size_t want = std::stoul(cl);
      if (want > kMaxBody) {
        plain(413);
        break;
      }
      while (buf.size() < want && fill()) {
      }
      if (buf.size() < want) break;
      buf.erase(0, want);
    }
    std::string conn = req.Header("Connection");
    bool keepAlive =
        req.version == "HTTP/1.0" ? ContainsToken(conn, "keep-alive") : !ContainsToken(conn, "close");
    req.connection = c.id;
    req.firstOnConnection = first;
    first = false;

    // The request travels one way (a new connection also pays its handshake,
    // one round trip) before it reaches the site; the answer travels back.
    // Both legs count from when the bytes came in, not from when this thread
    // woke: the network's delay does not grow with the machine's load.
    std::chrono::milliseconds oneWay = latency_ ? latency_() : std::chrono::milliseconds(0);
    req.arrival = came + (req.firstOnConnection ? 3 * oneWay : oneWay);
    if (!PauseUntil(req.arrival)) break;
    HttpReply reply = handler_(req);
    if (!PauseUntil(req.arrival + (latency_ ? latency_() : std::chrono::milliseconds(0)) +
                    std::chrono::milliseconds(reply.delayMs)))
      break;
    keepAlive = keepAlive && !reply.close;

    if (reply.kind == ReplyKind::Refuse) {
      graceful = false;
      break;
    }
    if (reply.kind == ReplyKind::Silent) {
      Pause(std::chrono::milliseconds(reply.stallMs));
      graceful = false;
      break;
    }
    if (reply.kind == ReplyKind::Stall) {
      std::string out = HeadOf(reply.status, reply.contentType, reply.body.size(), false);
      out.append(reply.body, 0, reply.body.size() / 2);
      if (!SendAll(c.fd, out.data(), out.size())) break;
      Pause(std::chrono::milliseconds(reply.stallMs));
      graceful = false;
      break;
    }
    if (reply.kind == ReplyKind::Trickle) {
      std::string out =
          HeadOf(reply.status, reply.contentType, reply.body.size(), keepAlive, reply.setCookies);
      bool sent = SendAll(c.fd, out.data(), out.size());
      for (std::size_t i = 0; sent && i < reply.body.size(); ++i)
        sent = Pause(std::chrono::milliseconds(reply.trickleEveryMs)) && SendAll(c.fd, &reply.body[i], 1);
      if (!sent || !keepAlive) break;
      continue;
    }
    if (reply.kind == ReplyKind::Huge) {
      std::string out = HeadOf(reply.status, reply.contentType, reply.hugeBytes, keepAlive);
      if (!SendAll(c.fd, out.data(), out.size())) break;
      std::string chunk;
      for (std::size_t i = 0; i < 65536; ++i)
        chunk += static_cast<char>((i % 64) == 63 ? '\n' : 'A' + (i % 26));
      std::size_t left = reply.hugeBytes;
      bool sent = true;
      while (left > 0 && !stopping_) {
        std::size_t n = std::min(left, chunk.size());
        if (!SendAll(c.fd, chunk.data(), n)) {
          sent = false;
          break;
        }
        left -= n;
      }
      if (!sent || left > 0 || !keepAlive) break;
      continue;
    }
    std::string out = HeadOf(reply.status, reply.contentType, reply.body.size(), keepAlive, reply.setCookies,
                             reply.location) +
                      reply.body;
    if (!SendAll(c.fd, out.data(), out.size()) || !keepAlive) break;
  }

  ::shutdown(c.fd, graceful ? SHUT_WR : SHUT_RDWR);
  if (graceful && !stopping_) {
    // Lingering close: read what the client still sends until it closes, so
    // unread bytes do not turn our close into a reset that eats the answer.
    for (int i = 0; i < 20 && !stopping_; ++i) {
      pollfd p{c.fd, POLLIN, 0};
      if (::poll(&p, 1, 100) > 0 && ::recv(c.fd, tmp, sizeof tmp, 0) <= 0) break;
    }
  }
}

}  // namespace sim::detail
