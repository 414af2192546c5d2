#include "frame/ProgramPaths.h"

#include "frame/PathRules.h"
#include "frame/StartUp.h"
#include "frame/UnicodeIniFile.h"
#include "platform/Environment.h"
#include "platform/Registry.h"
#include "platform/SettingsFile.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>

#include <functional>

namespace kes {

namespace {

QString WithoutTrailingDelimiter(QString path)
{
    while (path.size() > 1 && path.endsWith(PathDelimiter()))
        path.chop(1);
    return path;
}

bool IsFile(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() && !info.isDir();
}

// Replaces every occurrence of what, without regard to case.
void ReplaceAll(QString& text, const QString& what, const QString& with)
{
    text.replace(what, with, Qt::CaseInsensitive);
}

QString EnvOr(const char* name, const std::function<QString()>& fallback)
{
    const QString v = platform::GetEnvironmentValue(QLatin1String(name));
    return v.isEmpty() ? fallback() : v;
}

// The folder shared by all users: ALLUSERSPROFILE when set, else the
// first system data folder.
QString AllUsersFolder()
{
    return EnvOr("ALLUSERSPROFILE", [] {
        const QStringList dirs = platform::SystemDataFolders();
        return dirs.isEmpty() ? QString() : dirs.first();
    });
}

} // namespace

QString ProductRegistryKey()
{
    return QStringLiteral("Software\\Kestrup6");
}

QString GetShellFolder(int code)
{
    return platform::ShellFolderPath(code);
}

QString GetKnownFolder(platform::KnownFolder folder)
{
    return platform::KnownFolderPath(folder);
}

QString GetAppDataPath(const QString& subfolder, bool create)
{
    const QString root = GetShellFolder(platform::kFolderAppData);
    if (root.isEmpty())
        return ProgramDir();
    const QString path = AddPath(root, subfolder);
    if (create && !QDir().mkpath(path))
        return ProgramDir();
    return path;
}

void GetDefaultPaths(QString& appPath, QString& userPath, QString& programFilesPath)
{
    appPath = GetAppDataPath(QStringLiteral("Kesmo6") + PathDelimiter(), false);
    userPath = SetDirName(GetShellFolder(platform::kFolderDocuments));
    programFilesPath = SetDirName(GetShellFolder(platform::kFolderProgramFiles));
}

QString GetIniPath(const QString& defaultPath)
{
    const QString value = platform::ReadRegistryString(
        platform::RegistryRoot::CurrentUser, ProductRegistryKey(), QStringLiteral("IniPath"));
    return value.isEmpty() ? defaultPath : value;
}

QString MainProgramFile()
{
    return platform::MainProgramFileName();
}

QString GetMainProgram()
{
    const QString name = MainProgramFile();
    const QString inCurrent = QDir::current().absoluteFilePath(name);
    if (IsFile(inCurrent))
        return inCurrent;
    const QString besideUs = ProgramDir() + name;
    if (!ProgramDir().isEmpty() && IsFile(besideUs))
        return besideUs;
    QString recorded = platform::ReadRegistryString(
        platform::RegistryRoot::LocalMachine, ProductRegistryKey(), QStringLiteral("Program"));
    if (recorded.isEmpty())
        recorded = platform::ReadRegistryString(platform::RegistryRoot::LocalMachine, ProductRegistryKey(),
            QStringLiteral("Program"), platform::RegistryView::Alternate);
    if (recorded.isEmpty() || IsRelativeLocation(recorded) || !IsFile(recorded))
        return QString();
    return recorded;
}

bool CopyFileWithTimes(const QString& source, const QString& target)
{
    // A settings file: only a regular one is read (a FIFO there would hang
    // the start), and one no larger than any settings file we read.
    const platform::TSettingsRead in = platform::ReadSettingsFile(source, kMaxIniFileSize);
    if (in.Result != platform::TSettingsReadResult::srOk)
        return false;
    const QFileInfo info(source);
    QTemporaryFile out(QFileInfo(target).absolutePath() + QStringLiteral("/.kes-copy-XXXXXX"));
    if (!out.open())
        return false;
    if (out.write(in.Bytes) != in.Bytes.size() || !out.flush() || !out.setPermissions(info.permissions()))
        return false;
    out.setFileTime(info.lastModified(), QFileDevice::FileModificationTime);
    out.setFileTime(info.lastRead(), QFileDevice::FileAccessTime);
    out.close();
    // The rename keeps the times just set; it never replaces an existing
    // target.
    if (!out.rename(target))
        return false;
    out.setAutoRemove(false);
    return true;
}

bool CopyDefaultSettings(const QString& iniName)
{
    const QString source = AddPath(
        GetAppDataPath(QStringLiteral("Kesmo6") + PathDelimiter(), false), ExtractFileName(iniName));
    if (SameFileName(QFileInfo(source).absoluteFilePath(), QFileInfo(iniName).absoluteFilePath()))
        return true;
    if (QFileInfo::exists(iniName) || !IsFile(source))
        return false;
    CopyFileWithTimes(source, iniName);
    return true;
}

void CopyOldSettings(const QString& appDataFolder, const QString& iniName)
{
    const QString source = AddPath(
        AddPath(appDataFolder, QStringLiteral("Kesmo5") + PathDelimiter()), ExtractFileName(iniName));
    if (!QFileInfo::exists(iniName) && IsFile(source))
        CopyFileWithTimes(source, iniName);
}

QString ExpandEnvVars(const QString& text)
{
    // From the start: the next "%", the next "%" after it, the name between
    // them; every "%name%" in the text is replaced by the value and the scan
    // goes on after the inserted value (values are never scanned again).
    QString s = text;
    qsizetype pos = 0;
    for (;;) {
        const qsizetype open = s.indexOf(QLatin1Char('%'), pos);
        if (open < 0)
            break;
        const qsizetype close = s.indexOf(QLatin1Char('%'), open + 1);
        if (close < 0)
            break;
        const QString name = s.mid(open + 1, close - open - 1);
        const QString value = platform::GetEnvironmentValue(name);
        const QString token = QLatin1Char('%') + name + QLatin1Char('%');
        QString head = s.left(open);
        QString tail = s.mid(open); // begins with the token
        head.replace(token, value, Qt::CaseInsensitive);
        tail.replace(token, value, Qt::CaseInsensitive);
        pos = head.size() + value.size();
        s = head + tail;
    }
    return s;
}

QString ExpandPathPlaceholders(const QString& text)
{
    using Fn = std::function<QString()>;
    const auto folder = [](int code) -> Fn { return [code] { return GetShellFolder(code); }; };
    const Fn programFiles = folder(platform::kFolderProgramFiles);
    const Fn commonProgramFiles = folder(platform::kFolderCommonProgramFiles);
    const struct {
        const char* Placeholder;
        Fn Value;
    } table[] = {
        {"%perspath%", folder(platform::kFolderDocuments)},
        {"%apppath%", folder(platform::kFolderAppData)},
        {"%profile%", folder(platform::kFolderProfile)},
        {"%desktop%", folder(platform::kFolderDesktop)},
        {"%favorites%", folder(platform::kFolderFavorites)},
        {"%progfiles%", programFiles},
        {"%progpath%", [] { return WithoutTrailingDelimiter(ProgramDir()); }},
        {"%username%", [] { return platform::UserName(); }},
        {"%computername%", [] { return platform::ComputerName(); }},
        {"%user%", [] { return platform::UserName(); }},
        {"%computer%", [] { return platform::ComputerName(); }},
        {"%appdata%", folder(platform::kFolderAppData)},
        {"%localappdata%", folder(platform::kFolderLocalAppData)},
        {"%allusersprofile%", AllUsersFolder},
        {"%public%", [] { return platform::GetEnvironmentValue(QStringLiteral("PUBLIC")); }},
        {"%programfiles%", [=] { return EnvOr("ProgramW6432", programFiles); }},
        {"%commonprogramfiles%", [=] { return EnvOr("CommonProgramW6432", commonProgramFiles); }},
        {"%programfiles(x86)%", [=] { return EnvOr("ProgramFiles(x86)", programFiles); }},
        {"%commonprogramfiles(x86)%", [=] { return EnvOr("CommonProgramFiles(x86)", commonProgramFiles); }},
        {"%programdata%", AllUsersFolder},
        {"%userprofile%", folder(platform::kFolderProfile)},
    };
    QString s = text;
    for (const auto& entry : table) {
        const QString placeholder = QLatin1String(entry.Placeholder);
        if (s.contains(placeholder, Qt::CaseInsensitive))
            ReplaceAll(s, placeholder, WithoutTrailingDelimiter(entry.Value()));
    }
    return s;
}

TSettingsLocation LocateSettings()
{
    TSettingsLocation loc;
    QString programFiles;
    GetDefaultPaths(loc.AppPath, loc.UserPath, programFiles);
    loc.JobDir = SetDirName(loc.UserPath) + QStringLiteral("Kesmo") + PathDelimiter();
    loc.KesPath = GetMainProgram();

    // A relative registry folder is taken from the current folder here.
    QString dir = GetIniPath(loc.AppPath);
    if (IsRelativeLocation(dir))
        dir = ExpandFileName(dir, QDir::currentPath());
    if (!QDir().mkpath(dir))
        dir = loc.AppPath;
    loc.SettingsDir = SetDirName(dir);
    loc.IniName = MakePathName(loc.SettingsDir, ProgramName(), QStringLiteral("ini"));
    if (!CopyDefaultSettings(loc.IniName))
        CopyOldSettings(GetShellFolder(platform::kFolderAppData), loc.IniName);
    loc.KesmoIni = AddPath(loc.SettingsDir, QStringLiteral("Kesmo.ini"));
    return loc;
}

QString AlternativeIniName(const QString& appPath, const QString& value)
{
    return MakePathName(appPath, ExpandPathPlaceholders(value), QStringLiteral("ini"));
}

} // namespace kes
