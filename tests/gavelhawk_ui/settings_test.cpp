// Settings: built-in defaults, the environment over them, options over both.
#include "gavelhawk/ui/settings.h"

#include <gtest/gtest.h>

#include <map>

namespace {

using gavelhawk::ui::ParseSettings;

struct Env {
  std::map<std::string, std::string> vars;
  std::function<const char*(const char*)> Get() const {
    return [this](const char* name) -> const char* {
      const auto it = vars.find(name);
      return it == vars.end() ? nullptr : it->second.c_str();
    };
  }
};

TEST(Settings, DefaultsWithoutEnvironmentOrOptions) {
  const auto p = ParseSettings({}, Env{}.Get());
  ASSERT_EQ("", p.error);
  EXPECT_EQ(gavelhawk::ui::kDefaultSiteUrl, p.settings.siteUrl);
  EXPECT_EQ("auto", p.settings.cookies);
  EXPECT_FALSE(p.settings.cookiesGiven);
  EXPECT_EQ("", p.settings.loginBrowser);
  EXPECT_EQ(gavelhawk::ui::kDefaultUpdateUrl, p.settings.updateUrl);
  EXPECT_FALSE(p.settings.demo);
  EXPECT_FALSE(p.settings.probeId.has_value());
}

TEST(Settings, EnvironmentOverridesDefaultsAndOptionsOverrideBoth) {
  Env env{{{"AUCTION_SITE_URL", "http://127.0.0.1:9/"},
           {"AUCTION_COOKIES", "firefox"},
           {"AUCTION_LOGIN_BROWSER", "chromium --incognito"},
           {"GAVELHAWK_UPDATE_URL", "http://u.example/up"}}};
  auto p = ParseSettings({}, env.Get());
  ASSERT_EQ("", p.error);
  EXPECT_EQ("http://127.0.0.1:9", p.settings.siteUrl);  // trailing slash dropped
  EXPECT_EQ("firefox", p.settings.cookies);
  EXPECT_TRUE(p.settings.cookiesGiven);
  EXPECT_EQ("chromium --incognito", p.settings.loginBrowser);
  EXPECT_EQ("http://u.example/up", p.settings.updateUrl);

  p = ParseSettings({"--site-url", "https://s.example", "--cookies=none", "--login-browser", "firefox -P w",
                     "--update-url=http://v.example/u", "--demo", "--request-deadline-ms", "1500",
                     "--page-deadline-ms=9000"},
                    env.Get());
  ASSERT_EQ("", p.error);
  EXPECT_EQ(1500, p.settings.requestDeadlineMs);
  EXPECT_EQ(9000, p.settings.pageDeadlineMs);
  EXPECT_EQ("https://s.example", p.settings.siteUrl);
  EXPECT_EQ("none", p.settings.cookies);
  EXPECT_EQ("firefox -P w", p.settings.loginBrowser);
  EXPECT_EQ("http://v.example/u", p.settings.updateUrl);
  EXPECT_TRUE(p.settings.demo);
}

TEST(Settings, EmptyVariablesCountAsUnset) {
  Env env{{{"AUCTION_SITE_URL", ""}, {"AUCTION_COOKIES", ""}}};
  const auto p = ParseSettings({}, env.Get());
  EXPECT_EQ(gavelhawk::ui::kDefaultSiteUrl, p.settings.siteUrl);
  EXPECT_FALSE(p.settings.cookiesGiven);
}

TEST(Settings, ProbeTakesAPositiveAuctionId) {
  auto p = ParseSettings({"--probe", "123456"}, Env{}.Get());
  ASSERT_EQ("", p.error);
  EXPECT_EQ(123456, p.settings.probeId);
  EXPECT_NE("", ParseSettings({"--probe", "abc"}, Env{}.Get()).error);
  EXPECT_NE("", ParseSettings({"--probe", "-3"}, Env{}.Get()).error);
  EXPECT_NE("", ParseSettings({"--probe"}, Env{}.Get()).error);
}

TEST(Settings, WrongCommandLinesAreRefusedWithAReason) {
  EXPECT_NE("", ParseSettings({"--bogus"}, Env{}.Get()).error);
  EXPECT_NE("", ParseSettings({"--site-url"}, Env{}.Get()).error);
  EXPECT_NE("", ParseSettings({"--site-url", "ftp://x"}, Env{}.Get()).error);
  EXPECT_NE("", ParseSettings({"--update-url", "/tmp/page"}, Env{}.Get()).error);
  for (const char* ms : {"0", "-5", "soon", "86400001"})
    EXPECT_NE("", ParseSettings({"--page-deadline-ms", ms}, Env{}.Get()).error) << ms;
  Env env{{{"AUCTION_SITE_URL", "dbd.jd.com"}}};
  EXPECT_NE("", ParseSettings({}, env.Get()).error);
}

TEST(Settings, HelpListsEveryOptionAndVariable) {
  EXPECT_TRUE(ParseSettings({"-h"}, Env{}.Get()).settings.help);
  EXPECT_TRUE(ParseSettings({"--help"}, Env{}.Get()).settings.help);
  const std::string help = gavelhawk::ui::HelpText();
  for (const char* word : {"--demo", "--site-url", "--cookies", "--login-browser", "--update-url", "--probe",
                           "--help", "--request-deadline-ms", "--page-deadline-ms", "AUCTION_SITE_URL",
                           "AUCTION_COOKIES", "AUCTION_LOGIN_BROWSER", "GAVELHAWK_UPDATE_URL",
                           "AUCTION_REQUEST_DEADLINE_MS", "AUCTION_PAGE_DEADLINE_MS"}) {
    EXPECT_NE(std::string::npos, help.find(word)) << word;
  }
}

}  // namespace

namespace {

TEST(Settings, OwnOptionsLeaveQtsOptionsOut) {
  using gavelhawk::ui::OwnOptions;
  EXPECT_EQ((std::vector<std::string>{"--demo", "--site-url", "http://x", "--cookies=none"}),
            OwnOptions({"-platform", "offscreen", "--demo", "-style", "Fusion", "--site-url", "http://x",
                        "--cookies=none"}));
  EXPECT_EQ((std::vector<std::string>{"--bogus"}), OwnOptions({"-reverse", "--bogus"}));
  EXPECT_EQ((std::vector<std::string>{"-h"}), OwnOptions({"-h"}));
  // A single-dash typo and a stray word are ours to report, not Qt's.
  EXPECT_EQ((std::vector<std::string>{"-x", "stray"}), OwnOptions({"-x", "-display", ":0", "stray"}));
  // A wrong option is found even among Qt's.
  EXPECT_NE("", ParseSettings(OwnOptions({"-platform", "offscreen", "--nope"}), Env{}.Get()).error);
  EXPECT_EQ("", ParseSettings(OwnOptions({"-platform", "offscreen", "--probe", "12"}), Env{}.Get()).error);
  EXPECT_EQ((std::vector<std::string>{"--page-deadline-ms", "900"}),
            OwnOptions({"-platform", "offscreen", "--page-deadline-ms", "900"}));
}

}  // namespace
