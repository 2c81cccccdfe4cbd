// The site settings both programs take: defaults, the environment over them,
// options over both, and one validation.
#include "site/settings.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

namespace {

using ::site::SiteSettings;

struct Parsed {
  SiteSettings s;
  std::string error;
};

// What each program's parser does with the site's part of a command line.
Parsed Parse(const std::map<std::string, std::string>& env, const std::vector<std::string>& args) {
  Parsed p;
  ::site::ReadSiteEnvironment(p.s, [&](const char* name) -> const char* {
    const auto it = env.find(name);
    return it == env.end() ? nullptr : it->second.c_str();
  });
  ::site::OptionWalk walk(args);
  while (p.error.empty() && walk.Next()) {
    const auto value = [&](std::string& into) {
      if (walk.Value(into)) return true;
      p.error = "no value";
      return false;
    };
    if (!::site::TakeSiteOption(p.s, walk.name(), value, p.error)) p.error = "unknown " + walk.written();
  }
  if (p.error.empty()) p.error = ::site::CheckSite(p.s);
  return p;
}

TEST(SiteSettings, DefaultsEnvironmentAndOptions) {
  const std::map<std::string, std::string> env = {{"AUCTION_SITE_URL", "http://127.0.0.1:9/"},
                                                  {"AUCTION_COOKIES", "firefox"},
                                                  {"AUCTION_LOGIN_BROWSER", "chromium --incognito"},
                                                  {"AUCTION_REQUEST_DEADLINE_MS", "1200"},
                                                  {"AUCTION_PAGE_DEADLINE_MS", "7000"}};
  const struct {
    const char* what;
    std::map<std::string, std::string> env;
    std::vector<std::string> args;
    SiteSettings want;
  } cases[] = {
      {"built in", {}, {}, {"http://dbd.jd.com", "auto", false, "", 3000, 15000}},
      {"environment", env, {}, {"http://127.0.0.1:9", "firefox", true, "chromium --incognito", 1200, 7000}},
      {"empty variables are unset",
       {{"AUCTION_SITE_URL", ""}, {"AUCTION_COOKIES", ""}},
       {},
       {"http://dbd.jd.com", "auto", false, "", 3000, 15000}},
      {"nonsense deadlines in the environment keep the defaults",
       {{"AUCTION_REQUEST_DEADLINE_MS", "0"}, {"AUCTION_PAGE_DEADLINE_MS", "soon"}},
       {},
       {"http://dbd.jd.com", "auto", false, "", 3000, 15000}},
      {"options over the environment",
       env,
       {"--site-url", "https://s.example//", "--cookies=none", "--login-browser", "firefox -P w",
        "--request-deadline-ms", "1500", "--page-deadline-ms=9000"},
       {"https://s.example", "none", true, "firefox -P w", 1500, 9000}},
  };
  for (const auto& c : cases) {
    const Parsed p = Parse(c.env, c.args);
    ASSERT_EQ(p.error, "") << c.what;
    EXPECT_EQ(p.s.siteUrl, c.want.siteUrl) << c.what;
    EXPECT_EQ(p.s.cookies, c.want.cookies) << c.what;
    EXPECT_EQ(p.s.cookiesGiven, c.want.cookiesGiven) << c.what;
    EXPECT_EQ(p.s.loginBrowser, c.want.loginBrowser) << c.what;
    EXPECT_EQ(p.s.requestDeadlineMs, c.want.requestDeadlineMs) << c.what;
    EXPECT_EQ(p.s.pageDeadlineMs, c.want.pageDeadlineMs) << c.what;
  }
}

TEST(SiteSettings, WrongValuesAreRefusedWithAReason) {
  const struct {
    std::map<std::string, std::string> env;
    std::vector<std::string> args;
    std::string error;
  } cases[] = {
      {{}, {"--site-url", "ftp://x"}, "站点地址必须以 http:// 或 https:// 开头：ftp://x"},
      {{{"AUCTION_SITE_URL", "dbd.jd.com"}}, {}, "站点地址必须以 http:// 或 https:// 开头：dbd.jd.com"},
      {{}, {"--site-url=/"}, "站点地址不能为空"},
      {{}, {"--site-url"}, "no value"},
      {{}, {"--page-deadline-ms", "0"}, "--page-deadline-ms 需要一个毫秒数（1 到 86400000）：0"},
      {{}, {"--request-deadline-ms=-5"}, "--request-deadline-ms 需要一个毫秒数（1 到 86400000）：-5"},
      {{}, {"--page-deadline-ms", "soon"}, "--page-deadline-ms 需要一个毫秒数（1 到 86400000）：soon"},
      {{},
       {"--page-deadline-ms", "86400001"},
       "--page-deadline-ms 需要一个毫秒数（1 到 86400000）：86400001"},
      {{}, {"--page-deadline-ms", "15000ms"}, "--page-deadline-ms 需要一个毫秒数（1 到 86400000）：15000ms"},
  };
  for (const auto& c : cases) EXPECT_EQ(Parse(c.env, c.args).error, c.error);
}

}  // namespace
