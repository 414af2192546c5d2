#include "platform/Volumes.h"

#include "common/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace kes::platform;

namespace {

QByteArray Escaped(const QString& path)
{
    return QFile::encodeName(path).replace("\\", "\\134").replace(" ", "\\040").replace("\t", "\\011");
}

// A fixture system: /dev with by-label links, /sys with block devices,
// mountinfo and fstab texts - all inside a temporary folder.
class VolumesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_tmp.isValid());
        m_sources = {
            Path("proc/mountinfo"), Path("dev/disk/by-label"), Path("dev"), Path("etc/fstab"), Path("sys")};
        ASSERT_TRUE(QDir().mkpath(m_sources.ByLabelDir));
        kestest::WriteBytes(m_sources.Fstab, "# empty\n");
    }

    QString Path(const char* rel) const { return m_tmp.filePath(QString::fromUtf8(rel)); }

    void Label(const char* linkName, const char* target)
    {
        ASSERT_TRUE(QFile::link(
            QString::fromUtf8(target), m_sources.ByLabelDir + u'/' + QString::fromUtf8(linkName)));
    }

    // /sys/dev/block/<majmin> -> ../../devices/<devicePath>, with the
    // device folder and its files.
    void BlockDevice(const char* majmin, const QString& devicePath, bool partition, const char* removable)
    {
        const QString dir = Path("sys/devices/") + devicePath;
        ASSERT_TRUE(QDir().mkpath(dir));
        ASSERT_TRUE(QDir().mkpath(Path("sys/dev/block")));
        ASSERT_TRUE(QFile::link(QStringLiteral("../../devices/") + devicePath,
            Path("sys/dev/block/") + QString::fromUtf8(majmin)));
        if (partition) {
            kestest::WriteBytes(dir + QStringLiteral("/partition"), "1\n");
            kestest::WriteBytes(dir + QStringLiteral("/../removable"), removable);
        } else {
            kestest::WriteBytes(dir + QStringLiteral("/removable"), removable);
        }
    }

    void MountInfo(const QByteArray& text) { kestest::WriteBytes(m_sources.MountInfo, text); }

    QTemporaryDir m_tmp;
    TVolumeSources m_sources;
};

} // namespace

TEST(MountTable, ParsesMountinfoLines)
{
    const QByteArray text
        = "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw,errors=remount-ro\n"
          "36 22 98:0 /mnt1 /mnt/My\\040Disk\\134x rw,noatime master:1 shared:7 - ext3 /dev/root rw\n"
          "37 22 0:40 / /net rw - nfs4 server:/export\\040dir rw,vers=4.2\n"
          "38 22 0:41 / /no-optional rw - tmpfs tmpfs rw\n"
          "garbage line\n"
          "39 22 x:y / /bad rw - ext4 /dev/x rw\n"
          "40 22 8:2 / relative rw - ext4 /dev/x rw\n"
          "41 22 8:3 / /short rw -\n"
          "\n";
    const QList<TMountEntry> m = ParseMountInfo(text);
    ASSERT_EQ(m.size(), 4);
    EXPECT_EQ(m[0].MountPoint, QStringLiteral("/"));
    EXPECT_EQ(m[0].FsType, QStringLiteral("ext4"));
    EXPECT_EQ(m[0].Major, 8u);
    EXPECT_EQ(m[0].Minor, 1u);
    EXPECT_EQ(m[1].Root, QStringLiteral("/mnt1"));
    EXPECT_EQ(m[1].MountPoint, QStringLiteral("/mnt/My Disk\\x"));
    EXPECT_EQ(m[1].Source, QStringLiteral("/dev/root"));
    EXPECT_EQ(m[2].Source, QStringLiteral("server:/export dir"));
    EXPECT_EQ(m[3].MountPoint, QStringLiteral("/no-optional"));
}

