// The desktop services the window leans on, against a private D-Bus the test
// runs itself: notifications, and the sleep inhibitor (logind, else the
// screen saver).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QMutex>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QVariantMap>
#include <memory>

#include "platform/notify/notify.h"
#include "platform/power/power.h"

namespace {

// A dbus-daemon of our own, gone with the test.
class PrivateBus {
 public:
  PrivateBus() {
    daemon_.start(QStringLiteral("dbus-daemon"), {"--session", "--nofork", "--print-address=1"});
    if (daemon_.waitForStarted(5000) && daemon_.waitForReadyRead(5000)) {
      address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
    }
  }
  ~PrivateBus() {
    for (const QString& name : names_) QDBusConnection::disconnectFromBus(name);
    daemon_.kill();
    daemon_.waitForFinished(5000);
  }
  const QString& Address() const { return address_; }
  QDBusConnection Connect(const QString& name) {
    names_ << name;
    return QDBusConnection::connectToBus(address_, name);
  }

 private:
  QProcess daemon_;
  QString address_;
  QStringList names_;
};

// The fakes answer on their own thread: the inhibitor's calls block the
// test's thread while they wait.
class Fake : public QObject {
 public:
  QStringList Calls() {
    QMutexLocker lock(&mu_);
    return calls_;
  }

 protected:
  void Record(const QString& call) {
    QMutexLocker lock(&mu_);
    calls_ << call;
  }

 private:
  QMutex mu_;
  QStringList calls_;
};

class FakeNotifications : public Fake {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
 public slots:
  uint Notify(const QString& app, uint, const QString&, const QString& summary, const QString& body,
              const QStringList&, const QVariantMap&, int) {
    Record(app + "|" + summary + "|" + body);
    return 7;
  }
};

class FakeScreenSaver : public Fake {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")
 public slots:
  uint Inhibit(const QString& app, const QString& reason) {
    Record("Inhibit " + app + "|" + reason);
    return 42;
  }
  void UnInhibit(uint cookie) { Record(QStringLiteral("UnInhibit %1").arg(cookie)); }
};

class FakeLogind : public Fake {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
 public:
  ~FakeLogind() override {
    if (readEnd >= 0) ::close(readEnd);
  }
  int readEnd = -1;  // sees end-of-file once every copy of the write end is closed
 public slots:
  QDBusUnixFileDescriptor Inhibit(const QString& what, const QString& who, const QString& why,
                                  const QString& mode) {
    Record(what + "|" + who + "|" + why + "|" + mode);
    int fds[2];
    if (::pipe(fds) != 0) return {};
    readEnd = fds[0];
    ::fcntl(readEnd, F_SETFL, O_NONBLOCK);  // an open write end reads as "nothing yet", not a hang
    QDBusUnixFileDescriptor out(fds[1]);    // a copy goes to the caller
    ::close(fds[1]);
    return out;
  }
};

class ServiceThread {
 public:
  ServiceThread() { thread_.start(); }
  ~ServiceThread() {
    thread_.quit();
    thread_.wait();
  }
  template <class T>
  std::unique_ptr<T> Serve(QDBusConnection bus, const QString& service, const QString& path) {
    auto fake = std::make_unique<T>();
    fake->moveToThread(&thread_);
    EXPECT_TRUE(bus.registerService(service)) << service.toStdString();
    EXPECT_TRUE(bus.registerObject(path, fake.get(), QDBusConnection::ExportAllSlots)) << path.toStdString();
    return fake;
  }

