// Chromium and Chrome: finding the Cookies database and decrypting values.
#include <gtest/gtest.h>

#include "fixtures.h"
#include "site_rows.h"

using namespace cookietest;
using platform::cookies::LoadCookies;
using platform::cookies::NoLoginNotice;
using platform::cookies::SetKeyringLookup;

namespace {

const std::string kChromium = ".config/chromium";
const std::string kChrome = ".config/google-chrome";

TEST(Chromium, DecryptsV10ValuesBehindTheHostHash) {
  TempHome h;
  CreateChromiumDb(h.Path(kChromium + "/Default/Cookies"), SiteRows());
  auto r = LoadCookies("chromium", kHost, kNow);
  EXPECT_EQ(Names(r), SiteNames());
  EXPECT_TRUE(HasValue(r, "pin", "buyer-one")) << "the 32-byte hash is not part of the value";
  EXPECT_TRUE(HasValue(r, "thor", "T0K3N/abc+def=="));
  EXPECT_TRUE(HasValue(r, "sid", "s-42"));
  const auto* thor = Find(r, "thor");
  ASSERT_NE(thor, nullptr);
  EXPECT_EQ(thor->expires, kNow + 86400 * 30) << "microseconds since 1601 -> seconds since 1970";
  EXPECT_TRUE(thor->secure);
  EXPECT_TRUE(thor->httpOnly);
  EXPECT_TRUE(thor->includeSubdomains);
  EXPECT_FALSE(Find(r, "sid")->includeSubdomains);
  EXPECT_EQ(Find(r, "session")->expires, 0);
  EXPECT_EQ(r.browser, "chromium");
  EXPECT_EQ(r.source, "chromium:" + h.Path(kChromium + "/Default"));
  EXPECT_TRUE(h.LeftoverCopies().empty());
}

TEST(Chromium, OlderDatabasesHaveNoHashPrefix) {
  TempHome h;
  ChromiumOptions o;
  o.version = 23;
  CreateChromiumDb(h.Path(kChromium + "/Default/Cookies"), SiteRows(), o);
  auto r = LoadCookies("chromium", kHost, kNow);
  EXPECT_EQ(Names(r), SiteNames());
  EXPECT_TRUE(HasValue(r, "pin", "buyer-one")) << "no bytes are cut from an old value";
  EXPECT_TRUE(HasValue(r, "thor", "T0K3N/abc+def=="));
}

TEST(Chromium, UnencryptedValuesOfOldProfiles) {
  TempHome h;
  ChromiumOptions o;
  o.version = 9;
  o.plainValue = true;
  CreateChromiumDb(h.Path(kChromium + "/Default/Cookies"), SiteRows(), o);
  auto r = LoadCookies("chromium", kHost, kNow);
  EXPECT_EQ(Names(r), SiteNames());
  EXPECT_TRUE(HasValue(r, "pin", "buyer-one"));
}

TEST(Chromium, AValueForAnotherHostIsRejected) {
  TempHome h;
  ChromiumOptions o;
  o.badHash = true;
  CreateChromiumDb(h.Path(kChromium + "/Default/Cookies"), {{".jd.com", "pin", "moved"}}, o);
  auto r = LoadCookies("chromium", kHost, kNow);
  EXPECT_TRUE(r.cookies.empty());
  EXPECT_FALSE(r.error.empty());
}

TEST(Chromium, V11UsesTheKeyringPassword) {
  TempHome h;
  std::vector<std::string> asked;
  SetKeyringLookup([&asked](const std::string& app) -> std::optional<std::string> {
    asked.push_back(app);
    return std::string("k3yr1ng-secret");
  });
  ChromiumOptions o;
  o.prefix = "v11";
  o.password = "k3yr1ng-secret";
  CreateChromiumDb(h.Path(kChrome + "/Default/Cookies"), SiteRows(), o);
  auto r = LoadCookies("chrome", kHost, kNow);
  EXPECT_EQ(Names(r), SiteNames());
  EXPECT_TRUE(HasValue(r, "thor", "T0K3N/abc+def=="));
  EXPECT_EQ(asked, std::vector<std::string>{"chrome"}) << "asked once, for Chrome's own entry";
  // A second load does not go back to the keyring.
  LoadCookies("chrome", kHost, kNow);
  EXPECT_EQ(asked.size(), 1u);
}

TEST(Chromium, WithoutAKeyringTheFixedPasswordIsTried) {
  TempHome h;  // its keyring answers nothing
  ChromiumOptions o;
  o.prefix = "v11";
  CreateChromiumDb(h.Path(kChromium + "/Default/Cookies"), {{".jd.com", "pin", "fallback"}}, o);
  auto r = LoadCookies("chromium", kHost, kNow);
  EXPECT_TRUE(HasValue(r, "pin", "fallback"));
}

TEST(Chromium, UndecryptableLoginIsExplained) {
  TempHome h;
  int asked = 0;
  SetKeyringLookup([&asked](const std::string&) -> std::optional<std::string> {
    ++asked;
    return std::nullopt;  // locked, or no keyring at all
  });
  ChromiumOptions o;
  o.prefix = "v11";
  o.password = "only-the-keyring-knows";
  CreateChromiumDb(h.Path(kChromium + "/Default/Cookies"), SiteRows(), o);
  auto r = LoadCookies("chromium", kHost, kNow);
  EXPECT_TRUE(r.cookies.empty());
  EXPECT_NE(r.error.find("解密"), std::string::npos) << r.error;
  EXPECT_NE(NoLoginNotice(r).find("chromium:"), std::string::npos);
  // The next reload, right before a bid, does not wait for the keyring again.
  LoadCookies("chromium", kHost, kNow);
  EXPECT_EQ(asked, 1);
}

TEST(Chromium, NetworkFolderAndNumberedProfiles) {
  TempHome h;
  // Default without the login, Profile 2 with it in the newer Network/ place.
  CreateChromiumDb(h.Path(kChrome + "/Default/Network/Cookies"), {{".taobao.com", "x", "y"}});
  CreateChromiumDb(h.Path(kChrome + "/Profile 2/Network/Cookies"), {{".jd.com", "pin", "p2"}});
  CreateChromiumDb(h.Path(kChrome + "/Profile 10/Network/Cookies"), {{".jd.com", "pin", "p10"}});
  auto r = LoadCookies("chrome", kHost, kNow);
  EXPECT_TRUE(HasValue(r, "pin", "p2"));
  EXPECT_EQ(r.source, "chrome:" + h.Path(kChrome + "/Profile 2"));
  EXPECT_EQ(r.browserCommand, "google-chrome");
}

TEST(Chromium, SnapFlatpakAndExplicitProfile) {
  {
    TempHome h;
    CreateChromiumDb(h.Path("snap/chromium/common/chromium/Default/Cookies"), {{".jd.com", "pin", "snap"}});
    EXPECT_TRUE(HasValue(LoadCookies("chromium", kHost, kNow), "pin", "snap"));
  }
  {
    TempHome h;
    CreateChromiumDb(h.Path(".var/app/org.chromium.Chromium/config/chromium/Default/Cookies"),
                     {{".jd.com", "pin", "flat"}});
    auto r = LoadCookies("chromium", kHost, kNow);
    EXPECT_TRUE(HasValue(r, "pin", "flat"));
    EXPECT_EQ(r.browserCommand, "flatpak run org.chromium.Chromium");
  }
  {
    TempHome h;
    CreateChromiumDb(h.Path("elsewhere/Network/Cookies"), {{".jd.com", "pin", "explicit"}});
    auto r = LoadCookies("chrome:" + h.Path("elsewhere"), kHost, kNow);
    EXPECT_TRUE(HasValue(r, "pin", "explicit"));
    EXPECT_EQ(r.browser, "chrome");
  }
}

TEST(Chromium, DatabaseHeldByTheRunningBrowser) {
  TempHome h;
  std::string db = h.Path(kChromium + "/Default/Cookies");
  CreateChromiumDb(db, SiteRows());
  LockingProcess browser(db, [](sqlite3* c) {
    return sqlite3_exec(c, "PRAGMA locking_mode=EXCLUSIVE; BEGIN EXCLUSIVE; DELETE FROM cookies;", nullptr,
                        nullptr, nullptr) == SQLITE_OK;
  });
  ASSERT_TRUE(browser.ready());
  auto r = LoadCookies("chromium", kHost, kNow);
  EXPECT_EQ(Names(r), SiteNames());
  EXPECT_TRUE(h.LeftoverCopies().empty());
}

}  // namespace
