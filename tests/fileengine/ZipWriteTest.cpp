// Zip archives of many entries: a table of archive shapes read back by
// unzip, 7-Zip and Python's zipfile, the layout of a small entry, Zip64
// end records for many entries, cancel and suspend at a known point, and
// bad input (unsafe names, a source that shrinks or is gone, a full disk,
// a split size below a header).
#include "fileengine/ZipWrite.h"
#include "EngineTestSupport.h"
#include "fileengine/Containers.h"
#include "fileengine/CopyErrors.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>

using namespace kes;
using enginetest::MixedData;
using kestest::ReadBytes;
using kestest::WriteBytes;

namespace {

quint64 Le(const QByteArray& b, qsizetype at, int n)
{
    quint64 v = 0;
    for (int i = n - 1; i >= 0; --i)
        v = (v << 8) | quint8(b[at + i]);
    return v;
}

// The error word an operation raised (0: none).
int ZipErrorOf(const std::function<void()>& call, QString* message = nullptr)
{
    try {
        call();
    } catch (const EZipError& e) {
        if (message)
            *message = e.Message() + u' ' + e.SysErrorMsg();
        return e.ZipError();
    }
    return 0;
}

class ZipWriteTest : public ::testing::Test {
protected:
    QString Path(const QString& name) const { return dir.filePath(name); }
    QTemporaryDir dir;
};

// The names Python's zipfile reads (decoding cp437 or UTF-8 by the flag)
// with their UTF-8 flags, one "name flag" per line, and its testzip result.
kestest::ProcessResult PythonListing(const QString& zip)
{
    return enginetest::Python("import sys, zipfile\n"
                              "z = zipfile.ZipFile(sys.argv[1])\n"
                              "for i in z.infolist():\n"
                              "    print(i.filename, (i.flag_bits >> 11) & 1)\n"
                              "print('test', z.testzip())\n",
        {zip});
}

TEST_F(ZipWriteTest, ArchiveShapesReadByOracles)
{
    REQUIRE_TOOL("unzip");
    REQUIRE_TOOL("7z");
    WriteBytes(Path("in/empty.txt"), {});
    WriteBytes(Path("in/data.bin"), MixedData(300000, 7));
    WriteBytes(Path("in/small.txt"), "seventeen bytes!!");
    WriteBytes(Path("in/Grüße.txt"), "cp437 has these letters");
    WriteBytes(Path("in/€ und ∑.txt"), "only UTF-8 holds these");
    QDir().mkpath(Path("in/d1/d2"));
    struct Shape {
        const char* name;
        QStringList files; // below in/
        QStringList dirs;
        QByteArray password;
        int keyMode;
        qint64 split;
        QStringList expected; // "stored-name utf8-flag"
    } shapes[] = {
        {"empty", {}, {}, {}, 0, 0, {}},
        {"one empty file", {"empty.txt"}, {}, {}, 0, 0, {"empty.txt 0"}},
        {"directories only", {}, {"d1", "d1/d2"}, {}, 0, 0, {"d1/ 0", "d1/d2/ 0"}},
        {"cp437 and UTF-8 names", {"Grüße.txt", "€ und ∑.txt"}, {}, {}, 0, 0,
            {"Grüße.txt 0", "€ und ∑.txt 1"}},
        {"AES 128", {"data.bin", "small.txt", "empty.txt"}, {"d1"}, "pw one", 1, 0, {}},
        {"AES 192", {"data.bin", "small.txt"}, {}, "pw two", 2, 0, {}},
        {"AES 256", {"data.bin", "small.txt"}, {}, "pw three", 3, 0, {}},
        // 64 KiB parts: the first entry's data run through four of them,
        // the next headers land where a part ends.
        {"split", {"data.bin", "small.txt", "empty.txt"}, {"d1"}, {}, 0, 0x10000, {}},
        {"split and AES", {"data.bin", "small.txt"}, {}, "pw four", 3, 0x10000, {}},
    };
    for (const Shape& s : shapes) {
        SCOPED_TRACE(s.name);
        const QString zip = Path(QString::fromUtf8(s.name).replace(u' ', u'_') + ".zip");
        {
            TZipWrite w(zip, Path("in"), s.split, s.password, s.keyMode, 0x10000);
            for (const QString& d : s.dirs)
                w.AddDir(Path("in/" + d));
            for (const QString& f : s.files)
                w.AddFile(Path("in/" + f), true);
            w.WriteDirectory();
            w.Verify();
            EXPECT_EQ(w.NumberOfSegments() > 1, s.split > 0);
        }
        const int entries = int(s.files.size() + s.dirs.size());
        // 7z never asks: an empty -p would prompt, so none is given then.
        QStringList pw;
        if (!s.password.isEmpty())
            pw << "-p" + QString::fromUtf8(s.password);
        const auto t = kestest::Run("7z", QStringList {"t"} + pw + QStringList {zip});
        EXPECT_EQ(t.exitCode, 0) << t.out.toStdString() << t.err.toStdString();
        if (s.split == 0 && s.password.isEmpty()) {
            // unzip warns about an archive without entries (status 1).
            const auto u = kestest::Run("unzip", {"-t", zip});
            EXPECT_EQ(u.exitCode, entries == 0 ? 1 : 0) << u.out.toStdString();
            if (entries == 0) {
                EXPECT_TRUE(u.out.contains("zipfile is empty")) << u.out.toStdString();
            }
            const auto p = PythonListing(zip);
            ASSERT_EQ(p.exitCode, 0) << p.err.toStdString();
            QStringList listed = QString::fromUtf8(p.out).split(u'\n', Qt::SkipEmptyParts);
            EXPECT_EQ(listed.takeLast(), "test None");
            EXPECT_EQ(listed, s.expected);
        }
        if (!s.password.isEmpty() || s.split > 0) {
            // Extracted, the data are the sources' own.
            const QString out = Path(QString::fromUtf8(s.name) + "-x");
            const auto x = kestest::Run("7z", QStringList {"x", "-y", "-o" + out} + pw + QStringList {zip});
            ASSERT_EQ(x.exitCode, 0) << x.out.toStdString();
            for (const QString& f : s.files)
                EXPECT_EQ(ReadBytes(out + "/" + f), ReadBytes(Path("in/" + f))) << f.toStdString();
        }
        // kescopy --check reads the same archive (all its parts).
        const auto c = kestest::Run(kestest::BuiltProgram("kescopy"), {"--check", "-e", zip},
            {"KESCOPY_PASSWORD=" + QString::fromUtf8(s.password.isEmpty() ? "unused" : s.password)});
        EXPECT_EQ(c.exitCode, 0) << c.err.toStdString();
        // The end record counts the entries.
        const QByteArray bytes = ReadBytes(zip);
        ASSERT_GE(bytes.size(), 22);
        EXPECT_EQ(Le(bytes, bytes.size() - 22, 4), kZipEndSignature);
        EXPECT_EQ(int(Le(bytes, bytes.size() - 22 + 10, 2)), entries);
    }
}

TEST_F(ZipWriteTest, SmallTextEntryLayoutAndSplitMarker)
{
    WriteBytes(Path("a.txt"), "a small text file, a small text file\n");
    {
        TZipWrite w(Path("a.zip"), dir.path());
        w.AddFile(Path("a.txt"), true);
        w.WriteDirectory();
    }
    const QByteArray zip = ReadBytes(Path("a.zip"));
    EXPECT_EQ(Le(zip, 0, 4), kZipLocalSignature);
    EXPECT_EQ(Le(zip, 4, 2), 20u); // version
    EXPECT_EQ(Le(zip, 6, 2), 0x0002u); // flags
    EXPECT_EQ(Le(zip, 8, 2), 8u); // deflated
    EXPECT_EQ(Le(zip, 28, 2), 0u); // no extras
    EXPECT_EQ(zip.mid(30, 5), "a.txt");
    EXPECT_EQ(Le(zip, zip.size() - 22 + 10, 2), 1u);

    // A segment size: the marker first, and the first part moves to z01.
    WriteBytes(Path("big.bin"), MixedData(200000, 3));
    {
        TZipWrite w(Path("s.zip"), dir.path(), 0x10000);
        EXPECT_EQ(ReadBytes(Path("s.zip")).left(4), QByteArray("PK\x07\x08", 4));
        w.AddFile(Path("big.bin"), true);
        EXPECT_TRUE(QFile::exists(Path("s.z01")));
        EXPECT_EQ(ReadBytes(Path("s.z01")).left(4), QByteArray("PK\x07\x08", 4));
        EXPECT_EQ(QFileInfo(Path("s.z01")).size(), 0x10000);
        w.WriteDirectory();
    }
    // One part after all: the marker says so.
    {
        TZipWrite w(Path("one.zip"), dir.path(), 0x100000);
        w.AddFile(Path("a.txt"), true);
        w.WriteDirectory();
    }
    EXPECT_EQ(ReadBytes(Path("one.zip")).left(4), "PK00");
    if (kestest::HaveTool("unzip")) {
        EXPECT_EQ(kestest::Run("unzip", {"-t", Path("one.zip")}).exitCode, 0);
    }
}

TEST_F(ZipWriteTest, DirectoryEntriesAndRemLastDir)
{
    QDir().mkpath(Path("base/sub"));
    WriteBytes(Path("base/f.txt"), "f");
    TZipWrite w(Path("d.zip"), Path("base"));
    w.AddFile(Path("base/f.txt"), true);
    const qint64 before = w.FilePosition();
    w.AddDir(Path("base/sub"));
    ASSERT_EQ(w.Entries().size(), 2u);
    const TZipEntry& d = w.Entries().back();
    EXPECT_EQ(d.Method, 0);
    EXPECT_EQ(d.CSize, 0u);
    EXPECT_EQ(d.USize, 0u);
    EXPECT_EQ(d.Name, "sub/");
    EXPECT_EQ(w.RemLastDir(), "sub/");
    EXPECT_EQ(w.FilePosition(), before);
    EXPECT_EQ(w.RemLastDir(), QString()); // a file entry stays
    w.WriteDirectory();
    if (kestest::HaveTool("unzip")) {
        EXPECT_EQ(kestest::Run("unzip", {"-t", Path("d.zip")}).exitCode, 0);
    }
}

TEST_F(ZipWriteTest, SeventyThousandEntriesGetZip64EndRecords)
{
    TZipWrite w(Path("many.zip"), dir.path());
    for (int i = 0; i < 70000; ++i) {
        TMemoryStream s(QByteArray::number(i));
        w.AddStream(s, QStringLiteral("f/%1.txt").arg(i), false);
    }
    w.WriteDirectory();
    w.Verify();
    const auto r = enginetest::Python(
        "import sys, zipfile\n"
        "z = zipfile.ZipFile(sys.argv[1])\n"
        "d = open(sys.argv[1], 'rb').read()\n"
        "print(len(z.infolist()), d.rfind(b'PK\\x06\\x06') > 0, d.rfind(b'PK\\x06\\x07') > 0,"
        " z.read('f/69999.txt').decode())\n",
        {Path("many.zip")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out.trimmed(), "70000 True True 69999");
    if (kestest::HaveTool("unzip")) {
        EXPECT_EQ(kestest::Run("unzip", {"-tq", Path("many.zip")}).exitCode, 0);
    }
}

// Cancel and Suspend from the progress handler, at the announcement of the
// third entry's data: a point the worker always passes, whatever the timing.
// Large entries have worker threads of their own, small ones are made on
// the calling thread: a cancel stops both.
TEST_F(ZipWriteTest, CancelAndSuspendAtTheThirdEntry)
{
    struct Case {
        bool suspend;
        qint64 size;
    } cases[] = {{false, TZipWrite::kInlineEntrySize + 100000}, {true, TZipWrite::kInlineEntrySize + 100000},
        {false, 5000}};
    for (const Case& c : cases) {
        const bool suspend = c.suspend;
        SCOPED_TRACE(c.size);
        for (int i = 0; i < 4; ++i)
            WriteBytes(Path(QStringLiteral("in/%1.bin").arg(i)), MixedData(c.size, quint32(i)));
        SCOPED_TRACE(suspend ? "suspend" : "cancel");
        const QString zip = Path(suspend ? "s.zip" : "c.zip");
        TZipWrite w(zip, Path("in"));
        int announced = 0;
        bool paused = false;
        int progressWhilePaused = 0;
        int pollsWhilePaused = 0;
        qint64 sizeWhenPaused = -1;
        w.SetOnProgress([&](TFileAction, bool, qint64 count) {
            if (paused)
                ++progressWhilePaused;
            if (count < 0 && ++announced == 3) {
                if (suspend) {
                    w.Suspend();
                    paused = true;
                    sizeWhenPaused = QFileInfo(zip).size();
                } else {
                    w.Cancel();
                }
            }
        });
        w.SetOnTimeout([&] {
            // A few polls with the worker held: nothing moves, then on.
            if (paused && ++pollsWhilePaused == 5) {
                EXPECT_EQ(QFileInfo(zip).size(), sizeWhenPaused);
                paused = false;
                w.Resume();
            }
            return false;
        });
        int word = 0;
        for (int i = 0; i < 4 && word == 0; ++i)
            word = ZipErrorOf([&] { w.AddFile(Path(QStringLiteral("in/%1.bin").arg(i)), true); });
        if (suspend) {
            EXPECT_EQ(word, 0);
            EXPECT_EQ(progressWhilePaused, 0);
            EXPECT_EQ(pollsWhilePaused, 5);
            EXPECT_EQ(w.Entries().size(), 4u);
        } else {
            EXPECT_EQ(word, 0x4080);
            EXPECT_EQ(CopyErrorText(word), "Terminated by user (-> Zip)");
            EXPECT_EQ(w.Entries().size(), 2u); // the third is cut off again
        }
        w.WriteDirectory();
        w.Verify();
        if (kestest::HaveTool("unzip")) {
            EXPECT_EQ(kestest::Run("unzip", {"-tq", zip}).exitCode, 0);
        }
    }
}

TEST_F(ZipWriteTest, UnsafeNamesAreRefused)
{
    struct Case {
        const char* name;
        const char* stored; // nullptr: refused
    } cases[] = {
        {"../x.txt", nullptr},
        {"a/../../x.txt", nullptr},
        {"a\\..\\..\\x.txt", nullptr},
        {"/etc/x.txt", nullptr},
        {"\\x.txt", nullptr},
        {"C:/x.txt", nullptr},
        {"..", nullptr},
        {"", nullptr},
        {"a\\b\\c.txt", "a/b/c.txt"},
        {"./a//b/./c.txt", "a/b/c.txt"},
        {"..a/b..", "..a/b.."},
    };
    WriteBytes(Path("src.txt"), "data");
    TZipWrite w(Path("n.zip"), dir.path());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QString stored;
        EXPECT_EQ(SafeZipEntryName(QString::fromUtf8(c.name), stored), c.stored != nullptr);
        if (c.stored) {
            EXPECT_EQ(stored, QString::fromUtf8(c.stored));
            continue;
        }
        if (!*c.name)
            continue; // AddFile without a name takes the source's
        QString message;
        const qint64 before = w.FilePosition();
        EXPECT_EQ(
            ZipErrorOf([&] { w.AddFile(Path("src.txt"), QString::fromUtf8(c.name), true); }, &message) & 0xFF,
            enIllegalHeader);
        EXPECT_EQ(ZipErrorOf([&] {
            TMemoryStream s("x");
            w.AddStream(s, QString::fromUtf8(c.name), true);
        }) & 0xFF,
            enIllegalHeader);
        EXPECT_EQ(w.FilePosition(), before);
        if (*c.name) {
            EXPECT_TRUE(message.contains("outside the folder")) << message.toStdString();
        }
    }
    // A source outside the base directory has no name inside it.
    WriteBytes(Path("elsewhere/o.txt"), "o");
    QDir().mkpath(Path("base"));
    w.SetDirectory(Path("base"));
    EXPECT_EQ(ZipErrorOf([&] { w.AddFile(Path("elsewhere/o.txt"), true); }) & 0xFF, enIllegalHeader);
    w.WriteDirectory();
    EXPECT_TRUE(w.IsEmpty());
}

// A stream that says it holds more than it gives.
class TShrinkingStream : public TMemoryStream {
public:
    using TMemoryStream::TMemoryStream;
    qint64 Size() const override { return TMemoryStream::Size() + 1000; }
};

TEST_F(ZipWriteTest, SourcesThatShrinkOrVanishFailAndAreCutBack)
{
    WriteBytes(Path("keep.txt"), "kept entry");
    WriteBytes(Path("shrinks.bin"), MixedData(400000, 5));
    TZipWrite w(Path("b.zip"), dir.path());
    w.AddFile(Path("keep.txt"), true);
    const qint64 good = w.FilePosition();

    QString gone;
    EXPECT_EQ(ZipErrorOf([&] { w.AddFile(Path("gone.txt"), true); }, &gone), 0x410E);
    EXPECT_TRUE(gone.startsWith("Error adding file to \"" + Path("b.zip") + "\"")) << gone.toStdString();
    // The file loses its second half once its data are announced.
    bool cut = false;
    w.SetOnProgress([&](TFileAction, bool, qint64 count) {
        if (count < 0 && !cut) {
            cut = true;
            QFile::resize(Path("shrinks.bin"), 200000);
        }
    });
    for (const bool compress : {true, false}) {
        cut = false;
        WriteBytes(Path("shrinks.bin"), MixedData(400000, 5));
        QString message;
        EXPECT_EQ(ZipErrorOf([&] { w.AddFile(Path("shrinks.bin"), compress); }, &message), 0x4104)
            << message.toStdString();
        EXPECT_EQ(w.FilePosition(), good);
    }
    w.SetOnProgress({});
    TShrinkingStream s(QByteArray(5000, 'x'));
    EXPECT_EQ(ZipErrorOf([&] { w.AddStream(s, "s.txt", true); }), 0x4104);
    EXPECT_EQ(w.FilePosition(), good);
    w.WriteDirectory();
    EXPECT_EQ(w.Entries().size(), 1u);
    if (kestest::HaveTool("unzip")) {
        EXPECT_EQ(kestest::Run("unzip", {"-tq", Path("b.zip")}).exitCode, 0);
    }
}

TEST_F(ZipWriteTest, FullDiskIsLowDiskSpaceAndTheArchiveStaysFinishable)
{
    kestest::SmallTmpfs disk(256 * 1024);
    if (!disk.IsMounted())
        KESTEST_SKIP_OR_FAIL("needs a small tmpfs (root): " + disk.Error().toStdString());
    WriteBytes(Path("small.txt"), "small");
    WriteBytes(Path("big.bin"), MixedData(2000000, 9));
    const QString zip = disk.Path() + "/full.zip";
    {
        TZipWrite w(zip, dir.path());
        w.AddFile(Path("small.txt"), true);
        QString message;
        EXPECT_EQ(ZipErrorOf([&] { w.AddFile(Path("big.bin"), false); }, &message), 0x4107);
        EXPECT_TRUE(message.contains("No space left on device")) << message.toStdString();
        EXPECT_TRUE(w.ErrorFlag());
        w.WriteDirectory();
        w.Verify();
    }
    if (kestest::HaveTool("unzip")) {
        EXPECT_EQ(kestest::Run("unzip", {"-tq", zip}).exitCode, 0);
    }
    // An archive never finished is gone with its object.
    {
        TZipWrite w(disk.Path() + "/left.zip", dir.path(), 0x10000);
        EXPECT_NE(ZipErrorOf([&] { w.AddFile(Path("big.bin"), false); }), 0);
    }
    EXPECT_EQ(QDir(disk.Path()).entryList(QDir::Files), QStringList {"full.zip"});
}

TEST_F(ZipWriteTest, SplitSizeBelowAHeaderAndOtherCreateErrors)
{
    QString message;
    EXPECT_EQ(ZipErrorOf([&] { TZipWrite w(Path("tiny.zip"), dir.path(), 100); }, &message), 0x4101);
    EXPECT_TRUE(message.startsWith("Error creating \"" + Path("tiny.zip") + "\"")) << message.toStdString();
    EXPECT_FALSE(QFile::exists(Path("tiny.zip")));
    EXPECT_EQ(ZipErrorOf([&] { TZipWrite w(Path("no/such/dir/a.zip"), dir.path()); }), 0x4101);
}

TEST_F(ZipWriteTest, EncryptedNamesHideTheNames)
{
    WriteBytes(Path("in/secret name.txt"), "secret data secret data");
    QDir().mkpath(Path("in/hidden folder"));
    {
        TZipWrite w(Path("e.zip"), Path("in"), QByteArray("pw"), 3);
        w.SetEncryptNames(true);
        w.AddDir(Path("in/hidden folder"));
        w.AddFile(Path("in/secret name.txt"), true);
        w.WriteDirectory();
        w.Verify();
    }
    const QByteArray zip = ReadBytes(Path("e.zip"));
    EXPECT_FALSE(zip.contains("secret"));
    EXPECT_FALSE(zip.contains("hidden"));
    EXPECT_TRUE(zip.contains("00000001/"));
    EXPECT_TRUE(zip.contains("00000002"));
    // Without a password there is nothing to encrypt names with.
    TZipWrite plain(Path("p.zip"), Path("in"));
    plain.SetEncryptNames(true);
    EXPECT_FALSE(plain.EncryptNames());
    plain.WriteDirectory();
}

TEST_F(ZipWriteTest, DeleteAndRenameTakeEveryPart)
{
    WriteBytes(Path("big.bin"), MixedData(300000, 2));
    TZipWrite w(Path("r.zip"), dir.path(), 0x10000);
    w.AddFile(Path("big.bin"), false);
    w.WriteDirectory();
    ASSERT_GT(w.NumberOfSegments(), 2);
    w.RenameZipFile(Path("new.zip"));
    EXPECT_TRUE(QFile::exists(Path("new.z01")));
    EXPECT_FALSE(QFile::exists(Path("r.z01")));
    if (kestest::HaveTool("7z")) {
        EXPECT_EQ(kestest::Run("7z", {"t", Path("new.zip")}).exitCode, 0);
    }
    w.DeleteZipFile();
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList {"big.bin"});
}

