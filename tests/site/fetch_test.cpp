// From the bytes on the wire to page text: GBK, pieces, CR LF pairs, and what
// FetchPage hands back when the transfer fails.
#include "gavelhawk/site/fetch.h"

#include <gtest/gtest.h>

#include <string>

#include "fake_transport.h"

namespace {

using gavelhawk::site::FetchPage;
using gavelhawk::site::kAgentName;
using gavelhawk::site::SiteHttpOptions;
using gavelhawk::site::ToPageText;

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

TEST(FetchPage, ReturnsThePageTextOfTheAnswer) {
  sitetest::FakeTransport t;
  t.Serve("http://site/detail/1", "var nowMil=1;\r\n京东");
  EXPECT_EQ(FetchPage(t, "http://site/detail/1"), "var nowMil=1;\xBE\xA9\xB6\xAB");
  ASSERT_EQ(t.requests.size(), 1u);
  EXPECT_EQ(t.requests[0], "http://site/detail/1");
}

TEST(FetchPage, ErrorStatusBodyComesBackLikeAnyOther) {
  sitetest::FakeTransport t;
  platform::http::Response r;
  r.ok = true;
  r.status = 500;
  r.body = "<h1>Internal Server Error</h1>\r\n";
  t.Answer("http://site/x", r);
  EXPECT_EQ(FetchPage(t, "http://site/x"), "<h1>Internal Server Error</h1>");
}

TEST(FetchPage, FailedTransferIsEmptyEvenWithPartOfABody) {
  sitetest::FakeTransport t;
  EXPECT_EQ(FetchPage(t, "http://site/refused"), "");
  platform::http::Response stalled;
  stalled.ok = false;
  stalled.status = 200;
  stalled.body = "var auctionStatus = 0;";
  stalled.error = "Operation too slow";
  t.Answer("http://site/stall", stalled);
  EXPECT_EQ(FetchPage(t, "http://site/stall"), "");
}

TEST(FetchPage, AnswerCutOffAtTheCapIsReadAsFarAsItCame) {
  sitetest::FakeTransport t;
  platform::http::Response big;
  big.ok = false;
  big.truncated = true;
  big.status = 200;
  big.body = "head\r\n京";
  t.Answer("http://site/huge", big);
  EXPECT_EQ(FetchPage(t, "http://site/huge"), "head\xBE\xA9");
}

TEST(SiteHttpOptions, AgentIsJingdongInGbkWithBoundedWaits) {
  EXPECT_EQ(std::string(kAgentName), "\xBE\xA9\xB6\xAB");
  auto o = SiteHttpOptions();
  EXPECT_EQ(o.userAgent, "\xBE\xA9\xB6\xAB");
  EXPECT_GT(o.connectTimeout.count(), 0);
  EXPECT_GT(o.stallTimeout.count(), 0);
  EXPECT_EQ(o.maxBytes, 32u << 20);
}

}  // namespace
