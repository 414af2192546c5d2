// Mounted volumes: volume labels, mount points and what kind of medium a
// destination directory lies on.
//
// Linux sources (all file paths are fields of TVolumeSources, so tests feed
// fixture files in the real formats):
//   labels       the symlinks of /dev/disk/by-label; a link's name is the
//                label with unsafe bytes written "\xHH" (blank = "\x20"), its
//                target the device node
//   mounts       /proc/self/mountinfo, in mount order; octal escapes such as
//                "\040" are decoded
//   fstab        /etc/fstab, for mount points that are configured but not
//                mounted
//   sysfs        /sys/dev/block/<major:minor> (or /sys/class/block/<name>):
//                a device path containing "/usb", or a "removable" flag of 1,
//                marks a removable medium
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace kes::platform {

struct TVolumeSources {
    QString MountInfo; // /proc/self/mountinfo
    QString ByLabelDir; // /dev/disk/by-label
    QString DevDir; // /dev: device paths below it are compared as "/dev/..."
    QString Fstab; // /etc/fstab
    QString SysDir; // /sys

    static TVolumeSources System();
};

struct TMountEntry {
    quint32 Major = 0;
    quint32 Minor = 0;
    QString Root; // the directory of the file system that is mounted ("/" for the whole)
    QString MountPoint;
    QString FsType;
    QString Source;
};

// Parses mountinfo text; malformed lines are skipped.
QList<TMountEntry> ParseMountInfo(const QByteArray& text);
// Mount points of fstab text (absolute ones only; swap and "none" skipped).
QStringList ParseFstab(const QByteArray& text);
// Decodes a by-label link name ("My\x20Disk" -> "My Disk").
QString DecodeLabelName(const QByteArray& name);

QList<TMountEntry> ReadMountTable(const TVolumeSources& sources);
QStringList ReadFstabMountPoints(const TVolumeSources& sources);

// Mount point (with a trailing "/") of the first mounted file system, in
// mount order, whose volume label equals label without regard to case;
// empty when none is mounted. Only mounts of a file system's root count
// (a bind mount of one of its folders does not stand for the volume).
QString FindMountPointByLabel(const QString& label, const TVolumeSources& sources = TVolumeSources::System());

// Destination types: 0 not available, 1 local, 2 no drive part (not used on
// Linux), 3 removable medium or USB disk, 4 network file system.
enum TDestinationType { dtUnavailable = 0, dtLocal = 1, dtNoDrive = 2, dtRemovable = 3, dtNetwork = 4 };

// The type of the medium that holds path (which need not exist yet).
// 0 when the path is not absolute, lies below something that is not a
// directory or cannot be reached, or when a missing path would be created
// on the wrong file system: below /media, /run/media or /mnt without a
// mount between that folder and the path, or below an fstab mount point
// that is not mounted.
int GetDestinationType(const QString& path, const TVolumeSources& sources = TVolumeSources::System());

// The mount point of the file system that holds path (its deepest existing
// part, symbolic links resolved), without a trailing "/"; empty for a path
// that is not absolute.
QString MountPointOf(const QString& path, const TVolumeSources& sources = TVolumeSources::System());
// Whether something is mounted on dir now.
bool IsMountPoint(const QString& dir, const TVolumeSources& sources = TVolumeSources::System());

enum class TPathKind { Missing, Directory, Other, Unreachable };
// What is at path (following symlinks): nothing (ENOENT, ENOTDIR), a
// directory, something else, or an error such as no permission or a
// broken network mount.
TPathKind GetPathKind(const QString& path);

} // namespace kes::platform