TEST_F(ZipWriteTest, AddFilesTakesTheMasksAndGoesOnAfterAFailure)
{
    WriteBytes(Path("in/a.txt"), "a");
    WriteBytes(Path("in/b.log"), "b");
    WriteBytes(Path("in/c.bin"), "c");
    QDir().mkpath(Path("in/d.txt")); // a folder is no file
    // A FIFO matches the mask but cannot be read as a file.
    ASSERT_EQ(kestest::Run("mkfifo", {Path("in/fifo.txt")}).exitCode, 0);
    TZipWrite w(Path("f.zip"), dir.path());
    int count = 0;
    QStringList errors;
    w.AddFiles(Path("in"), "*.txt; *.log", "sub", count, &errors);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(errors.size(), 1);
    ASSERT_EQ(w.Entries().size(), 2u);
    EXPECT_EQ(w.Entries()[0].Name, "sub/a.txt");
    EXPECT_EQ(w.Entries()[1].Name, "sub/b.log");
    w.WriteDirectory();
    w.Verify();
}

TEST_F(ZipWriteTest, Zip64OffsetsAndEndRecordsWithLoweredLimits)
{
    // Lowered limits: offsets past 32 KiB and more than three entries "do
    // not fit", so every Zip64 structure appears in a small archive, split
    // or not.
    struct Limits {
        TZip64Limits saved = Zip64Limits();
        ~Limits() { SetZip64Limits(saved); }
    } restore;
    SetZip64Limits(TZip64Limits {1000, 0x8000, 3});
    for (int i = 0; i < 5; ++i)
        WriteBytes(Path(QStringLiteral("in/%1.bin").arg(i)), MixedData(30000, quint32(i)));
    for (const qint64 split : {qint64(0), qint64(0x10000)}) {
        SCOPED_TRACE(split);
        const QString zip = Path(split ? "s.zip" : "z.zip");
        {
            TZipWrite w(zip, Path("in"), split);
            for (int i = 0; i < 5; ++i)
                w.AddFile(Path(QStringLiteral("in/%1.bin").arg(i)), i % 2 == 0);
            w.WriteDirectory();
            w.Verify();
        }
        const QByteArray last = ReadBytes(zip);
        EXPECT_TRUE(last.contains(QByteArray("PK\x06\x06", 4)));
        EXPECT_TRUE(last.contains(QByteArray("PK\x06\x07", 4)));
        if (split == 0) {
            const auto r
                = enginetest::Python("import sys, zipfile\n"
                                     "z = zipfile.ZipFile(sys.argv[1])\n"
                                     "print(len(z.infolist()), z.infolist()[4].header_offset > 0x8000, "
                                     "z.testzip())\n",
                    {zip});
            ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
            EXPECT_EQ(r.out.trimmed(), "5 True None");
        } else {
            EXPECT_GT(QDir(dir.path()).entryList({"s.z*"}).size(), 1);
        }
        if (kestest::HaveTool("7z")) {
            const auto t = kestest::Run("7z", {"t", zip});
            EXPECT_EQ(t.exitCode, 0) << t.out.toStdString();
        }
    }
}

} // namespace

