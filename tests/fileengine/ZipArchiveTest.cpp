// The zip-entry writer on its own: several entries in one archive stream
// (stored, deflated, AES-encrypted, with patched sizes or data
// descriptors), one central directory, an entry abandoned midway, and the
// Zip64 structures with offsets and entry counts that do not fit, read by
// unzip, 7-Zip and Python's zipfile.
#include "fileengine/ZipArchive.h"
#include "EngineTestSupport.h"
#include "fileengine/Containers.h"
#include "fileengine/CopySteps.h"
#include "fileengine/NameCodec.h"

#include <QCryptographicHash>
#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace kes;
using enginetest::MixedData;

namespace {

// A host that only counts; these tests look at the archives.
class TQuietHost : public ICopyStepHost {
public:
    void WaitIfPaused() override { }
    bool Cancelled() const override { return false; }
    void Progress(TFileAction, bool, qint64) override { }
    bool FollowsProgress() const override { return false; }
    bool SetSysError(int code) override { return code != 0; }
    void SetErrorMessage(const QString&) override { }
};

struct TEntryShape {
    QString name;
    QByteArray data;
    bool deflate = false;
    int keyMode = 0; // 1-3: AES
    bool descriptor = false;
};

// Writes the entries into one archive stream with the engine's steps, as a
// multi-entry writer does: entry after entry, one directory at the end.
QByteArray WriteArchive(const std::vector<TEntryShape>& shapes, const QByteArray& password = "pw")
{
    TQuietHost host;
    std::vector<char> buffer(0x10000);
    TMemoryStream archive;
    TZipArchiveWriter zip(archive);
    for (const TEntryShape& shape : shapes) {
        TBlockPump pump(host, buffer.data(), qint64(buffer.size()));
        TEncryption crypt(password, shape.keyMode, 0x10000);
        const bool encrypted = shape.keyMode != 0;
        const qint64 size = shape.data.size();
        TZipEntry e;
        e.Name = ZipStoredName(shape.name, e.Utf8);
        e.Zip64 = quint64(size) > Zip64Limits().EntryThreshold;
        e.Encrypted = encrypted;
        e.Ae2 = encrypted && size < 20;
        e.KeyMode = shape.keyMode;
        e.Method = encrypted ? 99 : (shape.deflate && size > 0 ? 8 : 0);
        e.InnerMethod = shape.deflate && size > 0 ? 8 : 0;
        e.DataDescriptor = shape.descriptor;
        e.BaseFlags = 0;
        e.DosTime = 0x5A2B6C3D;
        e.ExternalAttr = 0x20;
        EXPECT_EQ(zip.BeginEntry(e), 0);
        TEntryDataStep data(host, pump, encrypted ? &crypt : nullptr, zcDefault, 1, QDir::tempPath());
        TMemoryStream source(shape.data);
        EXPECT_EQ(data.Write(source, size, shape.deflate && size > 0, archive), 0);
        EXPECT_EQ(zip.EndEntry(pump.Crc(), quint64(data.SourceBytes())), 0);
    }
    EXPECT_EQ(zip.WriteDirectory(), 0);
    EXPECT_EQ(zip.Entries().size(), shapes.size());
    return archive.Data();
}

// Python's view of an archive: name, size, CRC check and content digest of
// every entry that is not encrypted, one line each.
kestest::ProcessResult PythonList(const QString& zip)
{
    return enginetest::Python("import sys, zipfile, hashlib\n"
                              "z = zipfile.ZipFile(sys.argv[1])\n"
                              "for i in z.infolist():\n"
                              "    d = '-' if i.flag_bits & 1 else hashlib.md5(z.read(i)).hexdigest()\n"
                              "    print(i.filename, i.file_size, i.header_offset, d)\n",
        {zip});
}

QByteArray Md5(const QByteArray& data)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex();
}

class ZipArchiveTest : public ::testing::Test {
protected:
    QString Path(const QString& name) const { return dir.filePath(name); }
    QTemporaryDir dir;
};

TEST_F(ZipArchiveTest, SeveralEntriesInOneArchiveForEveryReader)
{
    REQUIRE_TOOL("unzip");
    REQUIRE_TOOL("7z");
    REQUIRE_TOOL("python3");
    const std::vector<TEntryShape> shapes = {
        {"stored.bin", MixedData(30000, 31)},
        {"deflated.txt", MixedData(200000, 32), true},
        {"empty", QByteArray(), true},
        {QString::fromUtf8("\xC3\xA1gua \xE6\x97\xA5.txt"), "a name in UTF-8\n", true},
        {"descriptor.txt", MixedData(50000, 33), true, 0, true},
        {"descriptor-stored.bin", MixedData(1000, 34), false, 0, true},
        {"secret-ae1.txt", MixedData(40000, 35), true, 3},
        {"secret-ae2.txt", "tiny", true, 1},
        {"secret-descriptor.txt", MixedData(3000, 36), true, 2, true},
    };
    kestest::WriteBytes(Path("a.zip"), WriteArchive(shapes));
    // unzip knows no AES: it checks the other entries.
    const auto t = kestest::Run("unzip", {"-t", Path("a.zip"), "-x", "secret-*"});
    EXPECT_EQ(t.exitCode, 0) << t.out.toStdString();
    const auto s = kestest::Run("7z", {"t", "-ppw", Path("a.zip")});
    EXPECT_EQ(s.exitCode, 0) << s.out.toStdString();
    EXPECT_TRUE(s.out.contains("Files: 9")) << s.out.toStdString();
    const auto x = kestest::Run("7z", {"x", "-ppw", "-o" + Path("out"), Path("a.zip")});
    ASSERT_EQ(x.exitCode, 0) << x.out.toStdString();
    for (const TEntryShape& shape : shapes) {
        SCOPED_TRACE(shape.name.toStdString());
        EXPECT_EQ(kestest::ReadBytes(Path("out/") + shape.name), shape.data);
    }
    const auto py = PythonList(Path("a.zip"));
    ASSERT_EQ(py.exitCode, 0) << py.err.toStdString();
    const QList<QByteArray> lines = py.out.trimmed().split('\n');
    ASSERT_EQ(lines.size(), qsizetype(shapes.size()));
    // The second entry begins right after the first one's header and data.
    EXPECT_EQ(
        lines[1], "deflated.txt 200000 " + QByteArray::number(30 + 10 + 30000) + ' ' + Md5(shapes[1].data));
}

