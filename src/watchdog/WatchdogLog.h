// TWatchdogLog: Selwand's daily log file.
//
// The file is LogDir + "Selwand yyyy-mm-dd.log" (the day it is opened),
// UTF-8, begun with the byte order mark EF BB BF when it is created, and
// appended to afterwards. Every message becomes one or more lines ended by
// CR LF: line breaks inside a message (CR LF, a lone LF or a lone CR, as in
// a file name with a newline) all become CR LF, and bytes of file names
// that are not valid UTF-8 are written as U+FFFD, so the file stays valid
// UTF-8 text.
//
// The owner opens it at the start of a backup pass and closes it when the
// pass's threads are done; the day comes from the caller (the owner's
// clock). Writing never throws: a failing write returns false and is told
// once per opening through OnWriteError, so a full disk neither stops a
// pass nor floods the window log.
#pragma once

#include <QDate>
#include <QFile>
#include <QString>
#include <functional>
#include <memory>

namespace kes {

class TWatchdogLog {
public:
    explicit TWatchdogLog(const QString& LogDir = QString());
    ~TWatchdogLog();
    TWatchdogLog(const TWatchdogLog&) = delete;
    TWatchdogLog& operator=(const TWatchdogLog&) = delete;

    // The log folder: ProtDir (from the main program's settings) when it is
    // set and exists, else the settings directory.
    static QString ChooseLogDir(const QString& ProtDir, const QString& SettingsDir);

    QString LogDir() const { return FLogDir; }
    void SetLogDir(const QString& Dir) { FLogDir = Dir; }

    // LogDir + "Selwand " + the day as yyyy-mm-dd + ".log".
    QString FileNameFor(const QDate& Day) const;

    // Opens the file of Day for appending, creating it with the byte order
    // mark when it does not exist. Returns WLog. A file already open for
    // the same day stays open; one of another day is closed first. A file
    // that cannot be created or opened leaves WLog false (LastError says
    // why); a file whose byte order mark could not be written is removed
    // again, so that it never lacks it.
    bool Open(const QDate& Day);
    void Close();
    // The file is open for appending.
    bool WLog() const { return FFile != nullptr; }
    QString FileName() const;
    QString LastError() const { return FLastError; }

    // Writes Text as one line (several when it holds line breaks). Returns
    // false when the file is not open or the write failed.
    bool Write(const QString& Text);

    // Told the first failing write after each Open (a translated message).
    void SetOnWriteError(std::function<void(const QString& Message)> Sink)
    {
        FOnWriteError = std::move(Sink);
    }

    // The bytes Write puts into the file for Text.
    static QByteArray EncodeLine(const QString& Text);

private:
    QString FLogDir;
    std::unique_ptr<QFile> FFile;
    QDate FDay;
    QString FLastError;
    bool FWriteErrorTold = false;
    std::function<void(const QString&)> FOnWriteError;
};

} // namespace kes
