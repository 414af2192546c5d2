// TUnicodeIniFile: an in-memory INI file, read completely on creation and
// written back completely by UpdateFile.
//
// Reading: a byte-order mark decides the encoding (UTF-16LE, UTF-16BE,
// UTF-8); without one, valid UTF-8 is read as UTF-8 and anything else as
// Windows-1252. Writing: always UTF-16LE with the BOM FF FE, CR LF lines.
// The file is written to a temporary file in the same folder, synced to the
// disk and renamed over the old one, so a crash or a full disk never leaves
// it half-written or empty (platform/SettingsFile.h). A new file is made
// for its owner only (it holds file names); an existing one keeps its mode.
//
// Only regular files are read: a FIFO, device or socket is refused without
// waiting, and so is a file beyond 64 MiB (nothing larger is written).
//
// Lines are trimmed; empty lines and lines beginning with ";" are skipped;
// "[name]" opens a section; "key=value" is an entry (key and value
// trimmed, the value may contain "="); other lines inside a section are
// kept as they are and written back unchanged (ReadSection does not list
// them). Section and key names compare without regard to case; of several
// entries with one key, reading finds the first.
#pragma once

#include <QString>
#include <QStringList>
#include <memory>
#include <stdexcept>

namespace kes {

// The largest settings or task file read or written (64 MiB): a schedule
// list is a few KiB, a pending list of 100,000 names about 15 MiB, and a
// file takes several times its size in memory once parsed.
inline constexpr qint64 kMaxIniFileSize = 64LL * 1024 * 1024;

// Raised when the file exists but cannot be read (no permission, a folder,
// not a regular file, too large). Its message names the file and the system's reason.
class EIniReadError : public std::runtime_error {
public:
    explicit EIniReadError(const QString& message);
    QString Message() const { return QString::fromUtf8(what()); }
};

// Raised by UpdateFile when the file cannot be written; the message is
// "Error writing to \"%s\"" (translated) with the file name, and the
// system's error code (ENOSPC for a full disk). The old file is left as it
// was.
class EIniWriteError : public std::runtime_error {
public:
    EIniWriteError(const QString& message, int errorCode);
    QString Message() const { return QString::fromUtf8(what()); }
    int ErrorCode() const { return FErrorCode; }

private:
    int FErrorCode;
};

class TUnicodeIniFile {
public:
    // A missing file gives an empty object. Raise EIniReadError when the
    // file exists but cannot be read.
    static std::unique_ptr<TUnicodeIniFile> CreateForRead(const QString& fileName);
    static std::unique_ptr<TUnicodeIniFile> CreateForWrite(const QString& fileName, bool clearEntries);

    // A writable object whose changes were not yet written by UpdateFile
    // writes them here, ignoring errors (unless the object is destroyed by
    // an exception that passes through its owner's scope). Callers that must
    // report write errors call UpdateFile first.
    ~TUnicodeIniFile();
    TUnicodeIniFile(const TUnicodeIniFile&) = delete;
    TUnicodeIniFile& operator=(const TUnicodeIniFile&) = delete;

    // Writes the whole file (writable objects only; a read-only object does
    // nothing). Raises EIniWriteError.
    void UpdateFile();

    QString FileName() const;
    bool ReadOnly() const;

    QString ReadString(const QString& section, const QString& key, const QString& defaultValue) const;
    void WriteString(const QString& section, const QString& key, const QString& value);
    // Decimal, or hexadecimal after "$" or "0x"/"0X" (longer than 2
    // characters); the default on any conversion failure.
    int ReadInteger(const QString& section, const QString& key, int defaultValue) const;
    void WriteInteger(const QString& section, const QString& key, int value);
    qint64 ReadInt64(const QString& section, const QString& key, qint64 defaultValue) const;
    void WriteInt64(const QString& section, const QString& key, qint64 value);
    bool ReadBool(const QString& section, const QString& key, bool defaultValue) const;
    void WriteBool(const QString& section, const QString& key, bool value);

    bool SectionExists(const QString& section) const;
    bool ValueExists(const QString& section, const QString& key) const;
    QStringList ReadSection(const QString& section) const; // keys in file order
    QStringList ReadSections() const; // section names in file order
    void EraseSection(const QString& section);
    void EraseSectionValues(const QString& section); // keeps the bare header
    void DeleteKey(const QString& section, const QString& key);

    // [Unicode] key = value ("Program", "Version").
    void WriteProgramInfo(const QString& key, const QString& value);

private:
    struct Data;
    TUnicodeIniFile(const QString& fileName, bool readOnly);
    std::unique_ptr<Data> FData;
};

// Opens a file as a plain INI file (never written), reads one Boolean.
bool ReadIniBool(const QString& fileName, const QString& section, const QString& key, bool defaultValue);

} // namespace kes
