#include "platform/Volumes.h"

#include "platform/FileName.h"

#include <QDir>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace kes::platform {

namespace {

// Text files of the kernel and of the system are small; a larger one is
// not what we expect and is not read at all.
constexpr qsizetype kMaxTableSize = 16 * 1024 * 1024;

bool ReadSmallFile(const QString& path, QByteArray& out)
{
    out.clear();
    const int fd = ::open(EncodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        out.append(buf, qsizetype(n));
        if (out.size() > kMaxTableSize) {
            ::close(fd);
            out.clear();
            return false;
        }
    }
    ::close(fd);
    return true;
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// "\ooo" (three octal digits) as used by mountinfo and fstab.
QString DecodeOctal(const QByteArray& field)
{
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        const char c = field[i];
        if (c == '\\' && i + 3 < field.size() && field[i + 1] >= '0' && field[i + 1] <= '3'
            && field[i + 2] >= '0' && field[i + 2] <= '7' && field[i + 3] >= '0' && field[i + 3] <= '7') {
            out.append(
                char(((field[i + 1] - '0') << 6) | ((field[i + 2] - '0') << 3) | (field[i + 3] - '0')));
            i += 3;
        } else {
            out.append(c);
        }
    }
    return DecodeName(out);
}

QList<QByteArray> SplitFields(const QByteArray& line)
{
    QList<QByteArray> fields;
    qsizetype i = 0;
    const qsizetype n = line.size();
    while (i < n) {
        while (i < n && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        const qsizetype start = i;
        while (i < n && line[i] != ' ' && line[i] != '\t')
            ++i;
        if (i > start)
            fields.append(line.mid(start, i - start));
    }
    return fields;
}

QString RealPathOr(const QString& path)
{
    char buf[PATH_MAX];
    if (::realpath(EncodeName(path).constData(), buf))
        return DecodeName(QByteArray(buf));
    return path;
}

// The target of a symlink, made absolute against the link's folder and
// cleaned lexically; empty when path is no symlink.
QString ResolveLink(const QString& path)
{
    char buf[PATH_MAX];
    const ssize_t n = ::readlink(EncodeName(path).constData(), buf, sizeof buf - 1);
    if (n <= 0)
        return QString();
    QString target = DecodeName(buf, qsizetype(n));
    if (!target.startsWith(u'/')) {
        const qsizetype slash = path.lastIndexOf(u'/');
        target = path.left(slash + 1) + target;
    }
    return QDir::cleanPath(target);
}

// A device path in the "/dev/..." namespace, whatever folder the sources
// use for /dev.
QString DevicePathKey(QString path, const QString& devDir)
{
    path = RealPathOr(path);
    const QString dev = QDir::cleanPath(devDir);
    if (dev != QStringLiteral("/dev") && path.startsWith(dev + u'/'))
        path = QStringLiteral("/dev") + path.mid(dev.size());
    return path;
}

struct TLabelDevice {
    QString Label;
    QString Device; // "/dev/..." key
    bool HasNumber = false;
    quint32 Major = 0, Minor = 0;
};

QList<TLabelDevice> ReadLabels(const TVolumeSources& sources)
{
    QList<TLabelDevice> labels;
    const QByteArray dirName = EncodeName(sources.ByLabelDir);
    DIR* dir = ::opendir(dirName.constData());
    if (!dir)
        return labels;
    while (const dirent* e = ::readdir(dir)) {
        const QByteArray raw(e->d_name);
        if (raw == "." || raw == "..")
            continue;
        TLabelDevice d;
        d.Label = DecodeLabelName(raw).trimmed(); // as labels are compared: without surrounding blanks
        const QString link = sources.ByLabelDir + u'/' + DecodeName(raw);
        QString target = ResolveLink(link);
        if (target.isEmpty())
            target = link;
        d.Device = DevicePathKey(target, sources.DevDir);
        struct stat st;
        if (::stat(EncodeName(link).constData(), &st) == 0 && S_ISBLK(st.st_mode)) {
            d.HasNumber = true;
            d.Major = major(st.st_rdev);
            d.Minor = minor(st.st_rdev);
        }
        labels.append(d);
    }
    ::closedir(dir);
    return labels;
}

bool IsBelowOrEqual(const QString& path, const QString& dir)
{
    if (dir == QStringLiteral("/"))
        return true;
    return path == dir || (path.startsWith(dir) && path.size() > dir.size() && path[dir.size()] == u'/');
}

bool IsNetworkMount(const TMountEntry& m)
{
    static const char* const kNetworkTypes[] = {
        "nfs",
        "nfs4",
        "cifs",
        "smb3",
        "smbfs",
        "smb",
        "9p",
        "afs",
        "ceph",
        "glusterfs",
        "sshfs",
        "davfs",
        "ncpfs",
        "coda",
        "lustre",
        "beegfs",
        "orangefs",
        "pvfs2",
    };
    static const char* const kFuseNetwork[] = {
        "sshfs",
        "rclone",
        "s3fs",
        "gcsfuse",
        "davfs2",
        "davfs",
        "curlftpfs",
        "glusterfs",
        "ceph-fuse",
        "ceph",
        "juicefs",
        "goofys",
        "blobfuse",
        "blobfuse2",
        "smbnetfs",
        "ftpfs",
        "webdavfs",
    };
    const QString type = m.FsType.toLower();
    for (const char* t : kNetworkTypes) {
        if (type == QLatin1String(t))
            return true;
    }
    if (type == QStringLiteral("fuse") || type.startsWith(QStringLiteral("fuse."))) {
        const QString sub = type.mid(5);
        for (const char* t : kFuseNetwork) {
            if (sub == QLatin1String(t))
                return true;
        }
        // Other FUSE mounts whose source names a remote place:
        // "user@host:/path", "//server/share", "scheme://...".
        const QString& s = m.Source;
        if (s.startsWith(QStringLiteral("//")) || s.contains(QStringLiteral("://")))
            return true;
        const qsizetype colon = s.indexOf(u':');
        if (colon > 0 && !s.left(colon).contains(u'/'))
            return true;
    }
    return false;
}

bool IsRemovableMount(const TMountEntry& m, const TVolumeSources& sources)
{
    QString device;
    if (m.Major != 0) {
        device = ResolveLink(sources.SysDir + QStringLiteral("/dev/block/%1:%2").arg(m.Major).arg(m.Minor));
        if (!device.isEmpty() && GetPathKind(device) != TPathKind::Directory)
            device.clear();
    }
    if (device.isEmpty() && m.Source.startsWith(QStringLiteral("/dev/"))) {
        const QString real = RealPathOr(m.Source);
        const QString name = real.mid(real.lastIndexOf(u'/') + 1);
        device = ResolveLink(sources.SysDir + QStringLiteral("/class/block/") + name);
        if (!device.isEmpty() && GetPathKind(device) != TPathKind::Directory)
            device.clear();
    }
    if (device.isEmpty())
        return false;
    if (device.contains(QStringLiteral("/usb")))
        return true;
    // A partition carries no flag of its own; the disk above it does.
    const QString flagFile = GetPathKind(device + QStringLiteral("/partition")) == TPathKind::Other
        ? device + QStringLiteral("/../removable")
        : device + QStringLiteral("/removable");
    QByteArray flag;
    return ReadSmallFile(QDir::cleanPath(flagFile), flag) && flag.trimmed() == "1";
}

// The mount that holds path: the longest mount point above it; of several
// mounts on one point the last one (mounted on top) wins.
const TMountEntry* MountOf(const QList<TMountEntry>& mounts, const QString& path)
{
    const TMountEntry* best = nullptr;
    for (const TMountEntry& m : mounts) {
        if (IsBelowOrEqual(path, m.MountPoint) && (!best || m.MountPoint.size() >= best->MountPoint.size()))
            best = &m;
    }
    return best;
}

} // namespace

TVolumeSources TVolumeSources::System()
{
    return {QStringLiteral("/proc/self/mountinfo"), QStringLiteral("/dev/disk/by-label"),
        QStringLiteral("/dev"), QStringLiteral("/etc/fstab"), QStringLiteral("/sys")};
}

QList<TMountEntry> ParseMountInfo(const QByteArray& text)
{
    // id parent major:minor root mount-point options [optional...] - type source super-options
    QList<TMountEntry> mounts;
    for (const QByteArray& line : text.split('\n')) {
        const QList<QByteArray> f = SplitFields(line);
        const qsizetype sep = f.indexOf(QByteArray("-"));
        if (sep < 6 || sep + 2 >= f.size())
            continue;
        TMountEntry m;
        const QList<QByteArray> dev = f[2].split(':');
        if (dev.size() != 2)
            continue;
        bool okMajor = false, okMinor = false;
        m.Major = dev[0].toUInt(&okMajor);
        m.Minor = dev[1].toUInt(&okMinor);
        if (!okMajor || !okMinor)
            continue;
        m.Root = DecodeOctal(f[3]);
        m.MountPoint = DecodeOctal(f[4]);
        if (!m.MountPoint.startsWith(u'/'))
            continue;
        m.FsType = DecodeOctal(f[sep + 1]);
        m.Source = DecodeOctal(f[sep + 2]);
        mounts.append(m);
    }
    return mounts;
}

QStringList ParseFstab(const QByteArray& text)
{
    QStringList points;
    for (const QByteArray& raw : text.split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const QList<QByteArray> f = SplitFields(line);
        if (f.size() < 3)
            continue;
        const QString point = DecodeOctal(f[1]);
        if (!point.startsWith(u'/') || f[2] == "swap")
            continue;
        points.append(QDir::cleanPath(point));
    }
    return points;
}

QString DecodeLabelName(const QByteArray& name)
{
    QByteArray out;
    out.reserve(name.size());
    for (qsizetype i = 0; i < name.size(); ++i) {
        if (name[i] == '\\' && i + 3 < name.size() && name[i + 1] == 'x') {
            const int hi = HexValue(name[i + 2]);
            const int lo = HexValue(name[i + 3]);
            if (hi >= 0 && lo >= 0) {
                out.append(char((hi << 4) | lo));
                i += 3;
                continue;
            }
        }
        out.append(name[i]);
    }
    return DecodeName(out);
}

QList<TMountEntry> ReadMountTable(const TVolumeSources& sources)
{
    QByteArray text;
    if (!ReadSmallFile(sources.MountInfo, text))
        return {};
    return ParseMountInfo(text);
}

QStringList ReadFstabMountPoints(const TVolumeSources& sources)
{
    QByteArray text;
    if (!ReadSmallFile(sources.Fstab, text))
        return {};
    return ParseFstab(text);
}

QString FindMountPointByLabel(const QString& label, const TVolumeSources& sources)
{
    if (label.isEmpty())
        return QString();
    QList<TLabelDevice> devices;
    for (const TLabelDevice& d : ReadLabels(sources)) {
        if (d.Label.compare(label, Qt::CaseInsensitive) == 0)
            devices.append(d);
    }
    if (devices.isEmpty())
        return QString();
    for (const TMountEntry& m : ReadMountTable(sources)) {
        if (m.Root != QStringLiteral("/"))
            continue;
        const QString source
            = m.Source.startsWith(u'/') ? DevicePathKey(m.Source, QStringLiteral("/dev")) : m.Source;
        for (const TLabelDevice& d : devices) {
            const bool sameNumber = d.HasNumber && d.Major == m.Major && d.Minor == m.Minor;
            if (sameNumber || (!source.isEmpty() && source == d.Device))
                return m.MountPoint.endsWith(u'/') ? m.MountPoint : m.MountPoint + u'/';
        }
    }
    return QString();
}

TPathKind GetPathKind(const QString& path)
{
    struct stat st;
    if (::stat(EncodeName(path).constData(), &st) == 0)
        return S_ISDIR(st.st_mode) ? TPathKind::Directory : TPathKind::Other;
    if (errno == ENOENT || errno == ENOTDIR)
        return TPathKind::Missing;
    return TPathKind::Unreachable;
}

int GetDestinationType(const QString& path, const TVolumeSources& sources)
{
    if (!path.startsWith(u'/'))
        return dtUnavailable;
    const QString clean = QDir::cleanPath(path);

    // The deepest part of the path that exists must be a reachable folder.
    QString existing = clean;
    QString tail;
    for (;;) {
        const TPathKind kind = GetPathKind(existing);
        if (kind == TPathKind::Directory)
            break;
        if (kind != TPathKind::Missing || existing == QStringLiteral("/"))
            return dtUnavailable;
        const qsizetype slash = existing.lastIndexOf(u'/');
        tail = existing.mid(slash) + tail;
        existing = slash == 0 ? QStringLiteral("/") : existing.left(slash);
    }
    const bool missing = !tail.isEmpty();
    QString full = RealPathOr(existing);
    full = full == QStringLiteral("/") ? (tail.isEmpty() ? full : tail) : full + tail;

    const QList<TMountEntry> mounts = ReadMountTable(sources);
    auto isMountPoint = [&mounts](const QString& dir) {
        for (const TMountEntry& m : mounts) {
            if (QDir::cleanPath(m.MountPoint) == dir)
                return true;
        }
        return false;
    };

    // A configured file system that is not mounted: writing below its
    // mount point would land on the file system underneath.
    for (const QString& point : ReadFstabMountPoints(sources)) {
        if (point != QStringLiteral("/") && IsBelowOrEqual(full, point) && !isMountPoint(point))
            return dtUnavailable;
    }

    // Removable media are mounted below these folders; a missing path there
    // without a mount of its own belongs to a medium that is not plugged in.
    if (missing) {
        for (const QString& base :
            {QStringLiteral("/media"), QStringLiteral("/run/media"), QStringLiteral("/mnt")}) {
            if (!IsBelowOrEqual(full, base))
                continue;
            bool mounted = false;
            for (const TMountEntry& m : mounts) {
                const QString point = QDir::cleanPath(m.MountPoint);
                if (point.size() > base.size() && IsBelowOrEqual(point, base) && IsBelowOrEqual(full, point))
                    mounted = true;
            }
            if (!mounted)
                return dtUnavailable;
        }
    }

    const TMountEntry* mount = MountOf(mounts, full);
    if (!mount)
        return dtLocal;
    if (IsNetworkMount(*mount))
        return dtNetwork;
    if (IsRemovableMount(*mount, sources))
        return dtRemovable;
    return dtLocal;
}

} // namespace kes::platform

namespace kes::platform {

QString MountPointOf(const QString& path, const TVolumeSources& sources)
{
    if (!path.startsWith(u'/'))
        return QString();
    // The deepest part of the path that exists decides.
    QString existing = QDir::cleanPath(path);
    while (existing != QStringLiteral("/") && GetPathKind(existing) != TPathKind::Directory) {
        const qsizetype slash = existing.lastIndexOf(u'/');
        existing = slash <= 0 ? QStringLiteral("/") : existing.left(slash);
    }
    const QList<TMountEntry> mounts = ReadMountTable(sources);
    const TMountEntry* mount = MountOf(mounts, RealPathOr(existing));
    return mount ? QDir::cleanPath(mount->MountPoint) : QStringLiteral("/");
}

bool IsMountPoint(const QString& dir, const TVolumeSources& sources)
{
    const QString clean = QDir::cleanPath(dir);
    for (const TMountEntry& m : ReadMountTable(sources)) {
        if (QDir::cleanPath(m.MountPoint) == clean)
            return true;
    }
    return false;
}

} // namespace kes::platform
