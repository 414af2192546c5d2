// The system log: one message per call, sent to the local syslog socket.
//
// Records follow RFC 3164 as the C library writes them to a local socket:
//   "<PRI>Mmm dd hh:mm:ss IDENTITY[PID]: MESSAGE"
// with PRI = facility * 8 + severity and the local time. The socket is an
// AF_UNIX datagram socket ("/dev/log" by default); a stream socket at that
// path is served too (each record ends with a NUL byte, as the C library
// does). Nothing is buffered or retried: when no system log listens, the
// record is dropped and the caller learns why from the result.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace kes::platform {

enum class SysLogSeverity : int {
    Emergency = 0,
    Alert = 1,
    Critical = 2,
    Error = 3,
    Warning = 4,
    Notice = 5,
    Informational = 6,
    Debug = 7,
};

inline constexpr int kSysLogFacilityUser = 1;
// Longest record sent; longer messages are cut at a character boundary.
inline constexpr qsizetype kSysLogMaxRecord = 8192;

// The socket of the system log: the environment variable KES_SYSLOG_SOCKET
// when it is set (a system whose log listens elsewhere, or a test that
// reads what was sent), else "/dev/log".
QString DefaultSysLogSocket();

// One record for the given local time and process id. Control characters
// in the message become blanks, so one call is always one log line; the
// identity keeps only printable ASCII without blanks, ":" and brackets.
QByteArray FormatSysLogRecord(const QString& identity, SysLogSeverity severity, const QString& message,
    const QDateTime& localTime, qint64 pid, int facility = kSysLogFacilityUser);

// Sends one record (current time, this process) to the socket. Returns 0,
// or the errno value of the failure: ENOENT / ECONNREFUSED when no system
// log listens there, ENAMETOOLONG for a socket path that does not fit.
int WriteSysLog(const QString& socketPath, const QString& identity, SysLogSeverity severity,
    const QString& message, int facility = kSysLogFacilityUser);

} // namespace kes::platform