TEST(MountTable, ParsesFstabAndLabelNames)
{
    const QByteArray fstab = "# <file system> <mount point> <type> <options> <dump> <pass>\n"
                             "UUID=1234 / ext4 errors=remount-ro 0 1\n"
                             "   LABEL=Backup   /mnt/back\\040up  ext4 noauto 0 2\n"
                             "/swapfile none swap sw 0 0\n"
                             "/dev/sdb2 swap swap defaults 0 0\n"
                             "server:/x /net/x/ nfs defaults 0 0\n"
                             "broken\n";
    EXPECT_EQ(ParseFstab(fstab), (QStringList {"/", "/mnt/back up", "/net/x"}));

    EXPECT_EQ(DecodeLabelName("My\\x20Disk"), QStringLiteral("My Disk"));
    EXPECT_EQ(DecodeLabelName("A\\x2fB\\x5c"), QStringLiteral("A/B\\"));
    EXPECT_EQ(DecodeLabelName("caf\xc3\xa9"), QString::fromUtf8("caf\xc3\xa9"));
    EXPECT_EQ(DecodeLabelName("bad\\xZZ\\x4"), QStringLiteral("bad\\xZZ\\x4"));
}

TEST_F(VolumesTest, FindsTheMountPointOfALabel)
{
    Label("USB\\x20STICK", "../../sdb1");
    Label("usb\\x20stick", "../../sdd1"); // the same label in other case on a second device
    Label("DATA", "../../sdc1");
    Label("BOUND", "../../sde1");
    Label("GONE", "../../sdf1");
    Label("\\x20PADDED\\x20\\x20", "../../sdc1");
    MountInfo("22 1 8:1 / / rw - ext4 /dev/sda1 rw\n"
              "60 22 8:65 /sub /srv/bound rw - ext4 /dev/sde1 rw\n" // only a folder of BOUND
              "70 22 8:49 / /media/ann/usb\\040stick rw - vfat /dev/sdd1 rw\n"
              "71 22 8:17 / /media/ann/USB\\040STICK rw - vfat /dev/sdb1 rw\n"
              "72 22 8:33 / /data rw - xfs /dev/sdc1 rw\n"
              "73 22 8:33 / /data-again rw - xfs /dev/sdc1 rw\n");
    struct Case {
        const char* label;
        const char* expected;
    } cases[] = {
        {"USB STICK", "/media/ann/usb stick/"}, // first in mount order
        {"Usb Stick", "/media/ann/usb stick/"},
        {"data", "/data/"},
        {"padded", "/data/"},
        {"BOUND", ""},
        {"GONE", ""},
        {"NOPE", ""},
        {"", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(
            FindMountPointByLabel(QString::fromUtf8(c.label), m_sources), QString::fromUtf8(c.expected));
    }

    // Without the label folder (no labelled disks) or the mount table.
    TVolumeSources none = m_sources;
    none.ByLabelDir = Path("missing");
    EXPECT_EQ(FindMountPointByLabel(QStringLiteral("DATA"), none), QString());
    none = m_sources;
    none.MountInfo = Path("missing");
    EXPECT_EQ(FindMountPointByLabel(QStringLiteral("DATA"), none), QString());
}

TEST_F(VolumesTest, DestinationTypes)
{
    const QString local = Path("local");
    const QString nfs = Path("nfs");
    const QString sshfs = Path("sshfs");
    const QString rclone = Path("rclone");
    const QString usb = Path("usb");
    const QString card = Path("card");
    const QString disk = Path("disk");
    const QString configured = Path("configured");
    const QString mountedFstab = Path("fstab-mounted");
    for (const QString& d : {local, nfs, sshfs, rclone, usb, card, disk, configured, mountedFstab})
        ASSERT_TRUE(QDir().mkpath(d));
    kestest::WriteBytes(Path("local/file.txt"), "x");
    ASSERT_TRUE(QFile::link(usb, Path("local/to-usb")));

    BlockDevice("8:17",
        QStringLiteral("pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0/6:0:0:0/block/sdb/sdb1"),
        true, "0\n");
    BlockDevice("179:1", QStringLiteral("platform/mmc/mmc0/mmc0:0001/block/mmcblk0/mmcblk0p1"), true, "1\n");
    BlockDevice("8:1",
        QStringLiteral("pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0/block/sda/sda1"), true, "0\n");
    BlockDevice("259:0", QStringLiteral("pci0000:00/0000:00:1d.0/nvme/nvme0/nvme0n1"), false, "0\n");

    MountInfo("22 1 8:1 / / rw - ext4 /dev/sda1 rw\n"
              "30 22 0:50 / "
        + Escaped(nfs)
        + " rw - nfs4 nas:/export rw\n"
          "31 22 0:51 / "
        + Escaped(sshfs)
        + " rw - fuse.sshfs ann@host:/home/ann rw\n"
          "32 22 0:52 / "
        + Escaped(rclone)
        + " rw - fuse.rclone gdrive: rw\n"
          "33 22 8:17 / "
        + Escaped(usb)
        + " rw - vfat /dev/sdb1 rw\n"
          "34 22 179:1 / "
        + Escaped(card)
        + " rw - exfat /dev/mmcblk0p1 rw\n"
          "35 22 259:0 / "
        + Escaped(disk)
        + " rw - ext4 /dev/nvme0n1 rw\n"
          "36 22 8:1 / "
        + Escaped(mountedFstab)
        + " rw - ext4 /dev/sda1 rw\n"
          "40 22 8:17 / /media/kes-test-3f9a/USB rw - vfat /dev/sdb1 rw\n"
          "41 22 0:60 / /run/media/kes-test-3f9a/NET rw - cifs //srv/share rw\n");
    kestest::WriteBytes(m_sources.Fstab,
        "UUID=1 / ext4 defaults 0 1\n"
        "LABEL=Ext "
            + Escaped(configured)
            + " ext4 noauto 0 2\n"
              "LABEL=Int "
            + Escaped(mountedFstab) + " ext4 defaults 0 2\n");

    struct Case {
        QString path;
        int expected;
    } cases[] = {
        {QString(), dtUnavailable},
        {QStringLiteral("relative/dir"), dtUnavailable},
        {QStringLiteral("E:\\Backup\\"), dtUnavailable},
        {local, dtLocal},
        {local + QStringLiteral("/new/deeper/"), dtLocal},
        {local + QStringLiteral("/file.txt/sub"), dtUnavailable}, // a file in the way
        {nfs + QStringLiteral("/backup/"), dtNetwork},
        {sshfs, dtNetwork},
        {rclone + QStringLiteral("/x"), dtNetwork},
        {usb + QStringLiteral("/Backup"), dtRemovable}, // USB device path
        {local + QStringLiteral("/to-usb/Backup"), dtRemovable}, // through a symlink
        {card, dtRemovable}, // removable flag of the disk
        {disk + QStringLiteral("/b"), dtLocal},
        {mountedFstab + QStringLiteral("/b"), dtLocal},
        // Configured in fstab but not mounted: never written to the disk
        // underneath, whether the folder exists there or not.
        {configured, dtUnavailable},
        {configured + QStringLiteral("/Backup/"), dtUnavailable},
        // Missing below the removable-media folders without a mount of their own.
        {QStringLiteral("/media/kes-test-3f9a/OTHER/Backup"), dtUnavailable},
        {QStringLiteral("/mnt/kes-test-3f9a/Backup"), dtUnavailable},
        {QStringLiteral("/run/media/kes-test-3f9a/OTHER"), dtUnavailable},
        {QStringLiteral("/media/kes-test-3f9a/USB/Backup/%hour%/"), dtRemovable},
        {QStringLiteral("/run/media/kes-test-3f9a/NET/x"), dtNetwork},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        EXPECT_EQ(GetDestinationType(c.path, m_sources), c.expected);
    }
    // Without any mount data an existing folder still counts as local.
    TVolumeSources none {Path("missing"), Path("missing"), Path("dev"), Path("missing"), Path("missing")};
    EXPECT_EQ(GetDestinationType(local, none), dtLocal);
    EXPECT_EQ(GetDestinationType(QStringLiteral("/media/kes-test-3f9a/USB"), none), dtUnavailable);
}

TEST(PathKind, KindsOfPaths)
{
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    kestest::WriteBytes(tmp.filePath(QStringLiteral("f")), "x");
    EXPECT_EQ(GetPathKind(tmp.path()), TPathKind::Directory);
    EXPECT_EQ(GetPathKind(tmp.filePath(QStringLiteral("f"))), TPathKind::Other);
    EXPECT_EQ(GetPathKind(tmp.filePath(QStringLiteral("none"))), TPathKind::Missing);
    EXPECT_EQ(GetPathKind(tmp.filePath(QStringLiteral("f/below"))), TPathKind::Missing);
}
