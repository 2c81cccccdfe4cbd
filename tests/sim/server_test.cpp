// The HTTP side of auction-sim: connection reuse, the log, faults, the
// clock, and stopping with clients attached.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <future>
#include <thread>

#include "support.h"

using namespace simtest;

namespace {

class Server : public ::testing::Test {
 protected:
  void SetUp() override {
    server.SetClock(kT0, false);
    server.Start();
    server.AddAuction(Lot(1234567, "Apple iPhone 13 128G 午夜色 国行"));
  }
  std::string Url(const std::string& path) { return server.BaseUrl() + path; }

  sim::Server server;
  Client client;
};

int ConnectRaw(std::uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(port);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

std::string ReadAll(int fd) {
  std::string out;
  char buf[4096];
  ssize_t n;
  while ((n = ::recv(fd, buf, sizeof buf, 0)) > 0) out.append(buf, static_cast<std::size_t>(n));
  return out;
}

TEST_F(Server, KeepAliveReusesOneConnection) {
  ASSERT_EQ(client.Get(Url("/detail/1234567")).status, 200);
  ASSERT_EQ(client.Get(Url("/json/paimai/bid_records?dealId=1234567")).status, 200);
  Client other;
  ASSERT_EQ(other.Get(Url("/")).status, 200);
  auto log = server.Log();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0].connection, log[1].connection);
  EXPECT_NE(log[2].connection, log[0].connection);
  EXPECT_NE(log[0].connection, 0u);
}

TEST_F(Server, ConnectionCloseIsHonoured) {
  Answer a = client.Get(Url("/"), "", "", {"Connection: close"});
  EXPECT_EQ(a.status, 200);
  EXPECT_NE(a.headers.find("Connection: close"), std::string::npos);
  client.Get(Url("/"));
  auto log = server.Log();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_NE(log[0].connection, log[1].connection);

  // HTTP/1.0 without keep-alive: the server closes after the answer.
  int fd = ConnectRaw(server.port());
  ASSERT_GE(fd, 0);
  std::string req = "GET / HTTP/1.0\r\n\r\n";
  ASSERT_EQ(::send(fd, req.data(), req.size(), 0), static_cast<ssize_t>(req.size()));
  std::string answer = ReadAll(fd);  // returns only because the server closed
  ::close(fd);
  EXPECT_EQ(answer.rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
  EXPECT_NE(answer.find("nowMil="), std::string::npos);
}

TEST_F(Server, PipelinedRequestsAreAnsweredInOrder) {
  int fd = ConnectRaw(server.port());
  ASSERT_GE(fd, 0);
  std::string req =
      "GET /json/paimai/bid_records?dealId=1234567 HTTP/1.1\r\nHost: x\r\n\r\n"
      "GET /nowhere HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
  ASSERT_EQ(::send(fd, req.data(), req.size(), 0), static_cast<ssize_t>(req.size()));
  std::string answer = ReadAll(fd);
  ::close(fd);
  std::size_t first = answer.find("HTTP/1.1 200 OK"), second = answer.find("HTTP/1.1 404");
  ASSERT_NE(first, std::string::npos);
  ASSERT_NE(second, std::string::npos);
  EXPECT_LT(first, second);
  EXPECT_NE(answer.find("trxBuyerName"), std::string::npos);
  auto log = server.Log();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].connection, log[1].connection);
}

TEST_F(Server, OnlyGetIsServed) {
  Answer a = client.Post(Url("/json/paimai/bid?dealId=1234567&price=55"));
  EXPECT_EQ(a.status, 405);
  EXPECT_EQ(server.GetAuction(1234567)->bids.size(), 0u);
  auto log = server.Log();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].method, "POST");
  EXPECT_EQ(log[0].status, 405);
  // The connection survives the refusal.
  EXPECT_EQ(client.Get(Url("/")).status, 200);
}

