// A fake systemd user manager (and the lingering call of logind) served on
// a private dbus-daemon, so that the task service's manager calls are
// tested (and measured, bench/tasks.cpp) without the machine's own systemd.
//
// It keeps a state per unit: Reload marks the unit files of its folder as
// loaded, StartUnit starts a timer or begins a service run (which the test
// ends with FinishRun), StopUnit ends them, EnableUnitFiles and
// DisableUnitFiles create and remove the links in timers.target.wants as
// the manager does. Properties.Get answers the properties the task
// service reads. GoAway drops its bus names: every later call fails as it
// does when the manager has gone.
#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QMap>
#include <QMutex>
#include <QMutexLocker>
#include <QProcess>
#include <QThread>
#include <functional>

namespace kestest {

struct FakeUnit {
    QString LoadState = QStringLiteral("not-found");
    QString ActiveState = QStringLiteral("inactive");
    QString SubState = QStringLiteral("dead");
    qulonglong ExecMainStartTimestamp = 0;
    int ExecMainCode = 0;
    int ExecMainStatus = 0;
    qulonglong NextElapseUSecRealtime = 0;
    bool Enabled = false;
    int Starts = 0;
};

class FakeSystemdObject final : public QDBusVirtualObject {
public:
    explicit FakeSystemdObject(QString unitFolder)
        : FUnitFolder(std::move(unitFolder))
    {
    }

    QString introspect(const QString&) const override { return QString(); }

