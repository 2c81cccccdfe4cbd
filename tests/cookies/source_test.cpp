// "auto", and the cached source that is asked before every request.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "fixtures.h"
#include "site_rows.h"

using namespace cookietest;
using platform::cookies::CookieSource;
using platform::cookies::LoadCookies;
using platform::cookies::NoLoginNotice;

namespace {

const std::string kFirefoxProfile = ".mozilla/firefox/a.default-release";
const std::string kChromeDb = ".config/google-chrome/Default/Cookies";
const std::string kChromiumDb = ".config/chromium/Default/Cookies";

TEST(Auto, FirefoxThenChromeThenChromium) {
  TempHome h;
  MakeFirefoxProfile(h.Path(kFirefoxProfile), 16, {{".jd.com", "pin", "firefox"}});
  CreateChromiumDb(h.Path(kChromeDb), {{".jd.com", "pin", "chrome"}});
  CreateChromiumDb(h.Path(kChromiumDb), {{".jd.com", "pin", "chromium"}});
  auto r = LoadCookies("auto", kHost, kNow);
  EXPECT_TRUE(HasValue(r, "pin", "firefox"));
  EXPECT_EQ(r.browser, "firefox");
  EXPECT_EQ(r.browserCommand, "firefox");
}

TEST(Auto, TheFirstBrowserThatHoldsTheLogin) {
  TempHome h;
  MakeFirefoxProfile(h.Path(kFirefoxProfile), 16, {{".taobao.com", "pin", "elsewhere"}});
  CreateChromiumDb(h.Path(kChromeDb), {{".jd.com", "old", "expired", kNow - 5}});
  CreateChromiumDb(h.Path(kChromiumDb), {{".jd.com", "pin", "chromium"}});
  auto r = LoadCookies("", kHost, kNow);  // unset means auto
  EXPECT_EQ(Names(r), std::vector<std::string>{"pin"});
  EXPECT_TRUE(HasValue(r, "pin", "chromium"));
  EXPECT_EQ(r.browser, "chromium");
  EXPECT_EQ(r.source, "chromium:" + h.Path(".config/chromium/Default"));
}

TEST(Auto, NothingFoundNamesWhatWasTried) {
  TempHome h;
  MakeFirefoxProfile(h.Path(kFirefoxProfile), 16, {{".taobao.com", "pin", "elsewhere"}});
  CreateChromiumDb(h.Path(kChromiumDb), {});
  auto r = LoadCookies("auto", kHost, kNow);
  EXPECT_TRUE(r.cookies.empty());
  std::string notice = NoLoginNotice(r);
  EXPECT_EQ(notice.rfind("未找到京东登录 (来源: auto", 0), 0u) << notice;
  EXPECT_NE(notice.find("firefox:" + h.Path(kFirefoxProfile)), std::string::npos) << notice;
  EXPECT_NE(notice.find("chromium:" + h.Path(".config/chromium/Default")), std::string::npos) << notice;
  EXPECT_EQ(notice.find("chrome:"), std::string::npos) << "Chrome is not installed: " << notice;
  EXPECT_EQ(r.browser, "firefox") << "the user logs in where the login will be looked for";

  TempHome bare;
  auto nothing = LoadCookies("auto", kHost, kNow);
  EXPECT_TRUE(nothing.cookies.empty());
  EXPECT_EQ(nothing.browser, "");
  EXPECT_EQ(NoLoginNotice(nothing), "未找到京东登录 (来源: auto)");
  EXPECT_FALSE(nothing.error.empty());
}

TEST(Auto, HostNameCaseAndSpacesDoNotMatter) {
  TempHome h;
  MakeFirefoxProfile(h.Path(kFirefoxProfile), 16, SiteRows());
  auto r = LoadCookies(" Auto ", "PaiMai.JD.com", kNow);
  EXPECT_EQ(Names(r), SiteNames());
}

// The source is asked before every request: a login made in the browser
// since the start is picked up, the same files are not read again.
TEST(Source, PicksUpALoginMadeSinceTheStart) {
  TempHome h;
  std::string dir = MakeFirefoxProfile(h.Path(kFirefoxProfile), 16, {});
  CookieSource source("firefox", kHost);
  const auto& before = source.Current(kNow);
  EXPECT_TRUE(before.cookies.empty());
  EXPECT_EQ(NoLoginNotice(before), "未找到京东登录 (来源: firefox:" + dir + ")");

  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((dir + "/cookies.sqlite").c_str(), &db), SQLITE_OK);
  InsertFirefoxRows(db, 16, SiteRows());
  sqlite3_close(db);
  const auto& after = source.Current(kNow);
  EXPECT_EQ(Names(after), SiteNames());
  EXPECT_EQ(NoLoginNotice(after), "");
}

TEST(Source, AProfileCreatedAfterTheStartIsFound) {
  TempHome h;
  CookieSource source("auto", kHost);
  EXPECT_TRUE(source.Current(kNow).cookies.empty());
  CreateChromiumDb(h.Path(kChromeDb), SiteRows());
  EXPECT_EQ(Names(source.Current(kNow)), SiteNames());
}

TEST(Source, UnchangedFilesAreNotReadAgain) {
  TempHome h;
  std::string path = h.Path("cookies.txt");
  WriteFile(path, CookiesTxtLine({".jd.com", "pin", "first"}));
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  CookieSource source(path, kHost);
  EXPECT_TRUE(HasValue(source.Current(kNow), "pin", "first"));

  // Same length, same inode, same time stamp: to the cache it is the same file.
  WriteFile(path, CookiesTxtLine({".jd.com", "pin", "other"}));
  struct timespec times[2] = {st.st_atim, st.st_mtim};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  EXPECT_TRUE(HasValue(source.Current(kNow), "pin", "first"));

  // A real change is seen.
  WriteFile(path, CookiesTxtLine({".jd.com", "pin", "second-login"}));
  EXPECT_TRUE(HasValue(source.Current(kNow), "pin", "second-login"));
}

TEST(Source, ALoginThatExpiresMeanwhileIsDropped) {
  TempHome h;
  std::string path = h.Path("cookies.txt");
  WriteFile(path,
            CookiesTxtLine({".jd.com", "pin", "p", kNow + 60}) + CookiesTxtLine({".jd.com", "thor", "t", 0}));
  CookieSource source(path, kHost);
  EXPECT_EQ(Names(source.Current(kNow)), (std::vector<std::string>{"pin", "thor"}));
  EXPECT_EQ(Names(source.Current(kNow + 61)), std::vector<std::string>{"thor"});

  WriteFile(path, CookiesTxtLine({".jd.com", "pin", "p", kNow + 60}));
  auto gone = source.Current(kNow + 61);
  EXPECT_TRUE(gone.cookies.empty());
  EXPECT_FALSE(NoLoginNotice(gone).empty());
}

}  // namespace
