#include "watchdog/WatchdogSettings.h"

#include "frame/Format.h"
#include "frame/I18n.h"
#include "frame/Switches.h"
#include "frame/UnicodeIniFile.h"
#include "platform/Volumes.h"
#include "watchdog/MonTask.h"
#include "watchdog/TaskFile.h"

#include <algorithm>

namespace kes {

namespace {

const QString kConfig = QStringLiteral("Config");

QString MonitorSection(int index)
{
    return QStringLiteral("Monitor%1").arg(index, 2, 10, QChar(u'0'));
}

QString FileKey(qint64 index)
{
    return QStringLiteral("File") + Nnn(index);
}

// "File" + NNN as SaveWatchdogSettings writes it, with NNN below count.
bool ParseFileKey(const QString& key, int count, int& index)
{
    return ParseIndexedName(key, u"File", count, index);
}

bool TaskFileExists(const QString& name)
{
    if (name.isEmpty())
        return false;
    const platform::TPathKind kind = platform::GetPathKind(name);
    return kind != platform::TPathKind::Missing && kind != platform::TPathKind::Directory;
}

void Log(const TLogSink& addLog, const QString& text)
{
    if (addLog)
        addLog(text);
}

} // namespace

// --- Pending names ------------------------------------------------------------

namespace {

// A surrogate code unit that is not half of a pair: what a file name that
// is not valid UTF-8 holds for each of its raw bytes.
bool IsLoneSurrogate(const QString& s, qsizetype i)
{
    const QChar c = s[i];
    if (c.isHighSurrogate())
        return i + 1 >= s.size() || !s[i + 1].isLowSurrogate();
    if (c.isLowSurrogate())
        return i == 0 || !s[i - 1].isHighSurrogate();
    return false;
}

bool HasLoneSurrogate(const QString& s)
{
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (s[i].isSurrogate() && IsLoneSurrogate(s, i))
            return true;
    }
    return false;
}

int HexValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

// The value of count hex digits at value[i], or -1.
int HexAt(const QString& value, qsizetype i, int count, qsizetype end)
{
    if (i + count > end)
        return -1;
    int v = 0;
    for (int k = 0; k < count; ++k) {
        const int h = HexValue(value[i + k]);
        if (h < 0)
            return -1;
        v = v * 16 + h;
    }
    return v;
}

} // namespace

QString EncodePendingName(const QString& name)
{
    const bool quote = !name.isEmpty()
        && (name.front().isSpace() || name.back().isSpace() || name.front() == u'"' || name.contains(u'\r')
            || name.contains(u'\n') || HasLoneSurrogate(name));
    if (!quote)
        return name;
    QString body;
    body.reserve(name.size() + 2);
    body += u'"';
    for (qsizetype i = 0; i < name.size(); ++i) {
        const QChar c = name[i];
        if (c == u'\\')
            body += QStringLiteral("\\\\");
        else if (c == u'\r')
            body += QStringLiteral("\\r");
        else if (c == u'\n')
            body += QStringLiteral("\\n");
        else if (c.isSurrogate() && IsLoneSurrogate(name, i)) {
            // Raw bytes (U+DC80..U+DCFF) as "\xHH", any other lone surrogate
            // as "\uHHHH": the file stays valid UTF-16.
            const char16_t u = c.unicode();
            if (u >= 0xDC80 && u <= 0xDCFF)
                body += QStringLiteral("\\x%1").arg(int(u - 0xDC00), 2, 16, QChar(u'0'));
            else
                body += QStringLiteral("\\u%1").arg(int(u), 4, 16, QChar(u'0'));
        } else
            body += c;
    }
    body += u'"';
    return body;
}

QString DecodePendingName(const QString& value)
{
    if (value.size() < 2 || value.front() != u'"' || value.back() != u'"')
        return value;
    QString name;
    const qsizetype end = value.size() - 1;
    name.reserve(end);
    for (qsizetype i = 1; i < end; ++i) {
        const QChar c = value[i];
        if (c == u'\\' && i + 1 < end) {
            const QChar next = value[i + 1];
            if (next == u'\\' || next == u'r' || next == u'n') {
                name += next == u'\\' ? QChar(u'\\') : next == u'r' ? QChar(u'\r') : QChar(u'\n');
                ++i;
                continue;
            }
            if (next == u'x') {
                const int byte = HexAt(value, i + 2, 2, end);
                if (byte >= 0x80) {
                    name += QChar(char16_t(0xDC00 + byte));
                    i += 3;
                    continue;
                }
            } else if (next == u'u') {
                const int unit = HexAt(value, i + 2, 4, end);
                if (unit >= 0xD800 && unit <= 0xDFFF) {
                    name += QChar(char16_t(unit));
                    i += 5;
                    continue;
                }
            }
        }
        name += c;
    }
    return name;
}

