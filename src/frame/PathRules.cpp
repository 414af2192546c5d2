#include "frame/PathRules.h"

#include <QStringList>

namespace kes {

namespace {

bool IsDelimiter(QChar c, PathStyle style)
{
    return c == PathDelimiter(style);
}

// Index of the last delimiter (Windows: or drive colon), -1 when none.
qsizetype LastSeparator(const QString& path, PathStyle style)
{
    for (qsizetype i = path.size() - 1; i >= 0; --i) {
        if (IsDelimiter(path[i], style) || (style == PathStyle::Windows && path[i] == QLatin1Char(':')))
            return i;
    }
    return -1;
}

bool IsAbsoluteName(const QString& name, PathStyle style)
{
    if (style == PathStyle::Windows)
        return name.contains(QLatin1Char(':')) || name.startsWith(QLatin1Char('\\'));
    return name.startsWith(QLatin1Char('/'));
}

// The leading part that ".." never climbs above: "/" (POSIX), "C:\",
// "\\server\share\", "\\?\C:\" or "\" (Windows); empty for relative paths.
qsizetype RootLength(const QString& path, PathStyle style)
{
    if (style == PathStyle::Posix)
        return path.startsWith(QLatin1Char('/')) ? 1 : 0;
    if (HasLongPathPrefix(path)) {
        const QString rest = path.mid(4);
        if (HasDriveLetter(rest))
            return 4 + (rest.size() > 2 && rest[2] == QLatin1Char('\\') ? 3 : 2);
        return 4;
    }
    if (IsUncPath(path)) {
        qsizetype server = path.indexOf(QLatin1Char('\\'), 2);
        if (server < 0)
            return path.size();
        const qsizetype share = path.indexOf(QLatin1Char('\\'), server + 1);
        return share < 0 ? path.size() : share + 1;
    }
    if (HasDriveLetter(path))
        return path.size() > 2 && path[2] == QLatin1Char('\\') ? 3 : 2;
    return path.startsWith(QLatin1Char('\\')) ? 1 : 0;
}

QString ResolveSteps(const QString& path, PathStyle style)
{
    const QChar delim = PathDelimiter(style);
    const qsizetype rootLen = RootLength(path, style);
    const QString root = path.left(rootLen);
    QStringList parts;
    const QStringList steps = path.mid(rootLen).split(delim);
    for (const QString& step : steps) {
        if (step.isEmpty() || step == QLatin1String("."))
            continue;
        if (step == QLatin1String("..")) {
            if (!parts.isEmpty() && parts.last() != QLatin1String(".."))
                parts.removeLast();
            else if (rootLen == 0)
                parts.append(step); // a relative path keeps leading ".." steps
            continue;
        }
        parts.append(step);
    }
    QString out = root + parts.join(delim);
    if (path.size() > rootLen && IsDelimiter(path.back(), style) && !parts.isEmpty())
        out += delim;
    return out;
}

} // namespace

QChar PathDelimiter(PathStyle style)
{
    return style == PathStyle::Windows ? QLatin1Char('\\') : QLatin1Char('/');
}

QString SetDirName(const QString& folder, PathStyle style)
{
    if (folder.isEmpty() || IsDelimiter(folder.back(), style))
        return folder;
    return folder + PathDelimiter(style);
}

QString AddPath(const QString& folder, const QString& name, PathStyle style)
{
    if (name.isEmpty())
        return folder;
    if (folder.isEmpty())
        return name;
    return SetDirName(folder, style) + name;
}

QString MakePathName(const QString& folder, const QString& name, const QString& extension, PathStyle style)
{
    QString ext = extension;
    if (ext.startsWith(QLatin1Char('.')))
        ext.remove(0, 1);
    QString result = name;
    if (!result.contains(QLatin1Char('.')) && !ext.isEmpty())
        result += QLatin1Char('.') + ext;
    if (IsAbsoluteName(result, style) || folder.isEmpty())
        return result;
    return SetDirName(folder, style) + result;
}

QString ExtractFileName(const QString& path, PathStyle style)
{
    return path.mid(LastSeparator(path, style) + 1);
}

QString ExtractFilePath(const QString& path, PathStyle style)
{
    return path.left(LastSeparator(path, style) + 1);
}

QString ChangeFileExt(const QString& path, const QString& extension, PathStyle style)
{
    const qsizetype nameStart = LastSeparator(path, style) + 1;
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    if (dot >= nameStart)
        return path.left(dot) + extension;
    return path + extension;
}

bool HasDriveLetter(const QString& path)
{
    if (path.size() < 2 || path[1] != QLatin1Char(':'))
        return false;
    const char16_t c = path[0].unicode();
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
}

bool IsUncPath(const QString& path)
{
    return path.size() > 2 && path.startsWith(QLatin1String("\\\\")) && path[2] != QLatin1Char('?')
        && path[2] != QLatin1Char('.') && path[2] != QLatin1Char('\\');
}

bool HasLongPathPrefix(const QString& path)
{
    return path.startsWith(QLatin1String("\\\\?\\"));
}

bool IsRelativeLocation(const QString& path, PathStyle style)
{
    if (style == PathStyle::Windows)
        return !path.startsWith(QLatin1Char('\\')) && !HasDriveLetter(path);
    return !path.startsWith(QLatin1Char('/'));
}

bool IsAbsoluteSwitchPath(const QString& path, PathStyle style)
{
    return IsAbsoluteName(path, style);
}

QString ExpandFileName(const QString& path, const QString& base, PathStyle style)
{
    if (path.isEmpty())
        return ResolveSteps(base, style);
    if (style == PathStyle::Windows) {
        if (HasDriveLetter(path) && (path.size() == 2 || path[2] != QLatin1Char('\\'))) {
            // "C:name": relative to that drive; without its current folder we
            // take the drive's root.
            return ResolveSteps(path.left(2) + QLatin1Char('\\') + path.mid(2), style);
        }
        if (path.startsWith(QLatin1Char('\\')) && !path.startsWith(QLatin1String("\\\\"))) {
            // "\name": the root of the base's drive.
            const QString drive = HasDriveLetter(base) ? base.left(2) : QString();
            return ResolveSteps(drive + path, style);
        }
    }
    if (!IsRelativeLocation(path, style))
        return ResolveSteps(path, style);
    return ResolveSteps(SetDirName(base, style) + path, style);
}

bool SameFileName(const QString& a, const QString& b, PathStyle style)
{
    return ResolveSteps(a, style).compare(ResolveSteps(b, style), Qt::CaseInsensitive) == 0;
}

} // namespace kes
