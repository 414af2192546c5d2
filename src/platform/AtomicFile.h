// Files that are written whole or not at all, and the small folder
// services the task store needs.
//
// Every call returns the system's error code (errno on POSIX), 0 for
// success, and never raises.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace kes::platform {

// Writes data to a new file in the target's folder (created with the given
// permissions, before umask), forces it to the device, renames it over the
// target and forces the folder entry. On failure the target is unchanged
// and no temporary file is left behind.
int WriteFileAtomically(const QString& path, const QByteArray& data, unsigned permissions = 0600);

// Reads a whole file of at most maxSize bytes (EFBIG when larger).
int ReadWholeFile(const QString& path, QByteArray& data, qint64 maxSize);

// Removes a file; a file that is not there counts as removed.
int RemoveFileIfPresent(const QString& path);

// Creates a folder with its missing parents (new folders get the given
// permissions, before umask); an existing folder is fine.
int MakeDirectories(const QString& path, unsigned permissions = 0700);

// The names of the entries of a folder, "." and ".." left out.
int ListFolderNames(const QString& path, QStringList& names);

// Modification time of a file in milliseconds since 1970 (UTC).
int FileModificationMSecs(const QString& path, qint64& msecs);

} // namespace kes::platform