// --- Batches: small files made ahead by a pool, written in order ------------

namespace {

// A directory entry, then files of mixed sizes below batch/: mostly small,
// two above the inline limit in between (items 6 and count - 2: they take
// the ordinary way), a tiny one, an empty one last.
std::vector<TZipBatchItem> MakeBatch(const QString& root, int count)
{
    std::vector<TZipBatchItem> items;
    QDir().mkpath(root + "/batch/sub");
    items.push_back({root + "/batch/sub", QString(), false, true});
    for (int i = 0; i < count; ++i) {
        qint64 size = 1000 + (i * 7919) % 12000;
        if (i == 5 || i == count - 3)
            size = TZipWrite::kInlineEntrySize + 1000 * (i + 1);
        else if (i == count - 1)
            size = 0;
        else if (i == 3)
            size = 7;
        const QString name = QStringLiteral("sub/f%1.bin").arg(i, 3, 10, QLatin1Char('0'));
        WriteBytes(root + "/batch/" + name, MixedData(size, quint32(i + 1)));
        items.push_back({root + "/batch/" + name, name, i % 4 != 1, false});
    }
    return items;
}

} // namespace

TEST_F(ZipWriteTest, BatchWritesItsItemsInOrderInEveryShape)
{
    REQUIRE_TOOL("7z");
    const std::vector<TZipBatchItem> items = MakeBatch(dir.path(), 40);
    struct Shape {
        const char* name;
        QByteArray password;
        int keyMode;
        qint64 split;
        int threads;
        bool encNames;
    } shapes[] = {
        {"plain", {}, 0, 0, 3, false},
        {"one thread", {}, 0, 0, 1, false},
        {"AES 256", "batch pw", 3, 0, 2, false},
        {"AES 128 with names", "batch pw", 1, 0, 4, true},
        {"split", {}, 0, 0x10000, 2, false},
        {"split and AES", "batch pw", 2, 0x10000, 2, false},
    };
    for (const Shape& s : shapes) {
        SCOPED_TRACE(s.name);
        const QString zip = Path(QString::fromUtf8(s.name).replace(u' ', u'_') + ".zip");
        QStringList names; // as stored: the numbers when names are encrypted
        {
            TZipWrite w(zip, Path("batch"), s.split, s.password, s.keyMode);
            w.SetDeflateThreads(s.threads);
            w.SetEncryptNames(s.encNames);
            w.AddBatch(items);
            ASSERT_EQ(w.Entries().size(), items.size());
            if (!s.encNames) {
                for (size_t i = 0; i < items.size(); ++i) {
                    const QString want = items[i].Dir ? "sub/" : items[i].Stored;
                    EXPECT_EQ(QString::fromUtf8(w.Entries()[i].Name), want) << i;
                }
            }
            for (const TZipEntry& e : w.Entries())
                names << QString::fromUtf8(e.Name);
            w.WriteDirectory();
            w.Verify();
        }
        QStringList pw;
        if (!s.password.isEmpty())
            pw << "-p" + QString::fromUtf8(s.password);
        const QString out = Path(QString::fromUtf8(s.name) + "-x");
        const auto x = kestest::Run("7z", QStringList {"x", "-y", "-o" + out} + pw + QStringList {zip});
        ASSERT_EQ(x.exitCode, 0) << x.out.toStdString() << x.err.toStdString();
        for (size_t i = 0; i < items.size(); ++i) {
            if (!items[i].Dir) {
                EXPECT_EQ(ReadBytes(out + "/" + names[qsizetype(i)]), ReadBytes(items[i].Source))
                    << items[i].Stored.toStdString();
            }
        }
    }
}

