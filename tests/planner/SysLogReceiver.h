// A syslog socket of our own: an AF_UNIX datagram socket bound in a test
// folder, from which a test reads every record sent to it.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace kestest {

class SysLogReceiver {
public:
    // A datagram socket, or with stream a listening stream socket whose
    // first connection NextFromStream reads.
    explicit SysLogReceiver(const QString& path, bool stream = false)
        : m_path(path)
    {
        m_fd = ::socket(AF_UNIX, (stream ? SOCK_STREAM : SOCK_DGRAM) | SOCK_CLOEXEC, 0);
        sockaddr_un addr {};
        addr.sun_family = AF_UNIX;
        const QByteArray p = path.toUtf8();
        if (m_fd < 0 || p.size() >= qsizetype(sizeof addr.sun_path))
            return;
        std::memcpy(addr.sun_path, p.constData(), size_t(p.size()));
        m_bound = ::bind(m_fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0
            && (!stream || ::listen(m_fd, 4) == 0);
    }
    ~SysLogReceiver()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        ::unlink(m_path.toUtf8().constData());
    }
    SysLogReceiver(const SysLogReceiver&) = delete;
    SysLogReceiver& operator=(const SysLogReceiver&) = delete;

    bool IsBound() const { return m_bound; }
    // Stops listening but leaves the socket file, as a log daemon that died.
    void Close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }
    QString Path() const { return m_path; }

    // The next record, waiting at most timeoutMs; empty when none came.
    QByteArray Next(int timeoutMs = 10000)
    {
        pollfd p {m_fd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0)
            return {};
        QByteArray buf(65536, '\0');
        const ssize_t n = ::recv(m_fd, buf.data(), size_t(buf.size()), 0);
        if (n < 0)
            return {};
        buf.truncate(n);
        return buf;
    }

    // Stream socket: accepts one connection and reads it up to and
    // including the first NUL byte (or until the writer closes it).
    QByteArray NextFromStream(int timeoutMs = 10000)
    {
        pollfd p {m_fd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0)
            return {};
        const int conn = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (conn < 0)
            return {};
        QByteArray out;
        char buf[4096];
        for (;;) {
            pollfd c {conn, POLLIN, 0};
            if (::poll(&c, 1, timeoutMs) <= 0)
                break;
            const ssize_t n = ::recv(conn, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            out.append(buf, n);
            if (out.contains('\0'))
                break;
        }
        ::close(conn);
        return out;
    }

    // Every record that has already arrived.
    QList<QByteArray> Pending()
    {
        QList<QByteArray> out;
        for (QByteArray r = Next(0); !r.isEmpty(); r = Next(0))
            out.append(r);
        return out;
    }

private:
    QString m_path;
    int m_fd = -1;
    bool m_bound = false;
};

} // namespace kestest