TEST_F(Server, MalformedRequestIs400) {
  int fd = ConnectRaw(server.port());
  ASSERT_GE(fd, 0);
  std::string req = "NONSENSE\r\n\r\n";
  ::send(fd, req.data(), req.size(), 0);
  std::string answer = ReadAll(fd);
  ::close(fd);
  EXPECT_EQ(answer.rfind("HTTP/1.1 400", 0), 0u);
  EXPECT_TRUE(server.Log().empty());
}

TEST_F(Server, LogKeepsCookieUserAgentClockAndAnswer) {
  const std::string agent = Gbk("京东");
  ASSERT_EQ(agent, "\xBE\xA9\xB6\xAB");
  server.AdvanceClock(250);
  client.Get(Url("/json/paimai/bid?dealId=1234567&price=55"), "pin=alice; thor=secret", agent);
  auto log = server.Log();
  ASSERT_EQ(log.size(), 1u);
  const sim::LoggedRequest& r = log[0];
  EXPECT_EQ(r.method, "GET");
  EXPECT_EQ(r.target, "/json/paimai/bid?dealId=1234567&price=55");
  EXPECT_EQ(r.path, "/json/paimai/bid");
  EXPECT_EQ(r.query, "dealId=1234567&price=55");
  EXPECT_EQ(r.cookie, "pin=alice; thor=secret");
  EXPECT_EQ(r.userAgent, agent);
  EXPECT_EQ(r.siteMs, kT0 + 250);
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(BidCode(r.body), 200);

  // The bid path prefix does not catch the bid records.
  client.Get(Url("/json/paimai/bid_records?dealId=1234567"));
  EXPECT_EQ(server.LogFor("/json/paimai/bid?").size(), 1u);
  EXPECT_EQ(server.LogFor("/json/paimai/bid_records").size(), 1u);
  EXPECT_EQ(server.LogFor("/json/").size(), 2u);
  EXPECT_TRUE(server.WaitForRequests("/json/paimai/bid_records", 1));
  EXPECT_FALSE(server.WaitForRequests("/detail/", 1, std::chrono::milliseconds(10)));
  server.ClearLog();
  EXPECT_TRUE(server.Log().empty());
}

TEST_F(Server, LogTruncatesLongBodies) {
  server.AddFault({sim::FaultKind::Garbage, "/", 1});
  server.SetListingPageSize(100);
  for (int i = 0; i < 60; ++i)
    server.AddAuction(Lot(2000000 + i, "一件很长很长的拍品名称 " + std::to_string(i)));
  client.Get(Url("/"));
  Answer big = client.Get(Url("/paimai/0-0-0-0-0-0-1-0-0-0-1.html"));
  ASSERT_GT(big.body.size(), 4096u);
  auto log = server.Log();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[1].body, big.body.substr(0, 4096));
}

TEST_F(Server, WaitForRequestsSeesARequestFromAnotherThread) {
  std::thread t([&] {
    Client c;
    c.Get(Url("/detail/1234567"));
  });
  EXPECT_TRUE(server.WaitForRequests("/detail/1234567", 1));
  t.join();
}

// --- faults -------------------------------------------------------------------

TEST_F(Server, RefuseClosesWithoutAnAnswerAndOnlyAsOftenAsAsked) {
  server.AddFault({sim::FaultKind::Refuse, "/detail/", 2});
  // Another path is not hit. (Asked on another client: libcurl retries a
  // request once when a reused connection closes without an answer.)
  Client other;
  EXPECT_EQ(other.Get(Url("/")).status, 200);
  Answer a = client.Get(Url("/detail/1234567"));
  EXPECT_EQ(a.result, CURLE_GOT_NOTHING);
  EXPECT_TRUE(a.body.empty());
  EXPECT_EQ(client.Get(Url("/detail/1234567")).result, CURLE_GOT_NOTHING);
  Answer third = client.Get(Url("/detail/1234567"));
  EXPECT_EQ(third.result, CURLE_OK);
  EXPECT_EQ(third.status, 200);
  auto log = server.LogFor("/detail/");
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0].status, 0);
  EXPECT_EQ(log[2].status, 200);
}

