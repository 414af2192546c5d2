// A real Zip64 archive: a sparse source above 4 GiB that compresses to a
// few MiB, written, verified and read back by Python's zipfile. Labelled
// "large" (run with ctest -L large); it reads 4.5 GiB twice.
#include "EngineTestSupport.h"
#include "fileengine/CopyThread.h"
#include "fileengine/ZipWrite.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace kes;

namespace {

TEST(LargeZip64, SparseSourceAboveFourGiB)
{
    QTemporaryDir dir;
    const QString src = dir.filePath("sparse.img");
    const qint64 size = (qint64(9) << 29) + 12345; // 4.5 GiB and a bit
    {
        QFile f(src);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_TRUE(f.seek(size - 5));
        ASSERT_EQ(f.write("tail!"), 5);
    }
    const auto o = enginetest::RunCopy(
        src, dir.filePath("big.zip"), TCopyOptions {coZipCompress, coCompress, coVerify, coOverwrite});
    ASSERT_EQ(o.error, 0) << o.message.toStdString();
    const auto r = enginetest::Python("import sys, zipfile\n"
                                      "z = zipfile.ZipFile(sys.argv[1])\n"
                                      "i = z.infolist()[0]\n"
                                      "with z.open(i) as f:\n"
                                      "    f.seek(i.file_size - 5)\n"
                                      "    tail = f.read()\n"
                                      "print(i.file_size, i.compress_size < 2**32, tail.decode())\n",
        {dir.filePath("big.zip")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out.trimmed(), QByteArray::number(size) + " True tail!");
    const QByteArray zip = kestest::ReadBytes(dir.filePath("big.zip"));
    EXPECT_EQ(quint8(zip[4]), 45);
}

// An archive of several entries past 4 GiB: a stored sparse file moves the
// following entries' offsets and the central directory beyond 32 bits.
TEST(LargeZipWrite, ArchiveAboveFourGiBWithEntriesAfterIt)
{
    QTemporaryDir dir;
    const QString src = dir.filePath("sparse.img");
    const qint64 size = (qint64(1) << 32) + 4096;
    {
        QFile f(src);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_TRUE(f.seek(size - 5));
        ASSERT_EQ(f.write("tail!"), 5);
    }
    kestest::WriteBytes(dir.filePath("after.txt"), "after the big one\n");
    const QString zip = dir.filePath("big.zip");
    {
        TZipWrite w(zip, dir.path());
        w.AddFile(src, false);
        w.AddFile(dir.filePath("after.txt"), true);
        w.WriteDirectory();
        w.Verify();
    }
    QFile::remove(src);
    const auto r = enginetest::Python(
        "import sys, zipfile\n"
        "z = zipfile.ZipFile(sys.argv[1])\n"
        "a, b = z.infolist()\n"
        "print(a.file_size, b.header_offset > 2**32, z.read('after.txt').decode().strip())\n",
        {zip});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out.trimmed(), QByteArray::number(size) + " True after the big one");
    if (kestest::HaveTool("7z")) {
        EXPECT_EQ(kestest::Run("7z", {"t", zip}, {}, {}, 600000).exitCode, 0);
    }
}

} // namespace
