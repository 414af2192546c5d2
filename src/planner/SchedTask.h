// Marvick's backup schedules: the schedule record, the list and its
// settings file Marvick.ini.
//
// A schedule runs one backup task in a rotation of Cycles cycles of Steps
// steps each; the first step of a cycle is the full backup, the others are
// differential or incremental. Steps = 7 makes the schedule weekly: its
// full backups fall on the ISO weekday FirstDay. NextCyc counts through the
// whole rotation (1 .. Cycles x Steps, 0 = not begun).
#pragma once

#include <QDate>
#include <QList>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QStringList>
#include <memory>

class QLockFile;

namespace kes {

// At most this many schedules are stored (sections Sched00 .. Sched98).
inline constexpr int kMaxSchedules = 99;
inline constexpr int kWeeklySteps = 7;

struct TSchedTask {
    QString SName; // unique in the list (case-insensitive)
    QString Task; // backup task file (.buj)
    int Cycles = 2; // cycles of the rotation
    int Steps = 7; // steps per cycle, the first being the full backup; 7 = weekly
    int FirstDay = 1; // weekly: ISO weekday of the full backup (1 Monday .. 7 Sunday)
    int NextCyc = 0; // step of the next run, 1 .. Cycles x Steps; 0 = not begun
    int LastFull = 0; // weekly: step of the last full backup; 0 = none
    int LastDay = 0; // day of the last successful start (DayNumber); 0 = never
    bool Diff = true; // differential (true) or incremental steps
    bool Silent = false; // report to the system log instead of dialogs
    bool Active = false; // not stored: a scheduled task runs this schedule

    bool IsWeekly() const { return Steps == kWeeklySteps; }
    // Cycles x Steps without overflow.
    qint64 TotalSteps() const { return qint64(Cycles) * qint64(Steps); }
};

using TSchedules = QList<TSchedTask>;

// "Sched" + the index in decimal with at least two digits.
QString SchedSection(int index);

// Whole days since 30 December 1899 (that day is 0), and back.
int DayNumber(const QDate& date);
QDate DateOfDay(int dayNumber);

// Index of the first schedule with this name (case-insensitive), or -1.
int FindSchedule(const TSchedules& schedules, const QString& name);

// Sets Active of every schedule: true when its name equals one of the
// scheduled-task names, of which only the text after "Schedule-" counts
// when they contain it.
void UpdateActive(TSchedules& schedules, const QStringList& taskNames);

// The settings file Marvick.ini as far as the schedules are concerned.
struct TMarvickSettings {
    int Top = 0;
    int Left = 0;
    QString JobDir;
    TSchedules Schedules;
};

// Reads the settings file; missing values take the given defaults (Top,
// Left, JobDir of the window) and those of TSchedTask. [Config] "Count" is
// taken as 0 .. kMaxSchedules; a missing section gives a schedule of
// defaults named after the section. A missing file gives an empty list.
// Raises EIniReadError when the file exists but cannot be read.
TMarvickSettings LoadSchedules(const QString& iniName, const TMarvickSettings& defaults);

// Writes the whole file anew: [Unicode] Program and Version, [Config] and
// at most kMaxSchedules schedule sections. Raises EIniWriteError (the old
// file stays as it was).
void SaveSchedules(const QString& iniName, const TMarvickSettings& settings, const QString& programName,
    const QString& programVersion);

// Writes "NextCycle", "LastFull" and "LastDay" of one schedule section and
// leaves everything else of the file as it was. The caller holds the
// settings lock from reading the state to storing it. Raises EIniReadError
// or EIniWriteError.
void StoreRunState(const QString& iniName, int index, const TSchedTask& schedule);

// How long a run waits for another to release the settings lock.
inline constexpr int kSettingsLockWaitMs = 10000;

// The lock of a settings file: "<file>.lock" beside it, held by whoever
// reads, changes and writes back the file, so that no one writes back an
// older copy of what another has just stored. A lock whose process has
// gone is taken over at once; its age says nothing (clocks may jump). The
// lock is held from construction, when it could be had within waitMs,
// until destruction or Release.
class TSettingsLock {
public:
    explicit TSettingsLock(const QString& iniName, int waitMs = kSettingsLockWaitMs);
    ~TSettingsLock();
    TSettingsLock(const TSettingsLock&) = delete;
    TSettingsLock& operator=(const TSettingsLock&) = delete;

    bool Held() const { return FHeld; }
    void Release();

private:
    std::unique_ptr<QLockFile> FLock;
    bool FHeld = false;
};

// Keeps a window inside the work area of a single monitor: a window whose
// right (bottom) edge lies beyond the area is moved to end margin pixels
// before it; one whose left (top) edge then is at or before the area's
// edge is moved to margin pixels after that edge. Returns the top-left.
QPoint KeepInsideWorkArea(const QRect& window, const QRect& workArea, int margin);

} // namespace kes
