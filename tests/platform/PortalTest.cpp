// The desktop portal's colour-scheme answer over a real, private D-Bus
// daemon, with a fake portal serving the Settings interface.
#include "platform/Desktop.h"

#include "common/TestSupport.h"

#include <QDBusConnection>
#include <QDBusVariant>
#include <QProcess>
#include <QThread>

#include <atomic>
#include <gtest/gtest.h>

using namespace kes::platform;

namespace {

class FakePortal : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")
public:
    std::atomic<uint> value {1};

public slots:
    QDBusVariant Read(const QString& nameSpace, const QString& key)
    {
        if (nameSpace != QLatin1String("org.freedesktop.appearance") || key != QLatin1String("color-scheme"))
            return QDBusVariant(QVariant(QString()));
        // The portal wraps the value in a second variant.
        return QDBusVariant(QVariant::fromValue(QDBusVariant(QVariant(uint(value)))));
    }
};

// A private session bus for the length of a test.
struct PrivateBus {
    QProcess daemon;
    QString address;
    bool Start()
    {
        daemon.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
        if (!daemon.waitForStarted(10000))
            return false;
        kestest::WaitUntil([&] { return daemon.canReadLine() || daemon.state() != QProcess::Running; });
        address = QString::fromUtf8(daemon.readLine()).trimmed();
        return !address.isEmpty();
    }
    ~PrivateBus()
    {
        daemon.kill();
        daemon.waitForFinished(10000);
    }
};

} // namespace

TEST(DesktopPortal, ColorSchemeOverDBus)
{
    if (!kestest::HaveTool("dbus-daemon"))
        KESTEST_SKIP_OR_FAIL("dbus-daemon is not installed");
    PrivateBus bus;
    ASSERT_TRUE(bus.Start());

    EXPECT_EQ(PortalColorScheme(bus.address), ColorScheme::Unknown) << "no portal on the bus";

    QThread serviceThread;
    auto* portal = new FakePortal;
    portal->moveToThread(&serviceThread);
    QObject::connect(&serviceThread, &QThread::finished, portal, &QObject::deleteLater);
    serviceThread.start();
    {
        QDBusConnection service = QDBusConnection::connectToBus(bus.address, "kes-fake-portal");
        ASSERT_TRUE(service.isConnected());
        ASSERT_TRUE(service.registerObject(
            "/org/freedesktop/portal/desktop", portal, QDBusConnection::ExportAllSlots));
        ASSERT_TRUE(service.registerService("org.freedesktop.portal.Desktop"));

        const struct {
            uint value;
            ColorScheme scheme;
        } cases[] = {{1, ColorScheme::Dark}, {2, ColorScheme::Light}, {0, ColorScheme::Unknown}};
        for (const auto& c : cases) {
            SCOPED_TRACE(c.value);
            portal->value = c.value;
            EXPECT_EQ(PortalColorScheme(bus.address), c.scheme);
        }
    }
    QDBusConnection::disconnectFromBus("kes-fake-portal");
    serviceThread.quit();
    serviceThread.wait();

    EXPECT_EQ(PortalColorScheme("unix:path=/nonexistent/kes-bus"), ColorScheme::Unknown);
}

#include "PortalTest.moc"
