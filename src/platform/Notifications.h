// Desktop notifications (org.freedesktop.Notifications on the session
// bus): where no notification area is available, the message a tray
// balloon would show goes here.
#pragma once

#include <QString>

namespace kes::platform {

// True when a notification server is registered on the session bus.
bool NotificationServerAvailable();

// Sends a notification without waiting for the server's answer (the bus
// may start a server on demand); false when there is no session bus.
// timeoutMs -1: the server's default.
bool SendDesktopNotification(
    const QString& appName, const QString& summary, const QString& body, int timeoutMs = -1);

} // namespace kes::platform