    bool handleMessage(const QDBusMessage& m, const QDBusConnection& c) override
    {
        QMutexLocker lock(&FLock);
        FCalls << m.member() + QLatin1Char(' ') + ArgumentText(m);
        if (FFailing.contains(m.member())) {
            c.send(m.createErrorReply(
                QStringLiteral("org.freedesktop.DBus.Error.Failed"), QStringLiteral("refused")));
            return true;
        }
        const QVariantList a = m.arguments();
        if (m.interface() == u"org.freedesktop.DBus.Properties" && m.member() == u"Get") {
            const QVariant v = PropertyOf(m.path(), a.value(1).toString());
            if (!v.isValid()) {
                c.send(m.createErrorReply(
                    QStringLiteral("org.freedesktop.DBus.Error.UnknownProperty"), a.value(1).toString()));
                return true;
            }
            c.send(m.createReply(QVariant::fromValue(QDBusVariant(v))));
            return true;
        }
        if (m.member() == u"SetUserLinger") {
            FLingering << a.value(0).toUInt();
            c.send(m.createReply());
            return true;
        }
        const QString unit = a.value(0).toString();
        if (m.member() == u"Reload") {
            Reload();
            c.send(m.createReply());
        } else if (m.member() == u"StartUnit" || m.member() == u"RestartUnit") {
            if (FUnits.value(unit).LoadState != u"loaded") {
                c.send(m.createErrorReply(QStringLiteral("org.freedesktop.systemd1.NoSuchUnit"), unit));
                return true;
            }
            FakeUnit& u = FUnits[unit];
            ++u.Starts;
            if (unit.endsWith(QStringLiteral(".timer"))) {
                u.ActiveState = QStringLiteral("active");
                u.SubState = QStringLiteral("waiting");
            } else {
                u.ActiveState = QStringLiteral("activating");
                u.SubState = QStringLiteral("start");
                u.ExecMainStartTimestamp = qulonglong(QDateTime::currentMSecsSinceEpoch()) * 1000;
            }
            c.send(m.createReply(
                QVariant::fromValue(QDBusObjectPath(QStringLiteral("/org/freedesktop/systemd1/job/1")))));
        } else if (m.member() == u"StopUnit") {
            FakeUnit& u = FUnits[unit];
            if (u.ActiveState == u"activating") {
                u.ExecMainCode = 2; // killed
                u.ExecMainStatus = 15;
            }
            u.ActiveState = QStringLiteral("inactive");
            u.SubState = QStringLiteral("dead");
            c.send(m.createReply(
                QVariant::fromValue(QDBusObjectPath(QStringLiteral("/org/freedesktop/systemd1/job/2")))));
        } else if (m.member() == u"EnableUnitFiles") {
            for (const QString& n : a.value(0).toStringList()) {
                FUnits[n].Enabled = true;
                QDir().mkpath(FUnitFolder + QStringLiteral("/timers.target.wants"));
                QFile::link(FUnitFolder + QLatin1Char('/') + n,
                    FUnitFolder + QStringLiteral("/timers.target.wants/") + n);
            }
            c.send(m.createReply(QVariant(true)));
        } else if (m.member() == u"DisableUnitFiles") {
            for (const QString& n : a.value(0).toStringList()) {
                FUnits[n].Enabled = false;
                QFile::remove(FUnitFolder + QStringLiteral("/timers.target.wants/") + n);
            }
            c.send(m.createReply());
        } else {
            c.send(
                m.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"), m.member()));
        }
        return true;
    }

    // Test controls (any thread).
    void FinishRun(const QString& service, int exitStatus)
    {
        QMutexLocker lock(&FLock);
        FakeUnit& u = FUnits[service];
        u.ActiveState = exitStatus == 0 ? QStringLiteral("inactive") : QStringLiteral("failed");
        u.SubState = exitStatus == 0 ? QStringLiteral("dead") : QStringLiteral("failed");
        u.ExecMainCode = 1;
        u.ExecMainStatus = exitStatus;
    }
    void SetNextElapse(const QString& timer, const QDateTime& t)
    {
        QMutexLocker lock(&FLock);
        FUnits[timer].NextElapseUSecRealtime = qulonglong(t.toMSecsSinceEpoch()) * 1000;
    }
    void SetUnitState(const QString& unit, const QString& active, const QString& sub)
    {
        QMutexLocker lock(&FLock);
        FUnits[unit].ActiveState = active;
        FUnits[unit].SubState = sub;
    }
    void Fail(const QString& method)
    {
        QMutexLocker lock(&FLock);
        FFailing << method;
    }
    FakeUnit Unit(const QString& name) const
    {
        QMutexLocker lock(&FLock);
        return FUnits.value(name);
    }
    QStringList Calls() const
    {
        QMutexLocker lock(&FLock);
        return FCalls;
    }
    void ClearCalls()
    {
        QMutexLocker lock(&FLock);
        FCalls.clear();
    }
    QList<uint> Lingering() const
    {
        QMutexLocker lock(&FLock);
        return FLingering;
    }

private:
    static QString ArgumentText(const QDBusMessage& m)
    {
        QStringList parts;
        for (const QVariant& v : m.arguments())
            parts << (v.userType() == QMetaType::QStringList ? v.toStringList().join(QLatin1Char(','))
                                                             : v.toString());
        return parts.join(QLatin1Char(' '));
    }

    // sd-bus's escaping of unit names in object paths, undone.
    static QString UnitOfPath(const QString& path)
    {
        const QString prefix = QStringLiteral("/org/freedesktop/systemd1/unit/");
        if (!path.startsWith(prefix))
            return QString();
        const QString label = path.mid(prefix.size());
        QByteArray bytes;
        for (qsizetype i = 0; i < label.size(); ++i) {
            if (label[i] == QLatin1Char('_') && i + 2 < label.size()) {
                bytes += char(label.mid(i + 1, 2).toInt(nullptr, 16));
                i += 2;
            } else {
                bytes += char(label[i].unicode());
            }
        }
        return QString::fromUtf8(bytes);
    }

    QVariant PropertyOf(const QString& path, const QString& name) const
    {
        if (path == u"/org/freedesktop/systemd1")
            return name == u"Version" ? QVariant(QStringLiteral("252")) : QVariant();
        const FakeUnit u = FUnits.value(UnitOfPath(path));
        if (name == u"LoadState")
            return u.LoadState;
        if (name == u"ActiveState")
            return u.ActiveState;
        if (name == u"SubState")
            return u.SubState;
        if (name == u"ExecMainStartTimestamp")
            return u.ExecMainStartTimestamp;
        if (name == u"ExecMainCode")
            return u.ExecMainCode;
        if (name == u"ExecMainStatus")
            return u.ExecMainStatus;
        if (name == u"NextElapseUSecRealtime")
            return u.NextElapseUSecRealtime;
        return QVariant();
    }

    void Reload()
    {
        for (auto it = FUnits.begin(); it != FUnits.end(); ++it)
            it->LoadState = QStringLiteral("not-found");
        const QStringList files = QDir(FUnitFolder).entryList(QDir::Files);
        for (const QString& f : files)
            FUnits[f].LoadState = QStringLiteral("loaded");
    }

    QString FUnitFolder;
    mutable QMutex FLock;
    QMap<QString, FakeUnit> FUnits;
    QStringList FCalls;
    QStringList FFailing;
    QList<uint> FLingering;
};

// A private session bus with the fake manager on it for the length of a
// test. Start fails when dbus-daemon is missing.
class FakeSystemd {
public:
    explicit FakeSystemd(const QString& unitFolder)
        : FObject(new FakeSystemdObject(unitFolder))
    {
    }
    ~FakeSystemd()
    {
        if (FThread.isRunning()) {
            InThread([this] { QDBusConnection::disconnectFromBus(FConnectionName); });
            FThread.quit();
            FThread.wait(); // the object is deleted when its thread finishes
        } else {
            delete FObject;
        }
        FDaemon.kill();
        FDaemon.waitForFinished(10000);
    }
    FakeSystemd(const FakeSystemd&) = delete;
    FakeSystemd& operator=(const FakeSystemd&) = delete;

