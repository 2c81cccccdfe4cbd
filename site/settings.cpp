#include "site/settings.h"

#include <charconv>

namespace site {

namespace {

bool FromEnvironment(const Getenv& getenv, const char* name, std::string& into) {
  const char* v = getenv ? getenv(name) : nullptr;
  if (!v || !*v) return false;
  into = v;
  return true;
}

}  // namespace

bool OptionWalk::Next() {
  if (started_) ++at_;
  started_ = true;
  if (at_ >= args_.size()) return false;
  name_ = args_[at_];
  inline_.reset();
  if (const auto eq = name_.find('='); name_.rfind("--", 0) == 0 && eq != std::string::npos) {
    inline_ = name_.substr(eq + 1);
    name_.resize(eq);
  }
  return true;
}

bool OptionWalk::Value(std::string& into) {
  if (inline_) {
    into = *inline_;
    return true;
  }
  if (at_ + 1 >= args_.size()) return false;
  into = args_[++at_];
  return true;
}

std::optional<std::int32_t> ParseDeadlineMs(const std::string& text) {
  std::int32_t n = 0;
  const char* end = text.data() + text.size();
  const auto [at, ec] = std::from_chars(text.data(), end, n);
  if (text.empty() || ec != std::errc() || at != end || n < 1 || n > kMaxDeadlineMs) return std::nullopt;
  return n;
}

bool IsWebAddress(const std::string& url) {
  return url.rfind("http://", 0) == 0 || url.rfind("https://", 0) == 0;
}

void ReadSiteEnvironment(SiteSettings& s, const Getenv& getenv) {
  FromEnvironment(getenv, "AUCTION_SITE_URL", s.siteUrl);
  s.cookiesGiven = FromEnvironment(getenv, "AUCTION_COOKIES", s.cookies) || s.cookiesGiven;
  FromEnvironment(getenv, "AUCTION_LOGIN_BROWSER", s.loginBrowser);
  std::string ms;
  if (FromEnvironment(getenv, "AUCTION_REQUEST_DEADLINE_MS", ms))
    s.requestDeadlineMs = ParseDeadlineMs(ms).value_or(s.requestDeadlineMs);
  if (FromEnvironment(getenv, "AUCTION_PAGE_DEADLINE_MS", ms))
    s.pageDeadlineMs = ParseDeadlineMs(ms).value_or(s.pageDeadlineMs);
}

bool TakeSiteOption(SiteSettings& s, const std::string& name, const std::function<bool(std::string&)>& value,
                    std::string& error) {
  if (name == "--site-url") {
    value(s.siteUrl);
  } else if (name == "--cookies") {
    if (value(s.cookies)) s.cookiesGiven = true;
  } else if (name == "--login-browser") {
    value(s.loginBrowser);
  } else if (name == "--request-deadline-ms" || name == "--page-deadline-ms") {
    std::string ms;
    if (!value(ms)) return true;
    const std::optional<std::int32_t> n = ParseDeadlineMs(ms);
    if (!n) {
      error = name + " 需要一个毫秒数（1 到 86400000）：" + ms;
      return true;
    }
    (name == "--request-deadline-ms" ? s.requestDeadlineMs : s.pageDeadlineMs) = *n;
  } else {
    return false;
  }
  return true;
}

std::string CheckSite(SiteSettings& s) {
  while (!s.siteUrl.empty() && s.siteUrl.back() == '/') s.siteUrl.pop_back();
  if (s.siteUrl.empty()) return "站点地址不能为空";
  if (!IsWebAddress(s.siteUrl)) return "站点地址必须以 http:// 或 https:// 开头：" + s.siteUrl;
  return {};
}

}  // namespace site
