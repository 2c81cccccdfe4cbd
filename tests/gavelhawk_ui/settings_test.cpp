// Settings: built-in defaults, the environment over them, options over both.
#include "gavelhawk/app/settings.h"

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

// The site's own settings are parsed as site_tests check; here gavelhawk's
// own, and that the site's reach it through the same command line.
TEST(Settings, OwnSettingsBesideTheSites) {
  auto p = ParseSettings({}, Env{}.Get());
  ASSERT_EQ("", p.error);
  EXPECT_EQ(::site::kDefaultSiteUrl, p.settings.siteUrl);
  EXPECT_EQ(gavelhawk::ui::kDefaultUpdateUrl, p.settings.updateUrl);
  EXPECT_FALSE(p.settings.updateUrlGiven);
  EXPECT_FALSE(p.settings.demo);
  EXPECT_FALSE(p.settings.probeId.has_value());

  Env env{{{"GAVELHAWK_UPDATE_URL", "http://u.example/up"}, {"AUCTION_COOKIES", "firefox"}}};
  p = ParseSettings({}, env.Get());
  EXPECT_EQ("http://u.example/up", p.settings.updateUrl);
  EXPECT_TRUE(p.settings.updateUrlGiven);
  EXPECT_TRUE(p.settings.cookiesGiven);

  p = ParseSettings({"--site-url", "https://s.example/", "--update-url=http://v.example/u", "--demo",
                     "--request-deadline-ms", "1500"},
                    env.Get());
  ASSERT_EQ("", p.error);
  EXPECT_EQ("https://s.example", p.settings.siteUrl);
  EXPECT_EQ("http://v.example/u", p.settings.updateUrl);
  EXPECT_EQ(1500, p.settings.requestDeadlineMs);
  EXPECT_TRUE(p.settings.demo);
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
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--bogus"}, "未知的选项：--bogus"},
      {{"--site-url"}, "选项 --site-url 需要一个值"},
      {{"--site-url", "ftp://x"}, "站点地址必须以 http:// 或 https:// 开头：ftp://x"},
      {{"--page-deadline-ms", "0"}, "--page-deadline-ms 需要一个毫秒数（1 到 86400000）：0"},
      {{"--update-url", "/tmp/page"}, "更新页地址必须以 http:// 或 https:// 开头：/tmp/page"},
  };
  for (const auto& [args, error] : cases) EXPECT_EQ(error, ParseSettings(args, Env{}.Get()).error);
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
