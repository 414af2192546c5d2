#include "watchdog/TaskFile.h"

#include "frame/Format.h"
#include "frame/I18n.h"
#include "frame/UnicodeIniFile.h"
#include "watchdog/MonTask.h"

#include <algorithm>
#include <climits>

namespace kes {

namespace {

const QString kGlobal = QStringLiteral("Global");

// The indexes NNN < count of the names that exist, ascending. Looks only
// at what the file holds, so a hostile count costs nothing.
QList<int> PresentIndexes(const QStringList& names, QStringView prefix, int count)
{
    QList<int> result;
    if (count <= 0)
        return result;
    for (const QString& name : names) {
        int index;
        if (ParseIndexedName(name, prefix, count, index))
            result.append(index);
    }
    std::sort(result.begin(), result.end());
    result.erase(std::unique(result.begin(), result.end()), result.end());
    return result;
}

QString DirSection(int index)
{
    return QStringLiteral("Dir") + Nnn(index);
}

TFilterMode FilterModeOf(int value)
{
    switch (value) {
    case 1:
        return fmInclude;
    case 2:
        return fmExclude;
    default:
        return fmOff;
    }
}

// The label part of a volume-label destination and the rest behind its
// delimiter. dest begins with ":".
void CutLabel(const QString& dest, QString& label, QString& rest)
{
    QString s = dest;
    qsizetype start = 0;
    while (start < s.size() && s[start] == u' ')
        ++start;
    s.remove(0, start);
    // The delimiter is the first "\" (or "/") after an even number of
    // colons: inside the label a colon is written twice.
    qsizetype colons = 0;
    qsizetype pos = -1;
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (s[i] == u':') {
            ++colons;
        } else if ((s[i] == u'\\' || s[i] == u'/') && colons % 2 == 0) {
            pos = i;
            break;
        }
    }
    QString part = pos < 0 ? s : s.left(pos);
    rest = pos < 0 ? QString() : s.mid(pos + 1);
    label.clear();
    if (part.size() <= 2)
        return;
    while (part.endsWith(u' '))
        part.chop(1);
    // De-quote with ":" as the quote character.
    if (!part.startsWith(u':'))
        return;
    for (qsizetype i = 1; i < part.size(); ++i) {
        if (part[i] == u':') {
            if (i + 1 < part.size() && part[i + 1] == u':') {
                label += u':';
                ++i;
                continue;
            }
            break;
        }
        label += part[i];
    }
}

} // namespace

QString Nnn(qint64 i)
{
    return QStringLiteral("%1").arg(i, 3, 10, QChar(u'0'));
}

bool ParseIndexedName(const QString& name, QStringView prefix, int count, int& index)
{
    if (!name.startsWith(prefix, Qt::CaseInsensitive))
        return false;
    const QStringView digits = QStringView(name).sliced(prefix.size());
    if (digits.size() < 3 || digits.size() > 10)
        return false;
    for (QChar c : digits) {
        if (c < u'0' || c > u'9')
            return false;
    }
    const qint64 v = digits.toLongLong();
    if (v >= count || Nnn(v) != digits)
        return false;
    index = int(v);
    return true;
}

QString IncludeTrailingDelimiter(const QString& dest)
{
    if (dest.isEmpty() || dest.endsWith(u'/') || dest.endsWith(u'\\'))
        return dest;
    if (dest.contains(u'\\') && !dest.contains(u'/'))
        return dest + u'\\';
    return dest + u'/';
}

bool DestinationHasPlaceholder(const QString& destination)
{
    QString d = IncludeTrailingDelimiter(destination);
    if (d.count(u'%') < 2)
        return false;
    d.remove(QStringLiteral("%hour%"), Qt::CaseInsensitive);
    return d.count(u'%') >= 2;
}

bool HasPlaceholder(const TUnicodeIniFile& taskFile)
{
    return DestinationHasPlaceholder(taskFile.ReadString(kGlobal, QStringLiteral("Destination"), QString()));
}

int CheckTaskFile(const QString& fileName, QList<TTaskSource>* sourceList)
{
    if (sourceList)
        sourceList->clear();
    const platform::TPathKind kind = platform::GetPathKind(fileName);
    if (kind == platform::TPathKind::Missing || kind == platform::TPathKind::Directory)
        return 2;
    std::unique_ptr<TUnicodeIniFile> ini;
    try {
        ini = TUnicodeIniFile::CreateForRead(fileName);
    } catch (const std::exception&) {
        return 3;
    }
    bool usable = !ini->ReadBool(kGlobal, QStringLiteral("FtpBackup"), false)
        && ini->ReadInteger(kGlobal, QStringLiteral("DestMode"), 0) <= 1
        && ini->ReadInteger(kGlobal, QStringLiteral("Encrypt"), 0) == 0 && !HasPlaceholder(*ini);
    if (usable && sourceList) {
        const int dirCount = ini->ReadInteger(kGlobal, QStringLiteral("DirCount"), 0);
        if (dirCount <= 0)
            usable = false;
        for (int index : PresentIndexes(ini->ReadSections(), u"Dir", dirCount)) {
            const QString source = ini->ReadString(DirSection(index), QStringLiteral("Source"), QString());
            if (!source.isEmpty() && platform::GetPathKind(source) == platform::TPathKind::Directory)
                sourceList->append({source, index});
        }
    }
    return usable ? 0 : 1;
}

