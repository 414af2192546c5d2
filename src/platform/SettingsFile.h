// Settings files on disk (and every other file of ours that is written
// whole: task definitions, units, desktop entries): reading one whole without ever blocking on
// something that is not a file, and replacing one so that it is either the
// old or the new content, never a mix or nothing.
//
// Reading opens only regular files. A FIFO, a device, a socket or a folder
// named as a settings file is refused before it is opened, and the open
// itself does not block (O_NONBLOCK, then fstat, then the flag cleared), so
// a name swapped in between is refused as well. A file beyond the caller's
// size limit is refused without being read.
//
// Replacing writes a temporary file in the same folder, checks every
// write, flushes it to the disk (fsync), renames it over the old file and
// syncs the folder. On any failure the temporary file is removed and the
// old file is untouched. A new file is created for its owner only (0600,
// unless the caller names other permission bits);
// an existing file keeps its mode and owner (the mode is narrowed to the
// owner when the owner or group cannot be kept, never widened). A symbolic
// link is followed: the file it names is replaced and the link stays.
#pragma once

#include <QByteArray>
#include <QString>

namespace kes::platform {

enum class TSettingsReadResult {
    srOk, // Bytes holds the whole file
    srMissing, // no such file (also a link that leads nowhere)
    srFolder, // a folder
    srNotRegular, // a FIFO, device or socket: never opened or read
    srTooLarge, // larger than the limit: not read
    srFailed, // any other error; Error holds the system's code
};

struct TSettingsRead {
    TSettingsReadResult Result = TSettingsReadResult::srFailed;
    int Error = 0; // system error code (errno) when Result is srFailed
    QByteArray Bytes;
};

// Reads a whole regular file of at most maxBytes bytes.
TSettingsRead ReadSettingsFile(const QString& name, qint64 maxBytes);

// Replaces the content of the file as described above. Returns 0 or the
// system error code (ENOSPC for a full disk, EACCES for a file nobody may
// write, EISDIR for a folder, EINVAL for something that is not a regular
// file, ENOENT for a missing folder).
int ReplaceSettingsFile(const QString& name, const QByteArray& bytes, unsigned newFileMode = 0600);

} // namespace kes::platform
