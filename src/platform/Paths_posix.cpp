#include "platform/Paths.h"

#include "platform/Environment.h"
#include "platform/FileName.h"

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>

#include <climits>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace kes::platform {

namespace {

QString WithoutTrailingDelimiter(QString path)
{
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path;
}

QString AbsoluteEnv(const char* name)
{
    const QString v = GetEnvironmentValue(QLatin1String(name));
    return v.startsWith(QLatin1Char('/')) ? WithoutTrailingDelimiter(v) : QString();
}

QString PasswdHome()
{
    std::vector<char> buf(16384);
    passwd pw {};
    passwd* result = nullptr;
    if (::getpwuid_r(::geteuid(), &pw, buf.data(), buf.size(), &result) == 0 && result && result->pw_dir)
        return DecodeName(QByteArray(result->pw_dir));
    return QString();
}

QString Home()
{
    const QString home = AbsoluteEnv("HOME");
    return home.isEmpty() ? WithoutTrailingDelimiter(PasswdHome()) : home;
}

QString XdgHome(const char* variable, const char* fallbackBelowHome)
{
    const QString v = AbsoluteEnv(variable);
    if (!v.isEmpty())
        return v;
    const QString home = Home();
    return home.isEmpty() ? QString() : home + QLatin1Char('/') + QLatin1String(fallbackBelowHome);
}

QStringList XdgList(const char* variable, const QStringList& fallback)
{
    QStringList out;
    const QStringList parts = GetEnvironmentValue(QLatin1String(variable)).split(QLatin1Char(':'));
    for (const QString& p : parts) {
        if (p.startsWith(QLatin1Char('/')))
            out.append(WithoutTrailingDelimiter(p));
    }
    return out.isEmpty() ? fallback : out;
}

QString UserDir(QStandardPaths::StandardLocation location)
{
    return WithoutTrailingDelimiter(QStandardPaths::writableLocation(location));
}

QString ProgramFolder()
{
    const QString exe = ExecutablePath();
    const qsizetype slash = exe.lastIndexOf(QLatin1Char('/'));
    return slash > 0 ? exe.left(slash) : (slash == 0 ? QStringLiteral("/") : QString());
}

} // namespace

QString ShellFolderPath(int code)
{
    switch (code) {
    case kFolderDesktop:
        return UserDir(QStandardPaths::DesktopLocation);
    case kFolderDocuments:
        return UserDir(QStandardPaths::DocumentsLocation);
    case kFolderAppData:
        return XdgHome("XDG_CONFIG_HOME", ".config");
    case kFolderLocalAppData:
        return XdgHome("XDG_DATA_HOME", ".local/share");
    case kFolderProgramFiles:
        return ProgramFolder();
    case kFolderProfile:
        return Home();
    case kFolderCommonProgramFiles: {
        const QString bin = ProgramFolder();
        return bin.isEmpty() ? QString()
                             : WithoutTrailingDelimiter(QDir::cleanPath(bin + QLatin1String("/../share")));
    }
    case kFolderFavorites:
    default:
        return QString();
    }
}

QString KnownFolderPath(KnownFolder folder)
{
    switch (folder) {
    case KnownFolder::Desktop:
        return ShellFolderPath(kFolderDesktop);
    case KnownFolder::Startup: {
        const QString config = ShellFolderPath(kFolderAppData);
        return config.isEmpty() ? QString() : config + QLatin1String("/autostart");
    }
    }
    return QString();
}

QStringList SystemConfigFolders()
{
    return XdgList("XDG_CONFIG_DIRS", {QStringLiteral("/etc/xdg")});
}

QStringList SystemDataFolders()
{
    return XdgList("XDG_DATA_DIRS", {QStringLiteral("/usr/local/share"), QStringLiteral("/usr/share")});
}

QString ExecutablePath()
{
    std::vector<char> buf(PATH_MAX + 1);
    for (int attempt = 0; attempt < 4; ++attempt) {
        const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
        if (n < 0)
            break;
        if (size_t(n) < buf.size())
            return DecodeName(buf.data(), n);
        buf.resize(buf.size() * 2);
    }
    return QCoreApplication::instance() ? QCoreApplication::applicationFilePath() : QString();
}

QString UserName()
{
    std::vector<char> buf(16384);
    passwd pw {};
    passwd* result = nullptr;
    if (::getpwuid_r(::geteuid(), &pw, buf.data(), buf.size(), &result) == 0 && result && result->pw_name)
        return DecodeName(QByteArray(result->pw_name));
    const QString user = GetEnvironmentValue(QStringLiteral("USER"));
    return user.isEmpty() ? GetEnvironmentValue(QStringLiteral("LOGNAME")) : user;
}

QString ComputerName()
{
    char buf[256 + 1] = {};
    if (::gethostname(buf, sizeof buf - 1) != 0)
        return QString();
    return DecodeName(QByteArray(buf));
}

QString MainProgramFileName()
{
    return QStringLiteral("Kesmo");
}

} // namespace kes::platform
