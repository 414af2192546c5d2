#include "planner/SchedTask.h"

#include "frame/UnicodeIniFile.h"

#include <QLockFile>

namespace kes {

namespace {

const QDate kDayZero(1899, 12, 30);

const QString kConfig = QStringLiteral("Config");

} // namespace

QString SchedSection(int index)
{
    return QStringLiteral("Sched") + QString::number(index).rightJustified(2, QLatin1Char('0'));
}

int DayNumber(const QDate& date)
{
    return int(kDayZero.daysTo(date));
}

QDate DateOfDay(int dayNumber)
{
    return kDayZero.addDays(dayNumber);
}

int FindSchedule(const TSchedules& schedules, const QString& name)
{
    for (int i = 0; i < schedules.size(); ++i) {
        if (schedules[i].SName.compare(name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

void UpdateActive(TSchedules& schedules, const QStringList& taskNames)
{
    static const QString kPrefix = QStringLiteral("Schedule-");
    QStringList names;
    names.reserve(taskNames.size());
    for (const QString& task : taskNames) {
        const qsizetype at = task.indexOf(kPrefix, 0, Qt::CaseInsensitive);
        names.append(at >= 0 ? task.mid(at + kPrefix.size()) : task);
    }
    for (TSchedTask& s : schedules)
        s.Active = names.contains(s.SName, Qt::CaseInsensitive);
}

TMarvickSettings LoadSchedules(const QString& iniName, const TMarvickSettings& defaults)
{
    const auto ini = TUnicodeIniFile::CreateForRead(iniName);
    TMarvickSettings result;
    result.Top = ini->ReadInteger(kConfig, QStringLiteral("Top"), defaults.Top);
    result.Left = ini->ReadInteger(kConfig, QStringLiteral("Left"), defaults.Left);
    result.JobDir = ini->ReadString(kConfig, QStringLiteral("JobDir"), defaults.JobDir);
    // No more sections than are ever stored: a hand-edited count cannot
    // make the list huge.
    const int count = qBound(0, ini->ReadInteger(kConfig, QStringLiteral("Count"), 0), kMaxSchedules);
    const TSchedTask def;
    result.Schedules.reserve(count);
    for (int i = 0; i < count; ++i) {
        const QString sect = SchedSection(i);
        TSchedTask s;
        s.SName = ini->ReadString(sect, QStringLiteral("Name"), sect);
        s.Task = ini->ReadString(sect, QStringLiteral("Task"), QString());
        s.Cycles = ini->ReadInteger(sect, QStringLiteral("Cycles"), def.Cycles);
        s.Steps = ini->ReadInteger(sect, QStringLiteral("Steps"), def.Steps);
        s.FirstDay = ini->ReadInteger(sect, QStringLiteral("FirstDay"), def.FirstDay);
        s.Diff = ini->ReadBool(sect, QStringLiteral("Differential"), def.Diff);
        s.NextCyc = ini->ReadInteger(sect, QStringLiteral("NextCycle"), def.NextCyc);
        s.LastFull = ini->ReadInteger(sect, QStringLiteral("LastFull"), def.LastFull);
        s.LastDay = ini->ReadInteger(sect, QStringLiteral("LastDay"), def.LastDay);
        s.Silent = ini->ReadBool(sect, QStringLiteral("Silent"), def.Silent);
        result.Schedules.append(s);
    }
    return result;
}

void SaveSchedules(const QString& iniName, const TMarvickSettings& settings, const QString& programName,
    const QString& programVersion)
{
    const auto ini = TUnicodeIniFile::CreateForWrite(iniName, true);
    ini->WriteProgramInfo(QStringLiteral("Program"), programName);
    ini->WriteProgramInfo(QStringLiteral("Version"), programVersion);
    ini->WriteInteger(kConfig, QStringLiteral("Top"), settings.Top);
    ini->WriteInteger(kConfig, QStringLiteral("Left"), settings.Left);
    ini->WriteString(kConfig, QStringLiteral("JobDir"), settings.JobDir);
    const int count = int(qMin<qsizetype>(settings.Schedules.size(), kMaxSchedules));
    ini->WriteInteger(kConfig, QStringLiteral("Count"), count);
    for (int i = 0; i < count; ++i) {
        const TSchedTask& s = settings.Schedules[i];
        const QString sect = SchedSection(i);
        ini->WriteString(sect, QStringLiteral("Name"), s.SName);
        ini->WriteString(sect, QStringLiteral("Task"), s.Task);
        ini->WriteInteger(sect, QStringLiteral("Cycles"), s.Cycles);
        ini->WriteInteger(sect, QStringLiteral("Steps"), s.Steps);
        ini->WriteInteger(sect, QStringLiteral("FirstDay"), s.FirstDay);
        ini->WriteBool(sect, QStringLiteral("Differential"), s.Diff);
        ini->WriteInteger(sect, QStringLiteral("NextCycle"), s.NextCyc);
        ini->WriteInteger(sect, QStringLiteral("LastFull"), s.LastFull);
        ini->WriteInteger(sect, QStringLiteral("LastDay"), s.LastDay);
        ini->WriteBool(sect, QStringLiteral("Silent"), s.Silent);
    }
    ini->UpdateFile();
}

TSettingsLock::TSettingsLock(const QString& iniName, int waitMs)
    : FLock(std::make_unique<QLockFile>(iniName + QStringLiteral(".lock")))
{
    FLock->setStaleLockTime(0);
    FHeld = FLock->tryLock(waitMs);
}

TSettingsLock::~TSettingsLock()
{
    Release();
}

void TSettingsLock::Release()
{
    if (FHeld)
        FLock->unlock();
    FHeld = false;
}

void StoreRunState(const QString& iniName, int index, const TSchedTask& schedule)
{
    // Timers often start several schedules at the same moment, and each run
    // reads, changes and writes the whole file: the caller's settings lock
    // keeps one run from writing back the state another had just stored.
    const auto ini = TUnicodeIniFile::CreateForWrite(iniName, false);
    const QString sect = SchedSection(index);
    ini->WriteInteger(sect, QStringLiteral("NextCycle"), schedule.NextCyc);
    ini->WriteInteger(sect, QStringLiteral("LastFull"), schedule.LastFull);
    ini->WriteInteger(sect, QStringLiteral("LastDay"), schedule.LastDay);
    ini->UpdateFile();
}

QPoint KeepInsideWorkArea(const QRect& window, const QRect& workArea, int margin)
{
    int left = window.left();
    int top = window.top();
    // QRect::right() is the last pixel column; the edge lies one beyond it.
    const int areaRight = workArea.left() + workArea.width();
    const int areaBottom = workArea.top() + workArea.height();
    if (left + window.width() > areaRight)
        left = areaRight - window.width() - margin;
    if (left <= workArea.left())
        left = workArea.left() + margin;
    if (top + window.height() > areaBottom)
        top = areaBottom - window.height() - margin;
    if (top <= workArea.top())
        top = workArea.top() + margin;
    return {left, top};
}

} // namespace kes
