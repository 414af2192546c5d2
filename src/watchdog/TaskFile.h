// Reading backup task files (*.buj, INI text written by the main backup
// program) for monitor tasks: the check whether Selwand can carry a task
// out, the settings a monitor task takes from it, destinations with volume
// labels and placeholders, and drive directories.
//
// Linux: a path has no drive part, so both layouts put a copy at the
// destination + the source path without its leading "/"; DriveDirName
// keeps the Windows rules as a pure function for task files written on
// Windows. A volume-label destination ":LABEL:/rest" (also ":LABEL:\rest")
// stands for the mount point of the mounted file system labelled LABEL.
// Sub-directory entries "sub\dir" are read as "sub/dir".
#pragma once

#include "platform/Volumes.h"

#include <QList>
#include <QString>
#include <functional>

namespace kes {

class TUnicodeIniFile;
class TMonTask;

// Selwand's own defaults for task files that name none.
struct TTaskDefaults {
    QString DriveId; // drive-directory template, e.g. "Drv?"
    QString NoCompress; // comma-separated types copied without compression
};

// Receives every message of the reader (Selwand's AddLog).
using TLogSink = std::function<void(const QString&)>;

// A usable source directory of a task file and its section number NNN.
struct TTaskSource {
    QString Dir;
    int Index = 0;
};

// 0 usable, 1 settings Selwand cannot carry out, 2 file not found, 3 file
// unreadable. With sourceList (emptied first) the usable source
// directories are listed, and a task file without any (DirCount 0) is
// refused.
// NNN of the numbered keys and sections (Dir000, SubDir000, File000):
// three digits, more without leading zeros beyond 999.
QString Nnn(qint64 index);
// name = prefix + NNN as written above, with NNN below count.
bool ParseIndexedName(const QString& name, QStringView prefix, int count, int& index);

int CheckTaskFile(const QString& fileName, QList<TTaskSource>* sourceList = nullptr);

// Loads the monitor task's settings from its BuTask for its Dir. 0, or 2
// (then MonStatus becomes mtInvalid and the reason goes to addLog).
int ReadTaskSettings(TMonTask& task, const TTaskDefaults& defaults, const TLogSink& addLog);

// The destination holds a placeholder other than "%hour%".
bool HasPlaceholder(const TUnicodeIniFile& taskFile);
bool DestinationHasPlaceholder(const QString& destination);

// The message for a task file that CheckTaskFile refused with 1.
QString InvalidTaskText(const QString& fileName);
// "Separate directories for drives", "Full original directory structure"
// or "Invalid task configuration".
QString LayoutText(int destMode);

// Windows rules: "\\server\share" -> "server\share\", "x:" -> the template
// with "?" replaced by the upper-case letter (or the letter appended),
// anything else unchanged; a trailing "\" is added.
QString DriveDirName(const QString& driveId, const QString& drive);

// dest with a trailing delimiter: "\" when it is written with backslashes
// only (a Windows path), else "/"; an empty destination stays empty.
QString IncludeTrailingDelimiter(const QString& dest);

// Label of a volume-label destination (":LABEL:\rest", "::" inside the
// label for one colon); true when it is not empty.
bool GetVolumeLabelPart(const QString& dest, QString& label);

// Mount point (with "/") of the mounted volume labelled label, or empty.
QString FindDriveByLabel(
    const QString& label, const platform::TVolumeSources& sources = platform::TVolumeSources::System());

// 0 dest is no volume-label form (unchanged); 1 resolved (dest := mount
// point + rest, label := the label); 2 dest is empty or the volume is not
// mounted.
int ResolveVolumeName(QString& dest, QString& label,
    const platform::TVolumeSources& sources = platform::TVolumeSources::System());

} // namespace kes