bool IsSafeRelativeName(const QString& name)
{
    if (name.isEmpty() || name.startsWith(u'/') || name.contains(QChar(0)))
        return false;
    for (QStringView part : QStringView(name).split(u'/')) {
        if (part == u"." || part == u"..")
            return false;
    }
    return true;
}

// --- Selwand.ini --------------------------------------------------------------

TWatchdogSettings LoadWatchdogSettings(
    const QString& iniName, const TWatchdogConfig& defaults, const TLogSink& addLog)
{
    TWatchdogSettings result;
    result.Config = defaults;
    std::unique_ptr<TUnicodeIniFile> ini;
    try {
        ini = TUnicodeIniFile::CreateForRead(iniName);
    } catch (const EIniReadError& e) {
        Log(addLog, e.Message());
        return result;
    }

    TWatchdogConfig& c = result.Config;
    c.Top = ini->ReadInteger(kConfig, QStringLiteral("Top"), defaults.Top);
    c.Left = ini->ReadInteger(kConfig, QStringLiteral("Left"), defaults.Left);
    c.Height = std::max(kDesignHeight, ini->ReadInteger(kConfig, QStringLiteral("Height"), defaults.Height));
    c.Width = ini->ReadInteger(kConfig, QStringLiteral("Width"), defaults.Width);
    c.JobDir = ini->ReadString(kConfig, QStringLiteral("JobDir"), defaults.JobDir);
    if (c.JobDir.isEmpty())
        c.JobDir = defaults.JobDir;
    c.Interval = ini->ReadInteger(kConfig, QStringLiteral("Interval"), defaults.Interval);
    c.SysTray = ini->ReadBool(kConfig, QStringLiteral("SysTray"), defaults.SysTray);
    c.WriteLog = ini->ReadBool(kConfig, QStringLiteral("WriteLog"), defaults.WriteLog);

    const int count = std::clamp(ini->ReadInteger(kConfig, QStringLiteral("Count"), 0), 0, kMaxMonitorTasks);
    for (int i = 0; i < count; ++i) {
        const QString sec = MonitorSection(i);
        const QString taskFile = ini->ReadString(sec, QStringLiteral("BackupTask"), QString());
        if (!TaskFileExists(taskFile))
            continue;
        auto task = std::make_unique<TMonTask>(
            taskFile, ini->ReadString(sec, QStringLiteral("Directory"), QString()));
        task->RetainBak = std::clamp(ini->ReadInteger(sec, QStringLiteral("RetainBak"), 0), 0, kMaxRetainBak);
        task->MonStatus = ini->ReadBool(sec, QStringLiteral("Enabled"), true) ? mtEnabled : mtDisabled;

        // Only the keys the section holds are looked at, so a hostile Count
        // costs nothing.
        const int fileCount = ini->ReadInteger(sec, QStringLiteral("Count"), 0);
        std::vector<std::pair<int, QString>> keys;
        if (fileCount > 0) {
            for (const QString& key : ini->ReadSection(sec)) {
                int index;
                if (ParseFileKey(key, fileCount, index))
                    keys.emplace_back(index, key);
            }
        }
        std::sort(keys.begin(), keys.end());
        int dropped = 0;
        QString firstDropped;
        for (const auto& [index, key] : keys) {
            const QString value = ini->ReadString(sec, key, QString());
            if (value.isEmpty())
                continue;
            const QString name = DecodePendingName(value);
            if (!IsSafeRelativeName(name)) {
                if (dropped++ == 0)
                    firstDropped = name;
                continue;
            }
            if (task->FileList.Add(name))
                ++result.FileCount;
        }
        task->CheckedUntil = QDateTime::fromString(
            ini->ReadString(sec, QStringLiteral("CheckedUntil"), QString()), Qt::ISODateWithMs);
        if (task->CheckedUntil.isValid())
            task->CheckedUntil = task->CheckedUntil.toUTC();
        task->DestMount = ini->ReadString(sec, QStringLiteral("DestMount"), QString());
        if (dropped == 1)
            Log(addLog,
                SafeFormat(_("The pending file \"%s\" of the directory \"%s\" does not lie inside it and is "
                             "dropped."),
                    {PrintableName(firstDropped), task->Dir}));
        else if (dropped > 1)
            Log(addLog,
                SafeFormat(_("%d pending files of the directory \"%s\" do not lie inside it and are dropped, "
                             "the first: \"%s\"."),
                    {dropped, task->Dir, PrintableName(firstDropped)}));
        result.Tasks.push_back(std::move(task));
    }
    return result;
}