TEST_F(Server, FaultedBidIsNotRecorded) {
  server.AddFault({sim::FaultKind::Status500, "/json/paimai/bid?", 1});
  Answer a = client.Get(Url("/json/paimai/bid?dealId=1234567&price=55"), "pin=alice");
  EXPECT_EQ(a.status, 500);
  EXPECT_EQ(a.body.find("success"), std::string::npos);
  EXPECT_TRUE(server.GetAuction(1234567)->bids.empty());
  EXPECT_EQ(BidCode(client.Get(Url("/json/paimai/bid?dealId=1234567&price=55"), "pin=alice").body), 200);
}

TEST_F(Server, StallSendsPartOfTheAnswerThenNothing) {
  sim::Fault f;
  f.kind = sim::FaultKind::Stall;
  f.pathPrefix = "/detail/";
  f.stallMs = 200;
  server.AddFault(f);
  Answer a = client.Get(Url("/detail/1234567"));
  EXPECT_EQ(a.result, CURLE_PARTIAL_FILE);
  EXPECT_EQ(a.status, 200);
  EXPECT_EQ(a.body.find("endTimeMili"), std::string::npos);
  // Until cleared, every matching request stalls; a client time-out ends it.
  f.stallMs = 60000;
  server.ClearFaults();
  server.AddFault(f);
  Client other;
  EXPECT_EQ(other.Get(Url("/detail/1234567"), "", "", {}, 300).result, CURLE_OPERATION_TIMEDOUT);
  server.ClearFaults();
  EXPECT_EQ(client.Get(Url("/detail/1234567")).status, 200);
}

TEST_F(Server, GarbageHugeStatus500AndEmpty) {
  server.AddFault({sim::FaultKind::Garbage, "/detail/", 1});
  Answer garbage = client.Get(Url("/detail/1234567"));
  EXPECT_EQ(garbage.status, 200);
  EXPECT_FALSE(garbage.body.empty());
  EXPECT_EQ(garbage.body.find("endTimeMili"), std::string::npos);

  sim::Fault huge;
  huge.kind = sim::FaultKind::Huge;
  huge.pathPrefix = "/detail/";
  huge.remaining = 1;
  huge.hugeBytes = 3u << 20;
  server.AddFault(huge);
  Answer big = client.Get(Url("/detail/1234567"));
  EXPECT_EQ(big.result, CURLE_OK);
  EXPECT_EQ(big.body.size(), 3u << 20);

  server.AddFault({sim::FaultKind::Status500, "/json/", 1});
  Answer error = client.Get(Url("/json/paimai/bid_records?dealId=1234567"));
  EXPECT_EQ(error.status, 500);
  EXPECT_EQ(error.body.find("trxBuyerName"), std::string::npos);

  server.AddFault({sim::FaultKind::Empty, "", 1});
  Answer empty = client.Get(Url("/detail/1234567"));
  EXPECT_EQ(empty.result, CURLE_OK);
  EXPECT_EQ(empty.status, 200);
  EXPECT_TRUE(empty.body.empty());

  // Every fault was used up; the same connection serves normally again.
  Answer normal = client.Get(Url("/detail/1234567"));
  EXPECT_EQ(normal.status, 200);
  EXPECT_NE(normal.body.find("endTimeMili"), std::string::npos);
  auto log = server.Log();
  ASSERT_EQ(log.size(), 5u);
  EXPECT_EQ(log[2].status, 500);
  EXPECT_EQ(log[3].body, "");
}

// --- clock ----------------------------------------------------------------------

TEST_F(Server, ClockFrozenAdvancedAndRunning) {
  EXPECT_EQ(server.Now(), kT0);
  server.AdvanceClock(1500);
  EXPECT_EQ(server.Now(), kT0 + 1500);
  server.AdvanceClock(-500);
  EXPECT_EQ(server.Now(), kT0 + 1000);
  server.SetClock(kT0, true);
  std::int64_t a = server.Now();
  std::int64_t b = server.Now();
  EXPECT_GE(a, kT0);
  EXPECT_GE(b, a);
  server.AdvanceClock(60000);
  EXPECT_GE(server.Now(), b + 60000);
}

