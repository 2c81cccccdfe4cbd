// AUCTION_COOKIES as a path to a cookies.txt.
#include <gtest/gtest.h>

#include "fixtures.h"
#include "site_rows.h"

using namespace cookietest;
using platform::cookies::LoadCookies;
using platform::cookies::NoLoginNotice;

namespace {

std::string SiteFile() {
  std::string s = "# Netscape HTTP Cookie File\n# written by an export\n\n";
  for (const Row& r : SiteRows()) s += CookiesTxtLine(r);
  return s;
}

TEST(CookiesTxt, KeepsOnlyTheSitesLiveCookiesWithTheirAttributes) {
  TempHome h;
  std::string path = h.Path("cookies.txt");
  WriteFile(path, SiteFile());
  auto r = LoadCookies(path, kHost, kNow);
  EXPECT_EQ(Names(r), SiteNames());
  EXPECT_TRUE(HasValue(r, "pin", "buyer-one"));
  EXPECT_TRUE(HasValue(r, "thor", "T0K3N/abc+def=="));
  EXPECT_TRUE(HasValue(r, "sid", "s-42"));
  const auto* thor = Find(r, "thor");
  ASSERT_NE(thor, nullptr);
  EXPECT_TRUE(thor->httpOnly) << "the #HttpOnly_ prefix is a flag, not part of the domain";
  EXPECT_EQ(thor->domain, ".jd.com");
  EXPECT_TRUE(thor->includeSubdomains);
  EXPECT_TRUE(thor->secure);
  EXPECT_EQ(thor->expires, kNow + 86400 * 30);
  const auto* sid = Find(r, "sid");
  ASSERT_NE(sid, nullptr);
  EXPECT_FALSE(sid->includeSubdomains);
  EXPECT_FALSE(sid->httpOnly);
  EXPECT_EQ(Find(r, "session")->expires, 0);
  EXPECT_EQ(r.source, path);
  EXPECT_EQ(r.browser, "");
  EXPECT_EQ(r.browserCommand, "");
  EXPECT_EQ(NoLoginNotice(r), "");
}

TEST(CookiesTxt, ToleratesWindowsLineEndsFractionsAndEmptyValues) {
  TempHome h;
  std::string path = h.Path("exported.txt");
  WriteFile(path,
            ".jd.com\tTRUE\t/\tFALSE\t1700003600.25\tpin\tbuyer-one\r\n"
            "paimai.jd.com\tFALSE\t/\tFALSE\t1700003600\tflag\r\n"
            "this line is not a cookie\r\n"
            ".jd.com\tTRUE\t/\tFALSE\tnever\tbroken\tx\r\n");
  auto r = LoadCookies(path, kHost, kNow);
  EXPECT_EQ(Names(r), (std::vector<std::string>{"flag", "pin"}));
  EXPECT_TRUE(HasValue(r, "pin", "buyer-one")) << "the CR belongs to the line end, not the value";
  EXPECT_TRUE(HasValue(r, "flag", ""));
  EXPECT_EQ(Find(r, "pin")->expires, 1700003600);
}

// A value the site would read as a second cookie, or a header break, never
// goes out.
TEST(CookiesTxt, OneCookiePerNameTheLaterWinningAndNoMoreThanABrowserKeeps) {
  TempHome h;
  std::string path = h.Path("cookies.txt");
  // A huge export: the same login written twice, then thousands of others.
  std::string text = ".jd.com\tTRUE\t/\tFALSE\t0\tpin\told\n.jd.com\tTRUE\t/\tFALSE\t0\tpin\tnew\n";
  for (int i = 0; i < 5000; ++i) text += ".jd.com\tTRUE\t/\tFALSE\t0\tc" + std::to_string(i) + "\tv\n";
  WriteFile(path, text);
  auto r = LoadCookies(path, kHost, kNow);
  ASSERT_EQ(r.cookies.size(), 300u);
  EXPECT_EQ(r.cookies.front().name, "pin");
  EXPECT_EQ(r.cookies.front().value, "new");
  EXPECT_EQ(r.cookies.back().name, "c298");
}

TEST(CookiesTxt, DropsCookiesThatWouldForgeAHeader) {
  TempHome h;
  std::string path = h.Path("cookies.txt");
  WriteFile(path,
            ".jd.com\tTRUE\t/\tFALSE\t0\tpin\tbuyer-one; admin=1\n"
            ".jd.com\tTRUE\t/\tFALSE\t0\tthor\tab\rX-Injected: 1\n"
            ".jd.com\tTRUE\t/\tFALSE\t0\ta=b\tc\n"
            ".jd.com\tTRUE\t/\tFALSE\t0\tgood\tfine\n");
  auto r = LoadCookies(path, kHost, kNow);
  EXPECT_EQ(Names(r), std::vector<std::string>{"good"});
}

TEST(CookiesTxt, MissingFileIsReportedWithItsPath) {
  TempHome h;
  std::string path = h.Path("nowhere/cookies.txt");
  auto r = LoadCookies(path, kHost, kNow);
  EXPECT_TRUE(r.cookies.empty());
  EXPECT_FALSE(r.error.empty());
  EXPECT_EQ(NoLoginNotice(r), "未找到京东登录 (来源: " + path + ")");
}

TEST(CookiesTxt, FileWithoutTheSitesCookiesSaysSo) {
  TempHome h;
  std::string path = h.Path("cookies.txt");
  WriteFile(path, CookiesTxtLine({".taobao.com", "other", "x"}) +
                      CookiesTxtLine({".jd.com", "old", "y", kNow - 1}));
  auto r = LoadCookies(path, kHost, kNow);
  EXPECT_TRUE(r.cookies.empty());
  EXPECT_NE(r.error.find(kHost), std::string::npos) << r.error;
  EXPECT_NE(NoLoginNotice(r).find(path), std::string::npos);
}

TEST(CookiesTxt, TildeMeansHome) {
  TempHome h;
  WriteFile(h.Path("login/cookies.txt"), SiteFile());
  auto r = LoadCookies("~/login/cookies.txt", kHost, kNow);
  EXPECT_EQ(Names(r), SiteNames());
}

TEST(CookiesNone, SendsNothingAndSaysWhy) {
  TempHome h;
  // Even with a login at hand.
  MakeFirefoxProfile(h.Path(".mozilla/firefox/p.default"), 16, SiteRows());
  auto r = LoadCookies("none", kHost, kNow);
  EXPECT_TRUE(r.cookies.empty());
  EXPECT_EQ(NoLoginNotice(r), "未找到京东登录 (来源: none)");
}

}  // namespace