TEST_F(ZipWriteTest, BatchFailureInTheMiddleIsThatItemsAlone)
{
    std::vector<TZipBatchItem> items = MakeBatch(dir.path(), 12);
    // A file that is gone, and a name that would leave the folder, among
    // the others; the large item 6 comes after both.
    items.insert(items.begin() + 4, {Path("batch/gone.bin"), "gone.bin", true, false});
    items.insert(items.begin() + 6, {items[1].Source, "../out.bin", true, false});
    const QString zip = Path("failing.zip");
    TZipWrite w(zip, Path("batch"));
    std::vector<std::pair<size_t, int>> failed;
    w.AddBatch(items, [&](size_t index, const EZipError& e) {
        failed.emplace_back(index, e.ZipError());
        return true;
    });
    const std::vector<std::pair<size_t, int>> expected {
        {4, 0x410E}, {6, ((kSeverityError + enIllegalHeader) & 0xFFF) | kOpZip}};
    EXPECT_EQ(failed, expected);
    ASSERT_EQ(w.Entries().size(), items.size() - 2);
    size_t n = 0;
    for (size_t i = 0; i < items.size(); ++i) {
        if (i == 4 || i == 6)
            continue;
        EXPECT_EQ(QString::fromUtf8(w.Entries()[n++].Name), items[i].Dir ? "sub/" : items[i].Stored);
    }
    w.WriteDirectory();
    w.Verify();
    if (kestest::HaveTool("unzip")) {
        EXPECT_EQ(kestest::Run("unzip", {"-tq", zip}).exitCode, 0);
    }
    // Without a handler the first failure ends the batch: the items before
    // it stay.
    TZipWrite w2(Path("ends.zip"), Path("batch"));
    EXPECT_EQ(ZipErrorOf([&] { w2.AddBatch(items); }), 0x410E);
    EXPECT_EQ(w2.Entries().size(), 4u);
    w2.WriteDirectory();
    w2.Verify();
}

