#include "platform/DesktopEntry.h"
#include "platform/SettingsFile.h"

#include "platform/FileName.h"
#include "platform/Paths.h"
#include "platform/Process.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kes::platform {

namespace {

bool IsReserved(QChar c)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    return reserved.contains(c);
}

// mkdir -p, the folders made for the owner to write and everyone to read.
int MakeFolders(const QByteArray& folder)
{
    if (folder.isEmpty())
        return ENOENT;
    struct stat st { };
    if (::stat(folder.constData(), &st) == 0)
        return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
    const qsizetype slash = folder.lastIndexOf('/');
    if (slash > 0) {
        if (const int err = MakeFolders(folder.left(slash)))
            return err;
    }
    if (::mkdir(folder.constData(), 0755) != 0 && errno != EEXIST)
        return errno;
    return 0;
}

} // namespace

QString QuoteExecArgument(const QString& argument)
{
    QString text = argument;
    text.replace(u'%', QStringLiteral("%%"));
    bool quote = text.isEmpty();
    for (QChar c : text)
        quote = quote || IsReserved(c);
    if (!quote)
        return text;
    QString quoted = QStringLiteral("\"");
    for (QChar c : text) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        quoted += c;
    }
    return quoted + u'"';
}

QString EscapeDesktopValue(const QString& value)
{
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value[i];
        if (c == u'\\')
            out += QStringLiteral("\\\\");
        else if (c == u'\n')
            out += QStringLiteral("\\n");
        else if (c == u'\t')
            out += QStringLiteral("\\t");
        else if (c == u'\r')
            out += QStringLiteral("\\r");
        else if (c == u' ' && i == 0)
            out += QStringLiteral("\\s");
        else
            out += c;
    }
    return out;
}

QString DesktopEntryText(const TDesktopEntry& entry)
{
    QStringList exec;
    for (const QString& argument : entry.Exec)
        exec << QuoteExecArgument(argument);
    QString text = QStringLiteral("[Desktop Entry]\nType=Application\nVersion=1.4\n");
    text += QStringLiteral("Name=") + EscapeDesktopValue(entry.Name) + u'\n';
    if (!entry.Comment.isEmpty())
        text += QStringLiteral("Comment=") + EscapeDesktopValue(entry.Comment) + u'\n';
    text += QStringLiteral("Exec=") + EscapeDesktopValue(exec.join(u' ')) + u'\n';
    if (!entry.Icon.isEmpty())
        text += QStringLiteral("Icon=") + EscapeDesktopValue(entry.Icon) + u'\n';
    text += QStringLiteral("Terminal=false\n");
    for (const QString& line : entry.ExtraKeys)
        text += line + u'\n';
    return text;
}

QString AutostartEntryPath(const QString& programName)
{
    return KnownFolderPath(KnownFolder::Startup) + u'/' + programName + QStringLiteral(".desktop");
}

bool DesktopEntryExists(const QString& path)
{
    struct stat st { };
    const QByteArray name = EncodeName(path);
    return !name.isEmpty() && ::stat(name.constData(), &st) == 0 && S_ISREG(st.st_mode);
}

int WriteDesktopEntry(const QString& path, const TDesktopEntry& entry)
{
    const QByteArray name = EncodeName(path);
    const qsizetype slash = name.lastIndexOf('/');
    if (name.isEmpty() || slash < 0)
        return ENOENT;
    if (const int err = MakeFolders(name.left(slash)))
        return err;
    // Others may read a desktop entry (a launcher reads it as the user, a
    // file manager shows it).
    return ReplaceSettingsFile(path, DesktopEntryText(entry).toUtf8(), 0644);
}

int RemoveDesktopEntry(const QString& path)
{
    const QByteArray name = EncodeName(path);
    if (name.isEmpty())
        return 0;
    if (::unlink(name.constData()) != 0 && errno != ENOENT)
        return errno;
    return 0;
}

int WriteDesktopShortcut(const QString& path, const TDesktopEntry& entry)
{
    const QByteArray name = EncodeName(path);
    const qsizetype slash = name.lastIndexOf('/');
    if (name.isEmpty() || slash < 0)
        return ENOENT;
    struct stat st { };
    const QByteArray folder = slash == 0 ? QByteArray("/") : name.left(slash);
    if (::stat(folder.constData(), &st) != 0)
        return errno;
    if (!S_ISDIR(st.st_mode))
        return ENOTDIR;
    if (const int err = ReplaceSettingsFile(path, DesktopEntryText(entry).toUtf8(), 0755))
        return err;
    // A replaced file keeps its mode: the launcher must be executable.
    if (::stat(name.constData(), &st) == 0 && (st.st_mode & S_IXUSR) == 0)
        ::chmod(name.constData(), (st.st_mode & 07777) | S_IXUSR | S_IXGRP | S_IXOTH);
    std::unique_ptr<ChildProcess> gio;
    if (SpawnProcess(QStringLiteral("gio"),
            {QStringLiteral("set"), path, QStringLiteral("metadata::trusted"), QStringLiteral("true")},
            QString(), gio)
        == 0)
        gio->Wait(3000);
    return 0;
}

} // namespace kes::platform
