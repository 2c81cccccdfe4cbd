// The HTTP client's pure helpers and the failures it reports without a server.
#include "platform/http/http.h"

#include <gtest/gtest.h>

namespace {

using platform::http::CurlTransport;
using platform::http::DomainMatches;
using platform::http::HostOf;

TEST(DomainMatches, ExactHostOnlyWithoutSubdomains) {
  EXPECT_TRUE(DomainMatches("paimai.jd.com", false, "paimai.jd.com"));
  EXPECT_TRUE(DomainMatches("Paimai.JD.com", false, "paimai.jd.COM"));
  EXPECT_FALSE(DomainMatches("jd.com", false, "paimai.jd.com"));
  EXPECT_FALSE(DomainMatches("paimai.jd.com", false, "jd.com"));
}

TEST(DomainMatches, SubdomainsWhenFlaggedOrDotted) {
  EXPECT_TRUE(DomainMatches("jd.com", true, "paimai.jd.com"));
  EXPECT_TRUE(DomainMatches(".jd.com", false, "paimai.jd.com"));
  EXPECT_TRUE(DomainMatches(".jd.com", false, "jd.com"));
  EXPECT_TRUE(DomainMatches(".jd.com", false, "a.b.jd.com"));
}

TEST(DomainMatches, SuffixThatIsNotALabelDoesNotMatch) {
  // A cookie of jd.com must never reach evil-jd.com or jd.com.evil.net.
  EXPECT_FALSE(DomainMatches(".jd.com", false, "evil-jd.com"));
  EXPECT_FALSE(DomainMatches("jd.com", true, "notjd.com"));
  EXPECT_FALSE(DomainMatches(".jd.com", false, "jd.com.evil.net"));
  EXPECT_FALSE(DomainMatches("", true, "jd.com"));
  EXPECT_FALSE(DomainMatches(".", true, "jd.com"));
  EXPECT_FALSE(DomainMatches("jd.com", true, ""));
}

TEST(DomainMatches, AddressesMatchOnlyThemselves) {
  EXPECT_TRUE(DomainMatches("127.0.0.1", false, "127.0.0.1"));
  EXPECT_FALSE(DomainMatches("0.0.1", true, "127.0.0.1"));
  EXPECT_FALSE(DomainMatches("127.0.0.1", false, "127.0.0.2"));
}

TEST(DomainMatches, NeverForAPublicSuffixAndItsSubdomains) {
  struct Case {
    const char* domain;
    bool includeSubdomains;
    const char* host;
    bool sent;
  };
  const Case cases[] = {
      {".com.cn", false, "dbd.jd.com.cn", false}, {"com.cn", true, "dbd.jd.com.cn", false},
      {".com", false, "dbd.jd.com", false},       {".jd.com.cn", false, "dbd.jd.com.cn", true},
      {".jd.com", false, "dbd.jd.com", true},     {"github.io", true, "x.github.io", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.sent, DomainMatches(c.domain, c.includeSubdomains, c.host)) << c.domain << " " << c.host;
  }
}

TEST(RedirectProtocols, NeverFromHttpsDownToHttp) {
  EXPECT_STREQ("https", platform::http::RedirectProtocols("https://dbd.jd.com/json/paimai/bid?dealId=1"));
  EXPECT_STREQ("https", platform::http::RedirectProtocols("HTTPS://dbd.jd.com/"));
  EXPECT_STREQ("http,https", platform::http::RedirectProtocols("http://dbd.jd.com/"));
}

TEST(HostOf, HostWithoutSchemePortPathOrCase) {
  EXPECT_EQ(HostOf("http://a.b:8080/x"), "a.b");
  EXPECT_EQ(HostOf("https://Paimai.JD.com/detail/1?x=1#y"), "paimai.jd.com");
  EXPECT_EQ(HostOf("http://user:pw@127.0.0.1:9/"), "127.0.0.1");
  EXPECT_EQ(HostOf("http://[::1]:8080/"), "::1");
}

TEST(HostOf, NotAnAddressGivesEmpty) {
  EXPECT_EQ(HostOf(""), "");
  EXPECT_EQ(HostOf("not a url"), "");
}

TEST(CurlTransport, OnlyWebAddressesAreFetched) {
  // A page that redirected to file:// must not read local files; neither may
  // a caller's address.
  CurlTransport t;
  auto r = t.Get("file:///etc/hostname");
  EXPECT_FALSE(r.ok);
  EXPECT_TRUE(r.body.empty());
  EXPECT_FALSE(r.error.empty());
}

TEST(CurlTransport, MalformedAddressFailsWithoutThrowing) {
  CurlTransport t;
  auto r = t.Get("http://");
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.status, 0);
  EXPECT_FALSE(r.error.empty());
}

TEST(CurlTransport, HookRunsBeforeEveryRequestEvenAFailingOne) {
  CurlTransport t;
  int calls = 0;
  t.SetBeforeRequest([&](CurlTransport&) { ++calls; });
  t.Get("http://");
  t.Get("file:///x");
  EXPECT_EQ(calls, 2);
}

TEST(CurlTransport, ThrowingHookDoesNotEscapeTheRequest) {
  CurlTransport t;
  t.SetBeforeRequest([](CurlTransport&) { throw 42; });
  platform::http::Response r;
  EXPECT_NO_THROW(r = t.Get("file:///x"));
  EXPECT_FALSE(r.ok);
}

}  // namespace
