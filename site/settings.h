#pragma once
// The site settings both programs take: the site's address, where the login
// comes from, the login browser and the two request deadlines. Built-in
// defaults, overridden by environment variables, overridden by options; one
// parser and one validation for both.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace site {

inline constexpr char kDefaultSiteUrl[] = "http://dbd.jd.com";
inline constexpr std::int32_t kDefaultRequestDeadlineMs = 3000;
inline constexpr std::int32_t kDefaultPageDeadlineMs = 15000;
inline constexpr std::int32_t kMaxDeadlineMs = 86400000;

struct SiteSettings {
  std::string siteUrl = kDefaultSiteUrl;  // no trailing slash
  std::string cookies = "auto";           // AUCTION_COOKIES
  bool cookiesGiven = false;              // by the environment or an option
  std::string loginBrowser;               // empty: the browser the cookies came from, else firefox
  // Overall limits of a clock/records/bid request and of a page.
  std::int32_t requestDeadlineMs = kDefaultRequestDeadlineMs;
  std::int32_t pageDeadlineMs = kDefaultPageDeadlineMs;
};

// Answers nullptr for an unset variable.
using Getenv = std::function<const char*(const char*)>;

// The environment's values over the defaults; an empty variable counts as
// unset, and a deadline that is no number of ms from 1 to a day keeps its
// default (the command line reports the same as an error).
void ReadSiteEnvironment(SiteSettings& s, const Getenv& getenv);

// A command line read option by option, as "--name value" or "--name=value".
class OptionWalk {
 public:
  explicit OptionWalk(const std::vector<std::string>& args) : args_(args) {}
  // Steps to the next argument; false after the last.
  bool Next();
  const std::string& name() const { return name_; }  // without any "=value"
  const std::string& written() const { return args_[at_]; }
  // The option's value: the inline one, else the next argument (which is
  // then passed over). False when there is none.
  bool Value(std::string& into);

 private:
  const std::vector<std::string>& args_;
  std::size_t at_ = 0;
  bool started_ = false;
  std::string name_;
  std::optional<std::string> inline_;
};

// One option of a command line. `name` is the option without any "=value";
// `value` fetches its value (false: none was given, and the caller has said
// so). Returns false when `name` is no site option; otherwise true, with
// `error` set (UTF-8) when the value is wrong.
bool TakeSiteOption(SiteSettings& s, const std::string& name, const std::function<bool(std::string&)>& value,
                    std::string& error);

// After the environment and the options: drops the address's trailing
// slashes and checks it. The reason (UTF-8), or empty when all is well.
std::string CheckSite(SiteSettings& s);

// A deadline in ms: a whole number from 1 to a day, nothing around it.
std::optional<std::int32_t> ParseDeadlineMs(const std::string& text);

// True for an address that starts with http:// or https://.
bool IsWebAddress(const std::string& url);

}  // namespace site
