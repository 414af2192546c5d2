// "Save as zip" of the log viewer: the shown log file as a zip archive of
// one compressed entry, next to it or where the user chose.
#pragma once

#include <QString>

namespace kes {

// The archive proposed for a log: beside it, with ".zip" for its
// extension ("Selwand-2026-12-10.log" -> "Selwand-2026-12-10.zip").
QString DefaultLogZipName(const QString& logFile);

// Writes the archive under a temporary name beside zipName and puts it in
// place only once it is complete and verified, so an archive already there
// survives a failure. False with the message when it fails.
bool SaveLogAsZip(const QString& logFile, const QString& zipName, QString& message);

} // namespace kes