TEST_F(ZipWriteTest, BatchCancelLeavesNoEntryAfterTheCancelPoint)
{
    const std::vector<TZipBatchItem> items = MakeBatch(dir.path(), 20);
    // Cancelled at the announcement of item 4 (small, made ahead), of item
    // 6 (large, the ordinary way) and of item 12.
    for (const int at : {4, 6, 12}) {
        SCOPED_TRACE(at);
        const QString zip = Path(QStringLiteral("cancel%1.zip").arg(at));
        TZipWrite w(zip, Path("batch"));
        // Item k (the directory entry announces nothing) is announcement k.
        int announced = 0;
        w.SetOnProgress([&](TFileAction, bool, qint64 count) {
            if (count < 0 && ++announced == at)
                w.Cancel();
        });
        bool handlerCalled = false;
        const int word = ZipErrorOf([&] {
            w.AddBatch(items, [&](size_t, const EZipError&) {
                handlerCalled = true;
                return true;
            });
        });
        EXPECT_EQ(word, 0x4080);
        EXPECT_FALSE(handlerCalled);
        EXPECT_EQ(w.Entries().size(), size_t(at));
        EXPECT_EQ(w.Entries().back().Name, items[size_t(at) - 1].Stored.toUtf8());
        w.WriteDirectory();
        w.Verify();
        if (kestest::HaveTool("unzip")) {
            EXPECT_EQ(kestest::Run("unzip", {"-tq", zip}).exitCode, 0);
        }
    }
}
