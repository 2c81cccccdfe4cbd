// Firefox profiles: discovery, schema versions, and a database the running
// browser holds.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "fixtures.h"
#include "platform/cookies/cookies_internal.h"
#include "site_rows.h"

using namespace cookietest;
using platform::cookies::LoadCookies;
using platform::cookies::NoLoginNotice;

namespace {

const std::string kFirefox = ".mozilla/firefox";

void WriteProfilesIni(const TempHome& h, const std::string& base, const std::string& ini) {
  WriteFile(h.Path(base + "/profiles.ini"), ini);
}

TEST(Firefox, ReadsTheSitesCookiesFromTheDefaultProfile) {
  TempHome h;
  std::string dir = MakeFirefoxProfile(h.Path(kFirefox + "/abcd.default-release"), 16, SiteRows());
  WriteProfilesIni(h, kFirefox,
                   "[Profile0]\nName=default-release\nIsRelative=1\nPath=abcd.default-release\nDefault=1\n\n"
                   "[General]\nStartWithLastProfile=1\nVersion=2\n");
  auto r = LoadCookies("firefox", kHost, kNow);
  EXPECT_EQ(Names(r), SiteNames());
  EXPECT_TRUE(HasValue(r, "thor", "T0K3N/abc+def=="));
  EXPECT_TRUE(Find(r, "thor")->httpOnly);
  EXPECT_TRUE(Find(r, "thor")->secure);
  EXPECT_FALSE(Find(r, "sid")->includeSubdomains);
  EXPECT_EQ(r.source, "firefox:" + dir);
  EXPECT_EQ(r.browser, "firefox");
  EXPECT_EQ(r.browserCommand, "firefox");
  EXPECT_TRUE(h.LeftoverCopies().empty()) << "the private copy is removed after reading";
}

// Schema 16 counts the expiry in milliseconds, older schemas in seconds: a
// wrong unit either keeps an expired login or drops a live one.
TEST(Firefox, ExpiryUnitFollowsTheSchemaVersion) {
  std::vector<Row> rows = {{".jd.com", "live", "1", kNow + 120}, {".jd.com", "dead", "2", kNow - 120}};
  for (int version : {10, 15, 16, 17}) {
    SCOPED_TRACE(version);
    TempHome h;
    MakeFirefoxProfile(h.Path(kFirefox + "/x.default"), version, rows);
    auto r = LoadCookies("firefox", kHost, kNow);
    EXPECT_EQ(Names(r), std::vector<std::string>{"live"});
    ASSERT_NE(Find(r, "live"), nullptr);
    EXPECT_EQ(Find(r, "live")->expires, kNow + 120);
  }
}

TEST(Firefox, TheInstallsDefaultProfileComesFirst) {
  TempHome h;
  MakeFirefoxProfile(h.Path(kFirefox + "/old.default"), 16, {{".jd.com", "pin", "from-old"}});
  std::string fresh =
      MakeFirefoxProfile(h.Path(kFirefox + "/new.default-release"), 16, {{".jd.com", "pin", "from-new"}});
  WriteProfilesIni(h, kFirefox,
                   "[Install4F96D1932A9F858E]\nDefault=new.default-release\nLocked=1\n\n"
                   "[Profile1]\nName=default-release\nIsRelative=1\nPath=new.default-release\n\n"
                   "[Profile0]\nName=default\nIsRelative=1\nPath=old.default\nDefault=1\n");
  auto r = LoadCookies("firefox", kHost, kNow);
  EXPECT_TRUE(HasValue(r, "pin", "from-new"));
  EXPECT_EQ(r.source, "firefox:" + fresh);
}

TEST(Firefox, AProfileWithoutTheLoginIsPassedOver) {
  TempHome h;
  std::string empty =
      MakeFirefoxProfile(h.Path(kFirefox + "/a.default-release"), 16, {{".taobao.com", "x", "y"}});
  std::string abs = h.Path("elsewhere/work");
  MakeFirefoxProfile(abs, 16, {{".jd.com", "pin", "from-work"}});
  WriteProfilesIni(h, kFirefox,
                   "[Profile0]\nName=default\nIsRelative=1\nPath=a.default-release\nDefault=1\n\n"
                   "[Profile1]\nName=work\nIsRelative=0\nPath=" +
                       abs + "\n");
  auto r = LoadCookies("firefox", kHost, kNow);
  EXPECT_TRUE(HasValue(r, "pin", "from-work"));
  EXPECT_EQ(r.source, "firefox:" + abs);

  // Without a login anywhere the default profile is the one named.
  TempHome h2;
  std::string only =
      MakeFirefoxProfile(h2.Path(kFirefox + "/a.default-release"), 16, {{".taobao.com", "x", "y"}});
  WriteProfilesIni(h2, kFirefox,
                   "[Profile0]\nName=default\nIsRelative=1\nPath=a.default-release\nDefault=1\n");
  auto none = LoadCookies("firefox", kHost, kNow);
  EXPECT_TRUE(none.cookies.empty());
  EXPECT_EQ(NoLoginNotice(none), "未找到京东登录 (来源: firefox:" + only + ")");
  EXPECT_EQ(none.browser, "firefox");
}

TEST(Firefox, ProfilesWithoutProfilesIniAreFound) {
  TempHome h;
  MakeFirefoxProfile(h.Path(kFirefox + "/zzz.other"), 16, {{".jd.com", "pin", "other"}});
  MakeFirefoxProfile(h.Path(kFirefox + "/abc.default-release"), 16, {{".jd.com", "pin", "release"}});
  auto r = LoadCookies("firefox", kHost, kNow);
  EXPECT_TRUE(HasValue(r, "pin", "release"));
}

TEST(Firefox, SnapAndFlatpakFolders) {
  {
    TempHome h;
    std::string snap = "snap/firefox/common/.mozilla/firefox";
    MakeFirefoxProfile(h.Path(snap + "/s.default"), 16, {{".jd.com", "pin", "snap"}});
    WriteProfilesIni(h, snap, "[Profile0]\nName=default\nIsRelative=1\nPath=s.default\nDefault=1\n");
    auto r = LoadCookies("firefox", kHost, kNow);
    EXPECT_TRUE(HasValue(r, "pin", "snap"));
    EXPECT_EQ(r.browserCommand, "firefox");
  }
  {
    TempHome h;
    std::string flat = ".var/app/org.mozilla.firefox/.mozilla/firefox";
    MakeFirefoxProfile(h.Path(flat + "/f.default"), 16, {{".jd.com", "pin", "flatpak"}});
    WriteProfilesIni(h, flat, "[Profile0]\nName=default\nIsRelative=1\nPath=f.default\nDefault=1\n");
    auto r = LoadCookies("firefox", kHost, kNow);
    EXPECT_TRUE(HasValue(r, "pin", "flatpak"));
    EXPECT_EQ(r.browserCommand, "flatpak run org.mozilla.firefox")
        << "the login must happen in that same browser";
  }
}

TEST(Firefox, ExplicitProfilePathOrDatabase) {
  TempHome h;
  std::string dir = MakeFirefoxProfile(h.Path("portable/profile"), 16, SiteRows());
  auto byDir = LoadCookies("firefox:" + dir, kHost, kNow);
  EXPECT_EQ(Names(byDir), SiteNames());
  EXPECT_EQ(byDir.source, "firefox:" + dir);
  auto byFile = LoadCookies("firefox:" + dir + "/cookies.sqlite", kHost, kNow);
  EXPECT_EQ(Names(byFile), SiteNames());
  auto missing = LoadCookies("firefox:" + h.Path("no/such/profile"), kHost, kNow);
  EXPECT_TRUE(missing.cookies.empty());
  EXPECT_NE(NoLoginNotice(missing).find(h.Path("no/such/profile")), std::string::npos);
}

// The browser holds its database with a write lock and a hot journal: the
// committed login is still read, and the browser's files are left alone.
TEST(Firefox, DatabaseLockedByTheRunningBrowser) {
  TempHome h;
  // The site's login first, then enough other cookies that a change to all
  // of them cannot stay in the browser's memory.
  std::vector<Row> rows = SiteRows();
  for (int i = 0; i < 3000; ++i)
    rows.emplace_back(".filler.example", "f" + std::to_string(i), std::string(200, 'v'));
  std::string dir = MakeFirefoxProfile(h.Path(kFirefox + "/l.default"), 16, rows);
  std::string db = dir + "/cookies.sqlite";
  std::string committed = ReadFile(db);
  LockingProcess browser(db, [](sqlite3* c) {
    return sqlite3_exec(
               c, "PRAGMA cache_size=1; BEGIN EXCLUSIVE; UPDATE moz_cookies SET value = 'half-written';",
               nullptr, nullptr, nullptr) == SQLITE_OK;
  });
  ASSERT_TRUE(browser.ready());
  {
    // The fixture really is locked: reading the file in place fails.
    sqlite3* direct = nullptr;
    sqlite3_open_v2(db.c_str(), &direct, SQLITE_OPEN_READONLY, nullptr);
    int rc = sqlite3_exec(direct, "SELECT count(*) FROM moz_cookies", nullptr, nullptr, nullptr);
    sqlite3_close(direct);
    ASSERT_EQ(rc, SQLITE_BUSY);
  }
  std::string before = ReadFile(db), journalBefore = ReadFile(db + "-journal");
  ASSERT_FALSE(journalBefore.empty());
  ASSERT_FALSE(before == committed) << "the uncommitted change reached the file";
  auto r = LoadCookies("firefox", kHost, kNow);
  EXPECT_EQ(Names(r), SiteNames());
  EXPECT_TRUE(HasValue(r, "pin", "buyer-one")) << "the committed value, not the browser's half-written one";
  EXPECT_TRUE(ReadFile(db) == before) << "the browser's database is not touched";
  EXPECT_TRUE(ReadFile(db + "-journal") == journalBefore);
  EXPECT_TRUE(h.LeftoverCopies().empty());
}

// A login made a moment ago sits in the -wal file, not yet in the database.
TEST(Firefox, LoginStillInTheWriteAheadLog) {
  TempHome h;
  std::string dir = MakeFirefoxProfile(h.Path(kFirefox + "/w.default"), 16, {{".taobao.com", "x", "y"}});
  std::string db = dir + "/cookies.sqlite";
  LockingProcess browser(db, [](sqlite3* c) {
    sqlite3_exec(c, "PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0; PRAGMA locking_mode=EXCLUSIVE",
                 nullptr, nullptr, nullptr);
    try {
      InsertFirefoxRows(c, 16, SiteRows());
    } catch (...) {
      return false;
    }
    return true;
  });
  ASSERT_TRUE(browser.ready());
  struct stat st {};
  ASSERT_EQ(::stat((db + "-wal").c_str(), &st), 0);
  ASSERT_GT(st.st_size, 0);
  std::string walBefore = ReadFile(db + "-wal");
  auto r = LoadCookies("firefox", kHost, kNow);
  EXPECT_EQ(Names(r), SiteNames());
  EXPECT_TRUE(HasValue(r, "thor", "T0K3N/abc+def=="));
  EXPECT_TRUE(ReadFile(db + "-wal") == walBefore) << "the browser's log is not checkpointed by us";
  EXPECT_TRUE(h.LeftoverCopies().empty());
}

// The store is read in memory: a run killed in the middle of a read leaves
// nothing under TMPDIR, and the copies earlier versions left there go.
TEST(Firefox, NothingIsLeftUnderTmpEvenWhenAReadIsKilled) {
  TempHome h;
  MakeFirefoxProfile(h.Path(kFirefox + "/k.default"), 16, SiteRows());
  const std::string stale = h.tmp() + "/gavelhawk-cookies-Ab12Cd";
  MakeDirs(stale);
  WriteFile(stale + "/cookies.sqlite", "every site's cookies");
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    for (;;) LoadCookies("firefox", kHost, kNow);
  }
  ::usleep(300000);
  ::kill(child, SIGKILL);
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_TRUE(std::filesystem::is_empty(h.tmp())) << "the killed reader left something behind";