int ReadTaskSettings(TMonTask& task, const TTaskDefaults& defaults, const TLogSink& addLog)
{
    auto log = [&addLog](const QString& text) {
        if (addLog)
            addLog(text);
    };
    auto fail = [&task]() {
        task.MonStatus = mtInvalid;
        return 2;
    };

    std::unique_ptr<TUnicodeIniFile> ini;
    try {
        ini = TUnicodeIniFile::CreateForRead(task.BuTask);
    } catch (const EIniReadError& e) {
        log(task.BuTask + QStringLiteral(": ") + e.Message());
        return fail();
    } catch (const std::exception& e) {
        log(task.BuTask + QStringLiteral(": ") + QString::fromUtf8(e.what()));
        return fail();
    }

    // The first source section (by number) whose Source is the task's Dir.
    const int dirCount = ini->ReadInteger(kGlobal, QStringLiteral("DirCount"), 0);
    int found = -1;
    if (!task.Dir.isEmpty()) {
        for (int index : PresentIndexes(ini->ReadSections(), u"Dir", dirCount)) {
            const QString source = ini->ReadString(DirSection(index), QStringLiteral("Source"), QString());
            if (source.compare(task.Dir, Qt::CaseInsensitive) == 0) {
                found = index;
                break;
            }
        }
    }
    if (found < 0) {
        log(SafeFormat(_("Directory \"%s\" not specified in %s!"), {task.Dir, task.BuTask}));
        return fail();
    }
    if (platform::GetPathKind(task.Dir) != platform::TPathKind::Directory) {
        log(SafeFormat(_("Directory \"%s\" not found!"), {task.Dir}));
        return fail();
    }
    const QString sec = DirSection(found);

    task.DestDir
        = IncludeTrailingDelimiter(ini->ReadString(kGlobal, QStringLiteral("Destination"), QString()));
    task.DestMode = ini->ReadInteger(kGlobal, QStringLiteral("DestMode"), 0);
    task.DrvId = task.DestMode != 0 ? QString()
                                    : ini->ReadString(kGlobal, QStringLiteral("DriveId"), defaults.DriveId);
    if (!ini->ReadBool(kGlobal, QStringLiteral("Compress"), false))
        task.Compress = 0;
    else
        task.Compress = ini->ReadBool(kGlobal, QStringLiteral("CompressAsZip"), false) ? 2 : 1;
    const QString noComp = ini->ReadString(kGlobal, QStringLiteral("NoCompTypes"), QString());
    if (noComp == QStringLiteral("#"))
        task.NoCompCommaText.clear();
    else if (noComp.isEmpty())
        task.NoCompCommaText = defaults.NoCompress;
    else
        task.NoCompCommaText = noComp;

    TMonFilter& f = task.MonFilter;

    // File filter; "*.*" means the default, an unusable text leaves the
    // filter's fallback, and a plain "*" mask switches the filter off.
    const bool regular = ini->ReadBool(sec, QStringLiteral("Regular"), false);
    f.FileFilter.SetRegular(regular);
    f.FileFilter.SetMode(FilterModeOf(ini->ReadInteger(sec, QStringLiteral("FilterMode"), 0)));
    const QString matchAll = f.FileFilter.MatchAll();
    QString text = ini->ValueExists(sec, QStringLiteral("Filter"))
        ? ini->ReadString(sec, QStringLiteral("Filter"), QString())
        : matchAll;
    if (text == QStringLiteral("*.*"))
        text = matchAll;
    // A filter text that cannot be used switches the filter off, so that
    // the task backs up too much rather than silently nothing (a fallback
    // match-all filter would exclude every file in mode 2).
    try {
        f.FileFilter.SetFilter(text);
    } catch (const EFilterError& e) {
        f.FileFilter.SetMode(fmOff);
        log(task.BuTask + QStringLiteral(": ") + e.Message());
    }
    if (!regular && f.FileFilter.Filter() == QStringLiteral("*"))
        f.FileFilter.SetMode(fmOff);

    // File types.
    const int backupMode = ini->ReadInteger(sec, QStringLiteral("BackupMode"), 0);
    f.IncludeExts = backupMode == 0;
    f.ExtList.SetCommaText(ini->ReadString(
        sec, backupMode == 0 ? QStringLiteral("Include") : QStringLiteral("Exclude"), QString()));

    // Sub-directories, relative to the source. Absolute entries are
    // ignored, and so are empty ones (an empty entry would select every
    // directory).
    f.IncludeSubDirs = ini->ReadBool(sec, QStringLiteral("IncludeDirs"), false);
    QStringList subDirs;
    const int subCount = ini->ReadInteger(sec, QStringLiteral("SubCount"), 0);
    for (int index : PresentIndexes(ini->ReadSection(sec), u"SubDir", subCount)) {
        QString entry = ini->ReadString(sec, QStringLiteral("SubDir") + Nnn(index), QString());
        if (entry.size() >= 2 && entry.startsWith(u'"') && entry.endsWith(u'"'))
            entry = entry.mid(1, entry.size() - 2);
        if (entry.startsWith(u'\\') || entry.startsWith(u'/') || entry.contains(u':'))
            continue;
        entry.replace(u'\\', u'/');
        if (!entry.isEmpty())
            subDirs.append(entry);
    }
    f.SubDirList.Assign(subDirs);

    // Directory filter: "#" makes it a regular expression, "##" a mask
    // beginning with "#"; commas separate items.
    f.SubDirFilter.SetRegular(false);
    QString dirFilter = ini->ReadString(sec, QStringLiteral("DirFilter"), QString());
    if (dirFilter.isEmpty()) {
        f.SubDirFilter.SetMode(fmOff);
    } else {
        if (dirFilter.startsWith(u'#')) {
            f.SubDirFilter.SetRegular(dirFilter.size() >= 2 && dirFilter[1] != u'#');
            dirFilter.remove(0, 1);
        }
        dirFilter.replace(u',', u'|');
        f.SubDirFilter.SetMode(fmInclude);
        try {
            f.SubDirFilter.SetFilter(dirFilter);
        } catch (const EFilterError& e) {
            // As above: the match-all fallback would select (or, without
            // IncludeDirs, drop) every sub-directory.
            f.SubDirFilter.SetMode(fmOff);
            log(task.BuTask + QStringLiteral(": ") + e.Message());
        }
    }
    return 0;
}