    bool Start()
    {
        FDaemon.start(QStringLiteral("dbus-daemon"),
            {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
        if (!FDaemon.waitForStarted(10000))
            return false;
        while (!FDaemon.canReadLine() && FDaemon.state() == QProcess::Running)
            if (!FDaemon.waitForReadyRead(10000))
                break;
        FAddress = QString::fromUtf8(FDaemon.readLine()).trimmed();
        if (FAddress.isEmpty())
            return false;
        FObject->moveToThread(&FThread);
        QObject::connect(&FThread, &QThread::finished, FObject, &QObject::deleteLater);
        FThread.start();
        FConnectionName = QStringLiteral("kes-fake-systemd-%1").arg(quintptr(this));
        // The connection and the object live in the manager's thread.
        bool registered = false;
        InThread([&] {
            QDBusConnection service = QDBusConnection::connectToBus(FAddress, FConnectionName);
            registered = service.isConnected()
                && service.registerVirtualObject(
                    QStringLiteral("/org/freedesktop/systemd1"), FObject, QDBusConnection::SubPath)
                && service.registerVirtualObject(
                    QStringLiteral("/org/freedesktop/login1"), FObject, QDBusConnection::SubPath)
                && service.registerService(QStringLiteral("org.freedesktop.systemd1"))
                && service.registerService(QStringLiteral("org.freedesktop.login1"));
        });
        return registered;
    }

    // The manager leaves the bus.
    void GoAway()
    {
        InThread([this] {
            QDBusConnection service(FConnectionName);
            service.unregisterService(QStringLiteral("org.freedesktop.systemd1"));
            service.unregisterService(QStringLiteral("org.freedesktop.login1"));
        });
    }

    const QString& Address() const { return FAddress; }
    FakeSystemdObject& Manager() { return *FObject; }

private:
    void InThread(const std::function<void()>& work)
    {
        QMetaObject::invokeMethod(FObject, work, Qt::BlockingQueuedConnection);
    }

    QProcess FDaemon;
    QString FAddress;
    QThread FThread;
    FakeSystemdObject* FObject;
    QString FConnectionName;
};

} // namespace kestest