TWatchdogSnapshot SnapshotWatchdogSettings(const TWatchdogConfig& config,
    const std::vector<std::unique_ptr<TMonTask>>& tasks, const QString& program, const QString& version)
{
    TWatchdogSnapshot snapshot;
    snapshot.Config = config;
    snapshot.Count = int(tasks.size());
    snapshot.Program = program;
    snapshot.Version = version;
    const int written = std::min(int(tasks.size()), kMaxMonitorTasks);
    for (int i = 0; i < written; ++i) {
        const TMonTask& task = *tasks[size_t(i)];
        TTaskSnapshot t;
        t.BuTask = task.BuTask;
        t.Dir = task.Dir;
        t.RetainBak = task.RetainBak;
        t.Enabled = task.MonStatus == mtEnabled;
        // The files a running pass has not finished with are pending too.
        if (task.InFlight.IsEmpty()) {
            t.Pending = task.FileList.ToStringList();
        } else if (task.FileList.IsEmpty()) {
            t.Pending = task.InFlight.ToStringList();
        } else {
            TMatchList pending = task.FileList;
            for (const QString& name : task.InFlight)
                pending.Add(name);
            t.Pending = pending.ToStringList();
        }
        t.CheckedUntil = task.CheckedUntil;
        t.DestMount = task.DestMount;
        snapshot.Tasks.push_back(std::move(t));
    }
    return snapshot;
}

void WriteWatchdogSettings(const QString& iniName, const TWatchdogSnapshot& snapshot)
{
    auto ini = TUnicodeIniFile::CreateForWrite(iniName, false);
    ini->EraseSection(QStringLiteral("Global"));
    ini->WriteProgramInfo(QStringLiteral("Program"), snapshot.Program);
    ini->WriteProgramInfo(QStringLiteral("Version"), snapshot.Version);

    const TWatchdogConfig& config = snapshot.Config;
    ini->WriteInteger(kConfig, QStringLiteral("Top"), config.Top);
    ini->WriteInteger(kConfig, QStringLiteral("Left"), config.Left);
    ini->WriteInteger(kConfig, QStringLiteral("Height"), config.Height);
    ini->WriteInteger(kConfig, QStringLiteral("Width"), config.Width);
    ini->WriteString(kConfig, QStringLiteral("JobDir"), config.JobDir);
    ini->WriteInteger(kConfig, QStringLiteral("Interval"), config.Interval);
    ini->WriteBool(kConfig, QStringLiteral("SysTray"), config.SysTray);
    ini->WriteBool(kConfig, QStringLiteral("WriteLog"), config.WriteLog);
    ini->WriteInteger(kConfig, QStringLiteral("Count"), snapshot.Count);

    for (int i = 0; i < kMaxMonitorTasks; ++i) {
        const QString sec = MonitorSection(i);
        if (ini->SectionExists(sec))
            ini->EraseSection(sec);
        if (size_t(i) >= snapshot.Tasks.size())
            continue;
        const TTaskSnapshot& task = snapshot.Tasks[size_t(i)];
        ini->WriteString(sec, QStringLiteral("BackupTask"), task.BuTask);
        ini->WriteString(sec, QStringLiteral("Directory"), task.Dir);
        ini->WriteInteger(sec, QStringLiteral("RetainBak"), task.RetainBak);
        ini->WriteBool(sec, QStringLiteral("Enabled"), task.Enabled);
        ini->WriteInteger(sec, QStringLiteral("Count"), int(task.Pending.size()));
        qint64 n = 0;
        for (const QString& name : task.Pending)
            ini->WriteString(sec, FileKey(n++), EncodePendingName(name));
        if (task.CheckedUntil.isValid())
            ini->WriteString(
                sec, QStringLiteral("CheckedUntil"), task.CheckedUntil.toUTC().toString(Qt::ISODateWithMs));
        if (!task.DestMount.isEmpty())
            ini->WriteString(sec, QStringLiteral("DestMount"), task.DestMount);
    }
    ini->UpdateFile();
}

void SaveWatchdogSettings(const QString& iniName, const TWatchdogConfig& config,
    const std::vector<std::unique_ptr<TMonTask>>& tasks, const QString& program, const QString& version)
{
    WriteWatchdogSettings(iniName, SnapshotWatchdogSettings(config, tasks, program, version));
}

QString PrintableName(const QString& name)
{
    bool plain = true;
    for (QChar c : name) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F) {
            plain = false;
            break;
        }
    }
    if (plain)
        return name;
    QString out;
    out.reserve(name.size() + 8);
    for (QChar c : name) {
        const char16_t u = c.unicode();
        if (u == u'\n')
            out += QStringLiteral("\\n");
        else if (u == u'\r')
            out += QStringLiteral("\\r");
        else if (u == u'\t')
            out += QStringLiteral("\\t");
        else if (u < 0x20 || u == 0x7F)
            out += QStringLiteral("\\x%1").arg(int(u), 2, 16, QChar(u'0'));
        else
            out += c;
    }
    return out;
}

