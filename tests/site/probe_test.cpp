// The probe's report over a scripted site: what it asks for, in which order,
// and the lines it prints.
#include "gavelhawk/site/probe.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "fake_transport.h"

namespace {

using gavelhawk::site::RunProbe;

std::string Raw(const std::string& name) {
  std::ifstream in(std::string(GH_TEST_DATA) + "/" + name, std::ios::binary);
  EXPECT_TRUE(in) << name;
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// The clock page: a detail page of its own whose nowMil is the site time.
std::string ClockPage(const std::string& nowMil) {
  return "<html>\r\n<div data-title=\"clock\">\r\n<script>var nowMil=" + nowMil + ";</script>\r\n" +
         std::string(1100, ' ') + "\r\n</html>\r\n";
}

TEST(Probe, ReportsWhatAddingTheAuctionWouldRead) {
  sitetest::FakeTransport t;
  t.Serve("http://site/detail/1234567", Raw("detail_running.html"));
  t.Serve("http://site/detail/3333333", ClockPage("1386012405678"));  // one minute on
  std::ostringstream out;
  EXPECT_EQ(RunProbe(t, "http://site", 1234567, out), 0);
  EXPECT_EQ(out.str(),
            "title=Apple iPhone 15 128GB 黑色 全新未拆封\n"
            "status=0\n"
            "lower=5\n"
            "higher=50\n"
            "closing_minus_now_ms=65000\n"
            "opening_minus_now_ms=-600000\n"
            "remaining=1分5秒\n");
  // Detail page, detail page again for the closing time, then the clock.
  std::vector<std::string> expected = {"http://site/detail/1234567", "http://site/detail/1234567",
                                       "http://site/detail/3333333"};
  EXPECT_EQ(t.requests, expected);
}

TEST(Probe, MissingAuctionIsAnErrorAndNothingElseIsAsked) {
  sitetest::FakeTransport t;
  t.Serve("http://site/detail/9", Raw("detail_missing.html"));
  std::ostringstream out;
  EXPECT_EQ(RunProbe(t, "http://site/", 9, out), 1);  // a trailing slash is not doubled
  EXPECT_EQ(out.str(), "error=商品不存在或拍卖已结束\n");
  EXPECT_EQ(t.requests, std::vector<std::string>{"http://site/detail/9"});
}

TEST(Probe, ClockPageMissingLeavesTheClosingTimeAgainstZero) {
  // Nothing is invented for a failed clock read: the difference is the
  // closing time itself, as the snipe list would compute it.
  sitetest::FakeTransport t;
  t.Serve("http://site/detail/1", Raw("detail_running.html"));
  std::ostringstream out;
  EXPECT_EQ(RunProbe(t, "http://site", 1, out), 0);
  EXPECT_NE(out.str().find("\nclosing_minus_now_ms=1386012470678\n"), std::string::npos) << out.str();
}

TEST(Probe, TitleWithALineBreakStaysOnItsLine) {
  std::string page = Raw("detail_running.html");
  std::string from = "Apple iPhone 15";
  page.replace(page.find(from), from.size(), "Apple\niPhone\r15");
  sitetest::FakeTransport t;
  t.Serve("http://site/detail/1", page);
  t.Serve("http://site/detail/3333333", ClockPage("1386012345678"));
  std::ostringstream out;
  RunProbe(t, "http://site", 1, out);
  EXPECT_EQ(out.str().substr(0, out.str().find('\n')), "title=Apple iPhone 15 128GB 黑色 全新未拆封");
}

}  // namespace