QString InvalidTaskText(const QString& fileName)
{
    const QString crlf = QStringLiteral("\r\n");
    return SafeFormat(_("The backup task \"%s\" has invalid settings!"), {fileName}) + crlf
        + _("The following conditions must be met for Selwand:") + crlf + _("Backup method")
        + QStringLiteral(": ") + _("Separate files") + QStringLiteral(" - ")
        + _("Separate directories for drives") + crlf + _("or") + QStringLiteral(" ")
        + _("Original full directory structure") + QStringLiteral(", ")
        + _("no FTP, no encryption, no placeholders");
}

QString LayoutText(int destMode)
{
    static const char* const kLayouts[]
        = {N_("Separate directories for drives"), N_("Full original directory structure")};
    if (destMode == 0 || destMode == 1)
        return Tr(kLayouts[destMode]);
    return _("Invalid task configuration");
}

QString DriveDirName(const QString& driveId, const QString& drive)
{
    QString result;
    if (drive.startsWith(QStringLiteral("\\\\"))) {
        result = drive.mid(2);
    } else if (!drive.contains(u':')) {
        result = drive;
    } else {
        QChar letter = drive.isEmpty() ? QChar() : drive[0];
        if (letter >= u'a' && letter <= u'z')
            letter = QChar(letter.unicode() - (u'a' - u'A'));
        result = driveId;
        if (result.contains(u'?'))
            result.replace(u'?', letter);
        else
            result += letter;
    }
    if (!result.endsWith(u'\\'))
        result += u'\\';
    return result;
}

bool GetVolumeLabelPart(const QString& dest, QString& label)
{
    label.clear();
    if (dest.isEmpty() || !dest.startsWith(u':'))
        return false;
    QString rest;
    CutLabel(dest, label, rest);
    return !label.isEmpty();
}

QString FindDriveByLabel(const QString& label, const platform::TVolumeSources& sources)
{
    return platform::FindMountPointByLabel(label, sources);
}

int ResolveVolumeName(QString& dest, QString& label, const platform::TVolumeSources& sources)
{
    label.clear();
    if (dest.isEmpty())
        return 2;
    if (!dest.startsWith(u':'))
        return 0;
    QString rest;
    CutLabel(dest, label, rest);
    const QString root = FindDriveByLabel(label, sources);
    if (root.isEmpty())
        return 2;
    rest.replace(u'\\', u'/');
    while (rest.startsWith(u'/'))
        rest.remove(0, 1);
    dest = root + rest;
    return 1;
}

} // namespace kes
