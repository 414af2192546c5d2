// Fast walks over a directory tree.
//
// ListChangedFiles finds the files below a directory that changed since a
// moment; the monitoring uses it to catch up after change notifications
// were dropped. The walk reads directories relative to open directory
// handles (no path is resolved twice) and never follows symbolic links.
#pragma once

#include <QString>
#include <QStringList>
#include <atomic>

namespace kes::platform {

struct ScanResult {
    int Error = 0; // errno why the directory itself could not be read, else 0
    int Unreadable = 0; // sub-directories that could not be read
    int FirstUnreadableError = 0;
    QString FirstUnreadable; // relative name of the first of them
};

// Appends to names the regular files and symbolic links below directory
// (names relative to it, "/" separated) whose modification or status-change
// time is at or after sinceMsecs (milliseconds since the epoch, UTC). The
// status-change time counts too, so files moved or copied in with an old
// modification time are found. Stops early when cancel becomes true.
ScanResult ListChangedFiles(const QString& directory, qint64 sinceMsecs, QStringList& names,
    const std::atomic<bool>* cancel = nullptr);

} // namespace kes::platform