 private:
  QThread thread_;
};

// The pipe's last write end is gone (the bus may hold a copy a moment longer).
bool Closed(int fd, int waitMs = 3000) {
  return QTest::qWaitFor(
      [fd] {
        char c;
        return ::read(fd, &c, 1) == 0;
      },
      waitMs);
}

TEST(Desktop, ANotificationReachesTheServiceElseTheTray) {
  PrivateBus bus;
  ASSERT_FALSE(bus.Address().isEmpty());
  for (const bool serviceRuns : {true, false}) {
    SCOPED_TRACE(serviceRuns);
    ServiceThread thread;
    QDBusConnection serviceSide = bus.Connect(QStringLiteral("svc%1").arg(serviceRuns));
    std::unique_ptr<FakeNotifications> fake;
    if (serviceRuns) {
      fake = thread.Serve<FakeNotifications>(serviceSide, "org.freedesktop.Notifications",
                                             "/org/freedesktop/Notifications");
    }
    platform::notify::Notifier notifier(QStringLiteral("Gavelhawk"),
                                        bus.Connect(QStringLiteral("cli%1").arg(serviceRuns)));
    QSignalSpy shown(&notifier, &platform::notify::Notifier::shown);
    notifier.Notify(QStringLiteral("Gavelhawk"), QStringLiteral("夺宝编号 4000001 出价成功"));
    ASSERT_TRUE(shown.wait(5000));
    EXPECT_EQ(serviceRuns, shown.at(0).at(0).toBool());
    if (fake) {
      EXPECT_EQ(QStringList{"Gavelhawk|Gavelhawk|夺宝编号 4000001 出价成功"}, fake->Calls());
    }
    serviceSide.unregisterObject("/org/freedesktop/Notifications");
  }
}

TEST(Desktop, TheSleepInhibitorTakesLogindElseTheScreenSaverAndReleasesIt) {
  using Held = platform::power::SleepInhibitor::Held;
  PrivateBus system;
  PrivateBus session;
  ASSERT_FALSE(system.Address().isEmpty());
  ASSERT_FALSE(session.Address().isEmpty());
  ServiceThread thread;
  const QString why = QStringLiteral("还有1个商品等待竞拍");
  const QDBusConnection noBus =
      QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent"), "none");

  {
    SCOPED_TRACE("logind");
    auto logind = thread.Serve<FakeLogind>(system.Connect("logind"), "org.freedesktop.login1",
                                           "/org/freedesktop/login1");
    platform::power::SleepInhibitor inhibitor("Gavelhawk", system.Connect("sys-client"), noBus);
    EXPECT_EQ(Held::Login1, inhibitor.Hold(why));
    EXPECT_EQ(QStringList{"sleep|Gavelhawk|" + why + "|block"}, logind->Calls());
    ASSERT_GE(logind->readEnd, 0);
    EXPECT_FALSE(Closed(logind->readEnd, 200));  // held while it waits
    inhibitor.Release();
    EXPECT_TRUE(Closed(logind->readEnd));  // logind sees the inhibitor go
    EXPECT_EQ(Held::None, inhibitor.held());
  }
  {
    SCOPED_TRACE("screen saver");
    auto saver = thread.Serve<FakeScreenSaver>(session.Connect("saver"), "org.freedesktop.ScreenSaver",
                                               "/org/freedesktop/ScreenSaver");
    platform::power::SleepInhibitor inhibitor("Gavelhawk", noBus, session.Connect("ses-client"));
    EXPECT_EQ(Held::ScreenSaver, inhibitor.Hold(why));
    EXPECT_EQ(Held::ScreenSaver, inhibitor.Hold(why));  // held already: not asked twice
    inhibitor.Release();
    EXPECT_EQ((QStringList{"Inhibit Gavelhawk|" + why, "UnInhibit 42"}), saver->Calls());
  }
  {
    SCOPED_TRACE("neither");
    platform::power::SleepInhibitor inhibitor("Gavelhawk", noBus, session.Connect("bare-client"));
    QDBusConnection(QStringLiteral("saver")).unregisterService("org.freedesktop.ScreenSaver");
    EXPECT_EQ(Held::None, inhibitor.Hold(why));
    EXPECT_TRUE(inhibitor.LastError().contains("ScreenSaver")) << inhibitor.LastError().toStdString();
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

#include "desktop_test.moc"