TEST_F(ZipArchiveTest, AnAbandonedEntryLeavesNoTrace)
{
    REQUIRE_TOOL("unzip");
    TQuietHost host;
    std::vector<char> buffer(0x1000);
    TMemoryStream archive;
    TZipArchiveWriter zip(archive);
    auto add = [&](const QByteArray& name, const QByteArray& data, bool finish) {
        TZipEntry e;
        e.Name = name;
        e.Method = 0;
        ASSERT_EQ(zip.BeginEntry(e), 0);
        TBlockPump pump(host, buffer.data(), qint64(buffer.size()));
        TMemoryStream source(data);
        ASSERT_EQ(pump.Copy(source, &archive, false, data.size()), 0);
        if (finish)
            ASSERT_EQ(zip.EndEntry(pump.Crc(), quint64(data.size())), 0);
        else
            ASSERT_EQ(zip.AbandonEntry(), 0);
    };
    add("one", "first entry", true);
    const qint64 afterOne = archive.Size();
    add("broken", MixedData(9000, 37), false);
    EXPECT_EQ(archive.Size(), afterOne);
    add("two", "second entry", true);
    ASSERT_EQ(zip.WriteDirectory(), 0);
    kestest::WriteBytes(Path("b.zip"), archive.Data());
    const auto list = kestest::Run("unzip", {"-Z1", Path("b.zip")});
    EXPECT_EQ(list.out, "one\ntwo\n");
    EXPECT_EQ(kestest::Run("unzip", {"-t", Path("b.zip")}).exitCode, 0);
}

TEST_F(ZipArchiveTest, Zip64OffsetsSizesAndEntryCounts)
{
    REQUIRE_TOOL("python3");
    REQUIRE_TOOL("7z");
    // Lowered limits: entries above 1000 bytes are Zip64 entries, values of
    // 40000 or more do not fit a field, more than 3 entries do not fit the
    // classic end record.
    struct Limits {
        TZip64Limits saved = Zip64Limits();
        ~Limits() { SetZip64Limits(saved); }
    } restore;
    SetZip64Limits(TZip64Limits {1000, 40000, 3});
    std::vector<TEntryShape> shapes;
    for (int i = 0; i < 5; ++i)
        shapes.push_back(
            {QStringLiteral("part%1.bin").arg(i), MixedData(25000, quint32(40 + i)), i % 2 == 1});
    shapes.push_back({"small.txt", "below every limit", true});
    shapes.push_back({"late-descriptor.bin", MixedData(45000, 50), false, 0, true});
    const QByteArray zip = WriteArchive(shapes);
    kestest::WriteBytes(Path("z.zip"), zip);

    // The Zip64 end record, its locator and a classic record that defers
    // to them.
    const auto* end = reinterpret_cast<const unsigned char*>(zip.constData()) + zip.size() - 22;
    EXPECT_EQ(GetLe(end, 4), kZipEndSignature);
    EXPECT_EQ(GetLe(end + 10, 2), 0xFFFFu);
    EXPECT_EQ(GetLe(end + 16, 4), 0xFFFFFFFFu);
    EXPECT_EQ(GetLe(end - 20, 4), kZip64LocatorSignature);
    const quint64 zip64End = GetLe(end - 20 + 8, 8);
    const auto* record = reinterpret_cast<const unsigned char*>(zip.constData()) + zip64End;
    EXPECT_EQ(GetLe(record, 4), kZip64EndSignature);
    EXPECT_EQ(GetLe(record + 32, 8), quint64(shapes.size()));

    const auto py = PythonList(Path("z.zip"));
    ASSERT_EQ(py.exitCode, 0) << py.err.toStdString();
    const QList<QByteArray> lines = py.out.trimmed().split('\n');
    ASSERT_EQ(lines.size(), qsizetype(shapes.size()));
    qint64 lastOffset = -1;
    for (size_t i = 0; i < shapes.size(); ++i) {
        SCOPED_TRACE(shapes[i].name.toStdString());
        const QList<QByteArray> f = lines[qsizetype(i)].split(' ');
        ASSERT_EQ(f.size(), 4);
        EXPECT_EQ(f[0], shapes[i].name.toUtf8());
        EXPECT_EQ(f[1].toLongLong(), shapes[i].data.size());
        EXPECT_GT(f[2].toLongLong(), lastOffset);
        lastOffset = f[2].toLongLong();
        EXPECT_EQ(f[3], Md5(shapes[i].data));
    }
    EXPECT_GT(lastOffset, 40000); // offsets beyond the lowered field limit were read from the Zip64 extras
    EXPECT_EQ(kestest::Run("7z", {"t", Path("z.zip")}).exitCode, 0);
}

} // namespace