  MakeDirs(stale);
  auto r = LoadCookies("firefox", kHost, kNow);
  EXPECT_EQ(Names(r), SiteNames());
  EXPECT_TRUE(std::filesystem::is_empty(h.tmp())) << "the stale copy of an earlier run is still there";
}

// The browser commits and checkpoints all the while: every read gives a
// login that was committed, never an older one than the read before, and
// never a damaged database.
TEST(Firefox, ReadsWhileTheBrowserWritesGiveCommittedLogins) {
  TempHome h;
  std::vector<Row> rows{{".jd.com", "pin", "0", kNow + 86400}};
  for (int i = 0; i < 200; ++i)
    rows.push_back({".filler.example", "f" + std::to_string(i), std::string(200, 'x')});
  const std::string db = MakeFirefoxProfile(h.Path(kFirefox + "/busy.default"), 16, rows) + "/cookies.sqlite";
  constexpr int kCommits = 3000;
  int done[2], release[2];
  ASSERT_EQ(0, ::pipe2(done, O_NONBLOCK));
  ASSERT_EQ(0, ::pipe(release));
  const pid_t browser = ::fork();
  ASSERT_GE(browser, 0);
  if (browser == 0) {
    ::close(done[0]);
    ::close(release[1]);
    sqlite3* c = nullptr;
    sqlite3_open(db.c_str(), &c);
    sqlite3_exec(c, "PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0", nullptr, nullptr, nullptr);
    for (int n = 1; n <= kCommits; ++n) {
      const std::string sql =
          "BEGIN; UPDATE moz_cookies SET value = '" + std::to_string(n) +
          "' WHERE name = 'pin'; UPDATE moz_cookies SET value = '" + std::string(100 + n % 150, 'y') +
          "' WHERE host = '.filler.example' AND id % 7 = " + std::to_string(n % 7) + "; COMMIT;";
      sqlite3_exec(c, sql.c_str(), nullptr, nullptr, nullptr);
      if (n % 97 == 0) sqlite3_exec(c, "PRAGMA wal_checkpoint(PASSIVE)", nullptr, nullptr, nullptr);
      if (n % 401 == 0) sqlite3_exec(c, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr);
    }
    // Still open, as a running browser keeps it, the last commits in the -wal.
    char c1 = '1', c2;
    if (::write(done[1], &c1, 1) != 1) ::_exit(1);
    while (::read(release[0], &c2, 1) > 0) {
    }
    ::_exit(0);
  }
  ::close(done[1]);
  ::close(release[0]);
  long previous = 0;
  for (bool writing = true; writing;) {
    char c;
    writing = ::read(done[0], &c, 1) != 1;
    const auto r = LoadCookies("firefox", kHost, kNow);
    ASSERT_EQ(1u, r.cookies.size()) << r.error;
    const long pin = std::stol(r.cookies[0].value);
    EXPECT_GE(pin, previous) << "an older login than the read before";
    previous = pin;
  }
  EXPECT_EQ(kCommits, previous) << "the last commit is what the last read gives";
  ::close(release[1]);
  ::close(done[0]);
  int status = 0;
  ::waitpid(browser, &status, 0);
}

