#include "platform/Desktop.h"

#include "platform/Environment.h"
#include "platform/Paths.h"
#include "platform/Process.h"
#include "platform/SettingsFile.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QStringList>

namespace kes::platform {

namespace {

constexpr int kOpenerWaitMs = 5000;
constexpr int kPortalTimeoutMs = 1000;
constexpr qint64 kMaxSettingsFile = 1 << 20;

// The value of key in [section] of a small INI text; null when missing.
QString IniValue(const QString& text, const QString& section, const QString& key)
{
    bool inSection = false;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (const QString& raw : lines) {
        const QString line = raw.trimmed();
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            inSection = line.mid(1, line.size() - 2).trimmed().compare(section, Qt::CaseInsensitive) == 0;
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (inSection && eq > 0 && line.left(eq).trimmed().compare(key, Qt::CaseInsensitive) == 0)
            return line.mid(eq + 1).trimmed();
    }
    return QString();
}

// A FIFO or device in place of a settings file is never waited for.
QString ReadSmallFile(const QString& path)
{
    const TSettingsRead file = ReadSettingsFile(path, kMaxSettingsFile);
    return file.Result == TSettingsReadResult::srOk ? QString::fromUtf8(file.Bytes) : QString();
}

ColorScheme AskPortal(const QDBusConnection& bus)
{
    if (!bus.isConnected())
        return ColorScheme::Unknown;
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.portal.Desktop"),
        QStringLiteral("/org/freedesktop/portal/desktop"), QStringLiteral("org.freedesktop.portal.Settings"),
        QStringLiteral("Read"));
    call << QStringLiteral("org.freedesktop.appearance") << QStringLiteral("color-scheme");
    const QDBusMessage reply = bus.call(call, QDBus::Block, kPortalTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return ColorScheme::Unknown;
    // Read answers with a variant that holds another variant with the uint.
    QVariant v = reply.arguments().constFirst();
    for (int depth = 0; depth < 3 && v.canConvert<QDBusVariant>(); ++depth)
        v = v.value<QDBusVariant>().variant();
    bool ok = false;
    const uint value = v.toUInt(&ok);
    return ok ? ColorSchemeFromPortalValue(value) : ColorScheme::Unknown;
}

} // namespace

ColorScheme PortalColorScheme(const QString& busAddress)
{
    if (!busAddress.isEmpty()) {
        const QString name = QStringLiteral("kes-portal-query");
        ColorScheme scheme;
        {
            const QDBusConnection bus = QDBusConnection::connectToBus(busAddress, name);
            scheme = AskPortal(bus);
        }
        QDBusConnection::disconnectFromBus(name);
        return scheme;
    }
    // Without an address there is no session bus to ask (and none is
    // launched).
    if (GetEnvironmentValue(QStringLiteral("DBUS_SESSION_BUS_ADDRESS")).isEmpty()
        && GetEnvironmentValue(QStringLiteral("XDG_RUNTIME_DIR")).isEmpty())
        return ColorScheme::Unknown;
    return AskPortal(QDBusConnection::sessionBus());
}

bool HasGraphicalDisplay()
{
    return !GetEnvironmentValue(QStringLiteral("DISPLAY")).isEmpty()
        || !GetEnvironmentValue(QStringLiteral("WAYLAND_DISPLAY")).isEmpty();
}

bool ArrangeDisplayFallback()
{
    const QString platform = QStringLiteral("QT_QPA_PLATFORM");
    if (IsEnvironmentSet(platform))
        return false;
    const QString tried = GetEnvironmentValue(QStringLiteral("WAYLAND_DISPLAY")).isEmpty()
        ? QStringLiteral("xcb;")
        : QStringLiteral("wayland;xcb;");
    SetEnvironmentValue(platform, tried + HeadlessDisplayPlatform());
    return true;
}

QString HeadlessDisplayPlatform()
{
    return QStringLiteral("offscreen");
}

bool OpenUrl(const QString& url)
{
    if (url.isEmpty() || !HasGraphicalDisplay())
        return false;
    std::unique_ptr<ChildProcess> child;
    if (SpawnProcess(QStringLiteral("xdg-open"), {url}, QString(), child) != 0)
        return false;
    // xdg-open ends once it has handed the page over; some fallbacks keep
    // running with the browser, which counts as success.
    switch (child->Wait(kOpenerWaitMs)) {
    case ChildProcess::State::Running:
        return true;
    case ChildProcess::State::Ended:
        return child->ExitCode() == 0;
    case ChildProcess::State::Failed:
        break;
    }
    return false;
}

ColorScheme ColorSchemeFromPortalValue(quint32 value)
{
    switch (value) {
    case 1:
        return ColorScheme::Dark;
    case 2:
        return ColorScheme::Light;
    default:
        return ColorScheme::Unknown;
    }
}

ColorScheme ColorSchemeFromGtkSettings(const QString& text)
{
    const QString section = QStringLiteral("Settings");
    const QString prefer
        = IniValue(text, section, QStringLiteral("gtk-application-prefer-dark-theme")).toLower();
    if (prefer == QLatin1String("1") || prefer == QLatin1String("true"))
        return ColorScheme::Dark;
    const QString theme = IniValue(text, section, QStringLiteral("gtk-theme-name")).toLower();
    if (theme.endsWith(QLatin1String("-dark")) || theme.endsWith(QLatin1String(":dark")))
        return ColorScheme::Dark;
    if (!theme.isEmpty() || prefer == QLatin1String("0") || prefer == QLatin1String("false"))
        return ColorScheme::Light;
    return ColorScheme::Unknown;
}

ColorScheme ColorSchemeFromKdeGlobals(const QString& text)
{
    const QString scheme = IniValue(text, QStringLiteral("General"), QStringLiteral("ColorScheme"));
    if (scheme.isEmpty())
        return ColorScheme::Unknown;
    return scheme.contains(QLatin1String("dark"), Qt::CaseInsensitive) ? ColorScheme::Dark
                                                                       : ColorScheme::Light;
}

ColorScheme QueryColorScheme()
{
    ColorScheme scheme = PortalColorScheme();
    if (scheme != ColorScheme::Unknown)
        return scheme;
    const QString config = ShellFolderPath(kFolderAppData);
    if (config.isEmpty())
        return ColorScheme::Unknown;
    for (const char* gtk : {"/gtk-4.0/settings.ini", "/gtk-3.0/settings.ini"}) {
        scheme = ColorSchemeFromGtkSettings(ReadSmallFile(config + QLatin1String(gtk)));
        if (scheme != ColorScheme::Unknown)
            return scheme;
    }
    return ColorSchemeFromKdeGlobals(ReadSmallFile(config + QStringLiteral("/kdeglobals")));
}

} // namespace kes::platform
