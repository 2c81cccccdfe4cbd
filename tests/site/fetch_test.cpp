// From the bytes on the wire to page text: GBK, pieces, CR LF pairs, lines,
// and the one rule that tells a page from a failed request.
#include "site/fetch.h"

#include <gtest/gtest.h>

#include <string>

#include "fake_transport.h"

namespace {

using ::site::FetchPage;
using ::site::FetchPageChecked;
using ::site::FetchUrlText;
using ::site::FetchUrlTextChecked;
using ::site::kAgentName;
using ::site::LinesToText;
using ::site::PageResult;
using ::site::SiteHttpOptions;
using ::site::ToPageText;

TEST(ToPageText, CrLfPairsGoLoneCrAndLfStay) {
  EXPECT_EQ(ToPageText("\r\n\r\n\r\n"), "");
  EXPECT_EQ(ToPageText("a\r\nb"), "ab");
  EXPECT_EQ(ToPageText("a\nb"), "a\nb");
  EXPECT_EQ(ToPageText("a\rb"), "a\rb");
  EXPECT_EQ(ToPageText("a\n\rb"), "a\n\rb");
  EXPECT_EQ(ToPageText("\r\r\n\n"), "\r\n");  // one pass, no rescan
  EXPECT_EQ(ToPageText("end\r"), "end\r");
  EXPECT_EQ(ToPageText(""), "");
}

TEST(ToPageText, Utf8BecomesGbk) {
  EXPECT_EQ(ToPageText("<dt>京东价</dt>"), "<dt>\xBE\xA9\xB6\xAB\xBC\xDB</dt>");
  EXPECT_EQ(ToPageText("价格 한 €"), "\xBC\xDB\xB8\xF1 ? \x80");
}

TEST(ToPageText, LongAnswerIsJoinedInOrder) {
  std::string body;
  for (int i = 0; i < 1500; ++i) body += std::to_string(i) + "\r\n";  // ~7 KB
  std::string expected;
  for (int i = 0; i < 1500; ++i) expected += std::to_string(i);
  EXPECT_EQ(ToPageText(body), expected);
}

TEST(ToPageText, CharacterAcrossThePieceBoundaryIsKept) {
  // "京" (3 bytes of UTF-8) starts at 2047, 2046 and 2045: split two ways,
  // one way, and not at all by the 2048-byte pieces.
  for (size_t pad = 2045; pad <= 2047; ++pad) {
    std::string body(pad, 'x');
    body += "京东";
    std::string text = ToPageText(body);
    EXPECT_EQ(text, std::string(pad, 'x') + "\xBE\xA9\xB6\xAB") << "padding " << pad;
  }
}

TEST(ToPageText, CrLfAcrossThePieceBoundaryIsRemoved) {
  std::string body(2047, 'x');
  body += "\r\ny";
  EXPECT_EQ(ToPageText(body), std::string(2047, 'x') + "y");
}

TEST(ToPageText, CharacterGbkLacksAcrossTheBoundaryIsOneQuestionMark) {
  std::string body(2046, 'x');
  body += "\xF0\x9F\x98\x80z";  // an emoji split 2 + 2
  EXPECT_EQ(ToPageText(body), std::string(2046, 'x') + "?z");
}

TEST(LinesToText, JoinsLinesAndConvertsToGbk) {
  EXPECT_EQ(LinesToText("a\r\nb\r\nc"), "abc");
  EXPECT_EQ(LinesToText("a\nb\nc\n"), "abc");
  EXPECT_EQ(LinesToText("\r\n\r\n"), "");
  EXPECT_EQ(LinesToText("x\ry\r\n"), "x\ry") << "a lone CR stays";
  EXPECT_EQ(LinesToText("京东\r\n价"), "\xBE\xA9\xB6\xAB\xBC\xDB");
  // A line far longer than one read of the reader, a character straddling
  // every 1023-byte boundary.
  std::string line;
  for (int i = 0; i < 700; ++i) line += "夺";
  const std::string text = LinesToText(line + "\r\nend");
  EXPECT_EQ(text, ToPageText(line) + "end");
  EXPECT_EQ(text.find('?'), std::string::npos);
}

// One rule for both programs' reads: what is a page, what is a failure (with
// its reason), and the detail page the site does not know.
TEST(FetchPolicy, OneRuleForBothReadings) {
  using platform::http::Response;
  auto answer = [](bool ok, long status, std::string body) {
    Response r;
    r.ok = ok;
    r.status = status;
    r.body = std::move(body);
    return r;
  };
  Response refused = answer(false, 0, "");
  refused.unreachable = true;
  refused.error = "Couldn't connect to server";
  Response stalled = answer(false, 200, "var auctionStatus = 0;");
  stalled.timedOut = true;
  stalled.error = "Operation too slow";
  Response endedEarly = answer(false, 200, "<html><body>half");
  endedEarly.error = "Transferred a partial file";
  Response capped = answer(false, 200, "head\r\n京");
  capped.truncated = true;
  capped.error = "answer larger than 8 bytes";
  Response cancelled = answer(false, 0, "");
  cancelled.cancelled = true;
  cancelled.error = "cancelled";

  const std::string detail = "http://site/detail/77";
  const std::string records = "http://site/json/paimai/bid_records?dealId=77";
  const struct Case {
    const char* what;
    std::string url;
    Response r;
    bool failed, missing;
    std::string error, text;
  } cases[] = {
      {"a page", detail, answer(true, 200, "var nowMil=1;\r\n京东"), false, false, "",
       "var nowMil=1;\xBE\xA9\xB6\xAB"},
      {"no connection", detail, refused, true, false, "Couldn't connect to server", ""},
      {"stalled, part of a page arrived", detail, stalled, true, false, "time-out: Operation too slow", ""},
      {"ended before its length", detail, endedEarly, true, false, "Transferred a partial file", ""},
      {"cut off at the cap", detail, capped, true, false, "answer larger than 8 bytes", ""},
      {"cancelled", records, cancelled, true, false, "cancelled", ""},
      {"no reason given", records, answer(false, 0, ""), true, false, "no answer", ""},
      {"server error page", records, answer(true, 500, "<h1>Internal Server Error</h1>"), true, false,
       "HTTP 500", ""},
      {"refused by the site", records, answer(true, 403, "forbidden"), true, false, "HTTP 403", ""},
      {"unknown path", records, answer(true, 404, "<h1>404</h1>"), true, false, "HTTP 404", ""},
      {"no such auction", detail, answer(true, 404, std::string(4000, 'x')), false, true, "", ""},
      {"the clock page is a detail page", "https://site:8080/detail/3333333", answer(true, 404, ""), false,
       true, "", ""},
      {"a listing named like a detail page", "http://site/paimai/detail/1.html", answer(true, 404, ""), true,
       false, "HTTP 404", ""},
  };
  for (const Case& c : cases) {
    sitetest::FakeTransport t;
    t.Answer(c.url, c.r);
    const PageResult page = FetchPageChecked(t, c.url, std::chrono::milliseconds(1000));
    const PageResult lines = FetchUrlTextChecked(t, c.url, std::chrono::milliseconds(1000));
    for (const PageResult* r : {&page, &lines}) {
      EXPECT_EQ(r->failed, c.failed) << c.what;
      EXPECT_EQ(r->missing, c.missing) << c.what;
      EXPECT_EQ(r->error, c.error) << c.what;
      EXPECT_EQ(r->unreachable, c.r.unreachable) << c.what;
      EXPECT_EQ(r->cancelled, c.r.cancelled) << c.what;
      EXPECT_EQ(r->text, c.text) << c.what;
    }
    EXPECT_EQ(FetchPage(t, c.url), c.text) << c.what;
    EXPECT_EQ(FetchUrlText(t, c.url), c.text) << c.what;
    EXPECT_EQ(t.requests, std::vector<std::string>(4, c.url)) << c.what;
  }
}

TEST(SiteHttpOptions, AgentIsJingdongInGbkWithBoundedWaits) {
  EXPECT_EQ(std::string(kAgentName), "\xBE\xA9\xB6\xAB");
  auto o = SiteHttpOptions();
  EXPECT_EQ(o.userAgent, "\xBE\xA9\xB6\xAB");
  EXPECT_GT(o.connectTimeout.count(), 0);
  EXPECT_GT(o.stallTimeout.count(), 0);
  EXPECT_EQ(o.maxBytes, 32u << 20);
  EXPECT_EQ(SiteHttpOptions(::site::kHistoryAgentName).userAgent, "tallyglass");
}

}  // namespace
