#include "platform/SysLog.h"

#include "platform/FileName.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

namespace kes::platform {

namespace {

class TSocketGuard {
public:
    explicit TSocketGuard(int fd)
        : FFd(fd)
    {
    }
    ~TSocketGuard()
    {
        if (FFd >= 0)
            ::close(FFd);
    }
    TSocketGuard(const TSocketGuard&) = delete;
    TSocketGuard& operator=(const TSocketGuard&) = delete;
    int fd() const { return FFd; }

private:
    int FFd;
};

int SendStream(const sockaddr_un& addr, const QByteArray& record)
{
    TSocketGuard s(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (s.fd() < 0)
        return errno;
    const timeval limit {1, 0};
    ::setsockopt(s.fd(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    if (::connect(s.fd(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0)
        return errno;
    // A stream carries many records: each one ends with a NUL byte.
    const QByteArray framed = record + '\0';
    qsizetype sent = 0;
    while (sent < framed.size()) {
        const ssize_t n
            = ::send(s.fd(), framed.constData() + sent, size_t(framed.size() - sent), MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        sent += n;
    }
    return 0;
}

} // namespace

QString DefaultSysLogSocket()
{
    const char* env = std::getenv("KES_SYSLOG_SOCKET");
    if (env && *env)
        return DecodeName(env, qsizetype(std::strlen(env)));
    return QStringLiteral("/dev/log");
}

int WriteSysLog(const QString& socketPath, const QString& identity, SysLogSeverity severity,
    const QString& message, int facility)
{
    const QByteArray path = EncodeName(socketPath);
    sockaddr_un addr {};
    addr.sun_family = AF_UNIX;
    if (path.isEmpty())
        return ENOENT;
    if (path.size() >= qsizetype(sizeof addr.sun_path) || path.contains('\0'))
        return ENAMETOOLONG;
    std::memcpy(addr.sun_path, path.constData(), size_t(path.size()));

    const QByteArray record = FormatSysLogRecord(
        identity, severity, message, QDateTime::currentDateTime(), qint64(::getpid()), facility);

    TSocketGuard s(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (s.fd() < 0)
        return errno;
    for (;;) {
        // Never wait for a stalled log daemon: a full queue drops the record.
        const ssize_t n = ::sendto(s.fd(), record.constData(), size_t(record.size()),
            MSG_NOSIGNAL | MSG_DONTWAIT, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
        if (n >= 0)
            return 0;
        if (errno == EINTR)
            continue;
        if (errno == EPROTOTYPE)
            return SendStream(addr, record);
        return errno;
    }
}

} // namespace kes::platform
