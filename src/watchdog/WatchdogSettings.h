// Selwand's settings: its own file Selwand.ini (window place, interval,
// the monitor tasks with their pending files), what it takes from the main
// program's Kesmo.ini, its start switches, and the model of the interval
// editor.
//
// Selwand.ini (UTF-16LE, see TUnicodeIniFile):
//   [Config]     Top, Left, Height, Width, JobDir, Interval, SysTray,
//                WriteLog, Count
//   [MonitorNN]  NN = 00..24: BackupTask, Directory, RetainBak, Enabled,
//                Count, File000, File001 ... (pending files, sorted)
// A section "Global" is erased on every save.
//
// Pending names are untrusted when they are read: a name that is absolute
// or has a "." or ".." step is dropped with a log line, so a backup never
// reads outside its monitored directory. INI values are trimmed and end at
// a line break, so a name with blanks at either end, a line break, or a
// leading double quote is stored in double quotes, with "\\", "\r" and
// "\n" inside them standing for a backslash, CR and LF.
#pragma once

#include "watchdog/TaskFile.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

namespace kes {

class TMonTask;

inline constexpr int kMaxMonitorTasks = 25;
inline constexpr int kDesignHeight = 590;
inline constexpr int kDesignWidth = 736;
inline constexpr int kDefaultInterval = 1800;
inline constexpr int kMaxRetainBak = 9;

// [Config] of Selwand.ini.
struct TWatchdogConfig {
    int Top = -1; // window position; -1: where the desktop places it
    int Left = -1;
    int Height = kDesignHeight; // client size; a height below 590 is raised
    int Width = kDesignWidth;
    QString JobDir; // start folder for choosing task files
    int Interval = kDefaultInterval; // seconds; -1 periodic backups off
    bool SysTray = false; // "Keep running in background"
    bool WriteLog = false; // "Write log to file"
};

struct TWatchdogSettings {
    TWatchdogConfig Config;
    std::vector<std::unique_ptr<TMonTask>> Tasks;
    int FileCount = 0; // pending files over all tasks
};

// Reads Selwand.ini; missing keys take the values of defaults. At most 25
// monitor sections are read; one whose task file is not named or does not
// exist is skipped (the following tasks close up). A file that cannot be
// read gives the defaults and a log line.
TWatchdogSettings LoadWatchdogSettings(
    const QString& iniName, const TWatchdogConfig& defaults, const TLogSink& addLog);

// What a save writes, copied from the tasks in the main thread, so that the
// file can be written on another thread while the tasks change.
struct TTaskSnapshot {
    QString BuTask;
    QString Dir;
    int RetainBak = 0;
    bool Enabled = false; // mtEnabled (an invalid task is saved disabled)
    QStringList Pending; // sorted: the pending files and those in flight
    QDateTime CheckedUntil;
    QString DestMount;
};
struct TWatchdogSnapshot {
    TWatchdogConfig Config;
    int Count = 0; // the number of tasks ([Config] Count), also beyond 25
    std::vector<TTaskSnapshot> Tasks; // the first 25
    QString Program;
    QString Version;
};
TWatchdogSnapshot SnapshotWatchdogSettings(const TWatchdogConfig& config,
    const std::vector<std::unique_ptr<TMonTask>>& tasks, const QString& program, const QString& version);
// Writes a snapshot as SaveWatchdogSettings does; touches nothing but the
// file, so it may run on any thread.
void WriteWatchdogSettings(const QString& iniName, const TWatchdogSnapshot& snapshot);

// Writes Selwand.ini, keeping what else it holds: erases "Global", writes
// [Unicode] Program and Version, [Config] (Count = the number of tasks) and
// the first 25 tasks as Monitor00..Monitor24. An mtInvalid task is written
// with Enabled=0. Raises EIniWriteError; the old file then stays as it was.
void SaveWatchdogSettings(const QString& iniName, const TWatchdogConfig& config,
    const std::vector<std::unique_ptr<TMonTask>>& tasks, const QString& program, const QString& version);

// The stored form of a pending name and back (see above).
QString EncodePendingName(const QString& name);
QString DecodePendingName(const QString& value);
// A name that stays inside the directory it is relative to: not empty, not
// absolute, no "." or ".." step, no NUL character.
bool IsSafeRelativeName(const QString& name);
// A file name as log lines show it: control characters written as "\n",
// "\r", "\t" or "\xHH", so that a name cannot break a log line apart.
QString PrintableName(const QString& name);

// What Selwand takes from Kesmo.ini.
struct TKesmoDefaults {
    QString DriveId; // drive-directory template
    QString NoCompress; // uncompressed file types, comma-separated
    QString ProtDir; // folder of the log files
};

// The built-in uncompressed file types.
QString BuiltinNoCompress();
// "Lw?" for German, else "Drv?".
QString DefaultDriveId(const QString& languageCode);
// The sorted, duplicate-free (without regard to case) comma-separated union
// of extra and the built-in list.
QString MergeNoCompress(const QString& extra);
// Reads Kesmo.ini when it exists. Without it DriveId is the language's
// default and NoCompress stays empty. A file that cannot be read is logged
// and counts as missing.
TKesmoDefaults ReadKesmoSettings(
    const QString& kesmoIni, const QString& languageCode, const TLogSink& addLog);

// Selwand's own switches: every argument beginning with "/" or "-" selects
// the first of "hide", "dark", "force" that it matches (abbreviations
// allowed, a bare "/" selects hide); anything else is ignored here.
struct TSelwandOptions {
    bool Hide = false; // "Keep running in background"
    bool Dark = false; // dark display style
    bool Force = false; // start monitoring at once
};
TSelwandOptions ParseSelwandOptions(const QStringList& arguments);

// The interval editor: "Enable periodic backups", a unit and a value with
// its range and step.
enum TIntervalUnit { iuSeconds, iuMinutes, iuHours };

class TIntervalEditor {
public:
    // From BuInterval: below 1 periodic backups are off and the editor shows
    // 10 minutes. Otherwise a value above 7199 is cut to whole hours, one
    // above 299 to whole minutes, and the largest unit that divides it is
    // shown.
    void Load(int buInterval);
    // The unit chosen by the user: seconds 5..295 (30, step 5), minutes
    // 1..360 (10), hours 1..12 (1).
    void SetUnit(TIntervalUnit unit);
    // Clamped to the range.
    void SetValue(int value);
    void SetPeriodic(bool on) { FPeriodic = on; }
    // The seconds range (5..295, value 30, step 5) without changing the unit
    // (what the window does when no task is shown).
    void SetSecondsRange();

    // -1 when periodic backups are off, else the value in seconds.
    int GetIntervalSeconds() const;

    bool Periodic() const { return FPeriodic; }
    TIntervalUnit Unit() const { return FUnit; }
    int Value() const { return FValue; }
    int Min() const { return FMin; }
    int Max() const { return FMax; }
    int Step() const { return FStep; }
    // "Number of " + the unit's text.
    QString Hint() const;
    static QString UnitText(TIntervalUnit unit);

private:
    void SetRange(int min, int max, int step);

    bool FPeriodic = false;
    TIntervalUnit FUnit = iuMinutes;
    int FValue = 10;
    int FMin = 1;
    int FMax = 360;
    int FStep = 1;
};

} // namespace kes