// --- Kesmo.ini ----------------------------------------------------------------

QString BuiltinNoCompress()
{
    return QStringLiteral(
        "7z,ace,arc,arj,bz2,cab,docx,epub,gif,gz,gze,jpeg,jpg,lha,lzh,mp3,mp4,mpg,odg,odp,ods,"
        "odt,otp,ots,ott,pdf,png,pptx,rar,webm,webp,xlsm,xlsx,xpi,zip,zipx");
}

QString DefaultDriveId(const QString& languageCode)
{
    return languageCode.compare(QStringLiteral("de"), Qt::CaseInsensitive) == 0 ? QStringLiteral("Lw?")
                                                                                : QStringLiteral("Drv?");
}

QString MergeNoCompress(const QString& extra)
{
    TMatchList list;
    list.SetCommaText(extra + u',' + BuiltinNoCompress());
    return list.CommaText();
}

TKesmoDefaults ReadKesmoSettings(const QString& kesmoIni, const QString& languageCode, const TLogSink& addLog)
{
    TKesmoDefaults result;
    result.DriveId = DefaultDriveId(languageCode);
    if (platform::GetPathKind(kesmoIni) == platform::TPathKind::Missing)
        return result;
    std::unique_ptr<TUnicodeIniFile> ini;
    try {
        ini = TUnicodeIniFile::CreateForRead(kesmoIni);
    } catch (const EIniReadError& e) {
        Log(addLog, e.Message());
        return result;
    }
    result.DriveId = ini->ReadString(kConfig, QStringLiteral("DriveId"), result.DriveId);
    result.NoCompress = MergeNoCompress(ini->ReadString(kConfig, QStringLiteral("NoCompress"), QString()));
    result.ProtDir = ini->ReadString(kConfig, QStringLiteral("ProtDir"), QString());
    return result;
}

// --- Switches -----------------------------------------------------------------

TSelwandOptions ParseSelwandOptions(const QStringList& arguments)
{
    TSelwandOptions options;
    for (const QString& argument : arguments) {
        QString word;
        if (!IsSwitch(argument, word))
            continue;
        if (MatchOption(word, QStringLiteral("hide")))
            options.Hide = true;
        else if (MatchOption(word, QStringLiteral("dark")))
            options.Dark = true;
        else if (MatchOption(word, QStringLiteral("force")))
            options.Force = true;
    }
    return options;
}

// --- Interval editor ----------------------------------------------------------

void TIntervalEditor::SetRange(int min, int max, int step)
{
    FMin = min;
    FMax = max;
    FStep = step;
}

void TIntervalEditor::Load(int buInterval)
{
    FPeriodic = buInterval > 0;
    if (buInterval < 1) {
        FUnit = iuMinutes;
        SetRange(1, 360, 1);
        SetValue(10);
        return;
    }
    int v = buInterval;
    if (v > 7199)
        v = v / 3600 * 3600;
    else if (v > 299)
        v = v / 60 * 60;
    if (v % 3600 == 0) {
        FUnit = iuHours;
        SetRange(1, 12, 1);
        SetValue(v / 3600);
    } else if (v % 60 == 0) {
        FUnit = iuMinutes;
        SetRange(1, 360, 1);
        SetValue(v / 60);
    } else {
        FUnit = iuSeconds;
        SetRange(5, 295, 5);
        SetValue(v);
    }
}

void TIntervalEditor::SetUnit(TIntervalUnit unit)
{
    FUnit = unit;
    switch (unit) {
    case iuSeconds:
        SetRange(5, 295, 5);
        SetValue(30);
        break;
    case iuMinutes:
        SetRange(1, 360, 1);
        SetValue(10);
        break;
    case iuHours:
        SetRange(1, 12, 1);
        SetValue(1);
        break;
    }
}

void TIntervalEditor::SetValue(int value)
{
    FValue = std::clamp(value, FMin, FMax);
}

void TIntervalEditor::SetSecondsRange()
{
    SetRange(5, 295, 5);
    SetValue(30);
}

int TIntervalEditor::GetIntervalSeconds() const
{
    if (!FPeriodic)
        return -1;
    switch (FUnit) {
    case iuSeconds:
        return FValue;
    case iuMinutes:
        return FValue * 60;
    case iuHours:
        return FValue * 3600;
    }
    return FValue;
}

QString TIntervalEditor::UnitText(TIntervalUnit unit)
{
    switch (unit) {
    case iuSeconds:
        return _("seconds");
    case iuMinutes:
        return _("minutes");
    case iuHours:
        return _("hours");
    }
    return QString();
}

QString TIntervalEditor::Hint() const
{
    return _("Number of ") + UnitText(FUnit);
}

} // namespace kes
