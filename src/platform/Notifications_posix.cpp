#include "platform/Notifications.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QVariantMap>

namespace kes::platform {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");

} // namespace

bool NotificationServerAvailable()
{
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface())
        return false;
    return bus.interface()->isServiceRegistered(kService).value();
}

bool SendDesktopNotification(
    const QString& appName, const QString& summary, const QString& body, int timeoutMs)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    // A server may also be started by the bus on demand, so an unregistered
    // name is no reason not to try.
    QDBusMessage call = QDBusMessage::createMethodCall(
        kService, QStringLiteral("/org/freedesktop/Notifications"), kService, QStringLiteral("Notify"));
    call << appName << quint32(0) << QString() << summary << body << QStringList() << QVariantMap()
         << qint32(timeoutMs);
    return bus.send(call);
}

} // namespace kes::platform
