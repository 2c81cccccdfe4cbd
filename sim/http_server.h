#pragma once
// The HTTP/1.1 layer of auction-sim: accepts connections on loopback, reads
// requests (keep-alive, pipelining), hands each to a handler and writes what
// it answers. One thread per connection; Stop() wakes and joins them all.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace sim::detail {

struct HttpRequest {
  std::string method;
  std::string target;
  std::string path;
  std::string query;
  std::string version;                                       // "HTTP/1.1"
  std::vector<std::pair<std::string, std::string>> headers;  // raw bytes
  std::uint64_t connection = 0;
  bool firstOnConnection = false;
  // When it reached the site: its bytes' arrival at the socket plus the way
  // in. Kept apart from when this process got round to it, so that a busy
  // machine delays the site's threads, not the network.
  std::chrono::steady_clock::time_point arrival;

  // All values of the header `name` (case-insensitive) joined with `sep`.
  std::string Header(const std::string& name, const std::string& sep = ", ") const;
  bool HasHeader(const std::string& name) const;
};

enum class ReplyKind {
  Normal,
  Refuse,   // close without a byte
  Stall,    // headers and part of the body, then silence for stallMs, then close
  Huge,     // hugeBytes of body, written in pieces
  Trickle,  // the body one byte every trickleEveryMs, after the head
  Silent,   // not a byte for stallMs, then close
};

struct HttpReply {
  ReplyKind kind = ReplyKind::Normal;
  int status = 200;
  std::string contentType = "text/html; charset=utf-8";
  std::string body;
  int stallMs = 0;
  std::size_t hugeBytes = 0;
  int trickleEveryMs = 0;
  int delayMs = 0;                      // extra wait before the answer leaves
  bool close = false;                   // close the connection after this answer
  std::vector<std::string> setCookies;  // Set-Cookie header values
  std::string location;                 // a Location header (with a 3xx status)
};

class HttpServer {
 public:
  using Handler = std::function<HttpReply(const HttpRequest&)>;
  // One leg's delay; asked once for the way in and once for the way back.
  using Latency = std::function<std::chrono::milliseconds()>;

  HttpServer(Handler handler, Latency oneWay);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  std::uint16_t Start(std::uint16_t port);  // throws std::runtime_error
  void Stop();
  std::uint16_t port() const { return port_; }

 private:
  struct Conn {
    int fd = -1;
    std::uint64_t id = 0;
    std::thread thread;
    std::atomic<bool> done{false};
  };

  void AcceptLoop();
  void Serve(Conn& c);
  void ReapFinished(bool all);
  // Sleeps unless stopping; false when the server is stopping.
  bool Pause(std::chrono::milliseconds d);
  bool PauseUntil(std::chrono::steady_clock::time_point t);
  bool SendAll(int fd, const char* data, std::size_t n);

  Handler handler_;
  Latency latency_;
  int listenFd_ = -1;
  std::uint16_t port_ = 0;
  std::thread acceptThread_;
  std::atomic<bool> stopping_{false};
  std::mutex mu_;
  std::condition_variable cv_;
  std::list<std::unique_ptr<Conn>> conns_;
  std::uint64_t nextConnId_ = 1;
};

std::string StatusText(int status);

}  // namespace sim::detail