TEST_F(Server, ScenarioEditing) {
  server.AddAuction(Lot(1234567, "替换后"));  // same id replaces
  EXPECT_EQ(server.Auctions().size(), 1u);
  EXPECT_EQ(server.GetAuction(1234567)->title, "替换后");
  server.UpdateAuction(1234567, [](sim::Auction& a) { a.listPrice = 42; });
  EXPECT_EQ(server.GetAuction(1234567)->listPrice, 42);
  server.UpdateAuction(999, [](sim::Auction& a) { a.listPrice = 1; });  // unknown: nothing happens
  EXPECT_FALSE(server.GetAuction(999));
  server.RemoveAuction(1234567);
  EXPECT_FALSE(server.GetAuction(1234567));
  EXPECT_EQ(client.Get(Url("/detail/1234567")).status, 404);
  server.AddAuction(Lot(1, "a"));
  server.AddAuction(Lot(2, "b"));
  server.ClearAuctions();
  EXPECT_TRUE(server.Auctions().empty());
}

// --- stopping ---------------------------------------------------------------------

TEST_F(Server, StopWithClientsAttached) {
  // One idle keep-alive connection, one raw socket that sent half a request,
  // and one request stalled mid-answer.
  ASSERT_EQ(client.Get(Url("/")).status, 200);
  int fd = ConnectRaw(server.port());
  ASSERT_GE(fd, 0);
  ::send(fd, "GET / HT", 8, 0);
  sim::Fault f;
  f.kind = sim::FaultKind::Stall;
  f.pathPrefix = "/detail/";
  f.stallMs = 600000;
  server.AddFault(f);
  auto stalled = std::async(std::launch::async, [&] {
    Client c;
    return c.Get(Url("/detail/1234567"));
  });
  ASSERT_TRUE(server.WaitForRequests("/detail/", 1));
  server.Stop();
  EXPECT_EQ(server.port(), 0);
  EXPECT_NE(stalled.get().result, CURLE_OK);
  EXPECT_EQ(ReadAll(fd), "");  // the server closed it
  ::close(fd);
  EXPECT_NE(client.Get(Url("/")).result, CURLE_OK);
  server.Stop();  // twice is harmless
}

TEST_F(Server, StopInterruptsLatency) {
  server.SetLatency(std::chrono::minutes(10));
  // A whole request that will not reach the site for ten minutes: Stop must
  // end its wait instead of waiting it out.
  int fd = ConnectRaw(server.port());
  ASSERT_GE(fd, 0);
  std::string req = "GET /json/paimai/bid?dealId=1234567&price=55 HTTP/1.1\r\nHost: x\r\n\r\n";
  ASSERT_EQ(::send(fd, req.data(), req.size(), 0), static_cast<ssize_t>(req.size()));
  server.Stop();
  EXPECT_EQ(ReadAll(fd), "");
  ::close(fd);
  EXPECT_TRUE(server.Log().empty());
  EXPECT_TRUE(server.GetAuction(1234567)->bids.empty());
}

TEST_F(Server, RestartsAfterStop) {
  server.Stop();
  std::uint16_t port = server.Start();
  EXPECT_NE(port, 0);
  EXPECT_EQ(server.BaseUrl(), "http://127.0.0.1:" + std::to_string(port));
  EXPECT_EQ(client.Get(Url("/detail/1234567")).status, 200);
}

TEST_F(Server, LatencyDelaysButKeepsAnswers) {
  server.SetLatency(std::chrono::milliseconds(20));
  Answer a = client.Get(Url("/json/paimai/bid?dealId=1234567&price=55"), "pin=alice");
  EXPECT_EQ(BidCode(a.body), 200);
  EXPECT_EQ(server.GetAuction(1234567)->bids.back().atMs, kT0);  // frozen clock: arrival time
}

}  // namespace