TEST(Firefox, ProfilesIniEntriesResolveUnderTheFirefoxFolderOnly) {
  using platform::cookies::detail::ProfileOrder;
  const std::string base = "/home/u/.mozilla/firefox";
  struct Case {
    const char* ini;
    std::vector<std::string> dirs;
  };
  const Case cases[] = {
      {"[Profile0]\nIsRelative=1\nPath=a.default\n", {base + "/a.default"}},
      {"[Profile0]\nIsRelative=0\nPath=/srv/ff/b\n", {"/srv/ff/b"}},
      // Not absolute although it says so: no folder, never one beside wherever we were started.
      {"[Profile0]\nIsRelative=0\nPath=c.default\n", {""}},
      {"[Install1]\nDefault=d.default\n[Profile0]\nPath=e\n[Profile1]\nPath=f\nDefault=1\n",
       {base + "/d.default", base + "/f", base + "/e"}},
  };
  for (const Case& c : cases) EXPECT_EQ(c.dirs, ProfileOrder(base, c.ini)) << c.ini;
}

TEST(Firefox, TheDefaultContainerWinsOverOthers) {
  TempHome h;
  Row inContainer{".jd.com", "pin", "container", kNow + 60};
  inContainer.originAttributes = "^userContextId=2";
  Row plain{".jd.com", "pin", "plain", kNow + 60};
  Row onlyInContainer{".jd.com", "thor", "c-thor", kNow + 60};
  onlyInContainer.originAttributes = "^userContextId=2";
  MakeFirefoxProfile(h.Path(kFirefox + "/c.default"), 16, {inContainer, plain, onlyInContainer});
  auto r = LoadCookies("firefox", kHost, kNow);
  EXPECT_EQ(Names(r), (std::vector<std::string>{"pin", "thor"})) << "one cookie per name";
  EXPECT_TRUE(HasValue(r, "pin", "plain"));
}

TEST(Firefox, DamagedDatabaseIsAnErrorNotACrash) {
  TempHome h;
  WriteFile(h.Path(kFirefox + "/d.default/cookies.sqlite"), std::string(4096, 'x'));
  auto garbage = LoadCookies("firefox", kHost, kNow);
  EXPECT_TRUE(garbage.cookies.empty());
  EXPECT_TRUE(garbage.damaged);
  // The user learns the store is damaged, not merely that no login was found.
  EXPECT_NE(NoLoginNotice(garbage).find("cookie 存储已损坏"), std::string::npos) << NoLoginNotice(garbage);
  EXPECT_NE(garbage.error.find("cookies.sqlite 已损坏"), std::string::npos) << garbage.error;

  TempHome h2;
  std::string other = h2.Path(kFirefox + "/e.default/cookies.sqlite");
  CreateChromiumDb(other, SiteRows());  // a database, but not Firefox's
  auto wrong = LoadCookies("firefox", kHost, kNow);
  EXPECT_TRUE(wrong.cookies.empty());
  EXPECT_FALSE(wrong.error.empty());
  EXPECT_FALSE(wrong.damaged);
  EXPECT_TRUE(h2.LeftoverCopies().empty());
}

TEST(Firefox, NoProfileAtAll) {
  TempHome h;
  auto r = LoadCookies("firefox", kHost, kNow);
  EXPECT_TRUE(r.cookies.empty());
  EXPECT_EQ(r.browser, "firefox");
  EXPECT_EQ(NoLoginNotice(r), "未找到京东登录 (来源: firefox)");
}

}  // namespace
