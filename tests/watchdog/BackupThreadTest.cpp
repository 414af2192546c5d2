// The backup thread: destination names, compression by type, versions,
// reports, failures, and what never leaves the monitored directory and the
// destination. Real files, real copy workers, gzip and unzip as oracles.
#include "watchdog/BackupThread.h"
#include "common/TestSupport.h"
#include "platform/FileName.h"
#include "platform/FileSystem.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

using namespace kes;
using kestest::ReadBytes;
using kestest::WriteBytes;

namespace {

TEST(BackupNameTest, DestinationNamesInBothPathStyles)
{
    struct Case {
        const char* dest;
        const char* drv;
        const char* source;
        int hour;
        PathStyle style;
        const char* root;
        const char* name;
    } cases[] = {
        {"E:\\B\\", "Drv?", "C:\\Data\\sub\\a.txt", 9, PathStyle::Windows, "E:\\B\\",
            "E:\\B\\DrvC\\Data\\sub\\a.txt"},
        {"E:\\B\\", "", "C:\\Data\\sub\\a.txt", 9, PathStyle::Windows, "E:\\B\\", "E:\\B\\Data\\sub\\a.txt"},
        {"E:\\B\\", "Lw", "c:\\x.txt", 9, PathStyle::Windows, "E:\\B\\", "E:\\B\\LwC\\x.txt"},
        {"E:\\B\\", "Drv?", "\\\\nas\\data\\d\\x.txt", 9, PathStyle::Windows, "E:\\B\\",
            "E:\\B\\nas\\data\\d\\x.txt"},
        {"E:\\B\\%hour%\\", "", "C:\\x.txt", 9, PathStyle::Windows, "E:\\B\\09\\", "E:\\B\\09\\x.txt"},
        // Linux: no drive part, so both layouts give the same name.
        {"/b/", "Drv?", "/home/u/a.txt", 23, PathStyle::Posix, "/b/", "/b/home/u/a.txt"},
        {"/b/", "", "/home/u/a.txt", 23, PathStyle::Posix, "/b/", "/b/home/u/a.txt"},
        {"/b/%HOUR%/", "", "/x/y.txt", 0, PathStyle::Posix, "/b/00/", "/b/00/x/y.txt"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source);
        const TBackupTarget t = BackupTarget(QString::fromUtf8(c.dest), QString::fromUtf8(c.drv),
            QString::fromUtf8(c.source), c.hour, c.style);
        EXPECT_EQ(t.Root, QString::fromUtf8(c.root));
        EXPECT_EQ(t.Name, QString::fromUtf8(c.name));
    }
}

TEST(BackupNameTest, ExtensionsAndVersionNames)
{
    struct Case {
        const char* path;
        PathStyle style;
        const char* ext;
        const char* version2;
    } cases[] = {
        {"D:\\B\\report.docx", PathStyle::Windows, "docx", "D:\\B\\report.bak-2.docx"},
        {"D:\\B\\Makefile", PathStyle::Windows, "", "D:\\B\\Makefile.bak-2"},
        {"D:\\x.y\\Makefile", PathStyle::Windows, "", "D:\\x.y\\Makefile.bak-2"},
        {"/b/notes.txt", PathStyle::Posix, "txt", "/b/notes.bak-2.txt"},
        {"/b/a.tar.gz", PathStyle::Posix, "gz", "/b/a.tar.bak-2.gz"},
        {"/b/x.y/Makefile", PathStyle::Posix, "", "/b/x.y/Makefile.bak-2"},
        {"/b/.bashrc", PathStyle::Posix, "bashrc", "/b/.bak-2.bashrc"},
        {"/b/a\\b.c\\d", PathStyle::Posix, "c\\d", "/b/a\\b.bak-2.c\\d"}, // "\" is a character on Linux
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(FileExt(QString::fromUtf8(c.path), c.style), QString::fromUtf8(c.ext));
        EXPECT_EQ(VersionName(QString::fromUtf8(c.path), 2, c.style), QString::fromUtf8(c.version2));
    }
}

class BackupThreadTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        data = tmp.path() + QStringLiteral("/data");
        dest = tmp.path() + QStringLiteral("/dest/");
        ASSERT_TRUE(QDir().mkpath(data));
    }
    QString Src(const QString& rel) const { return data + u'/' + rel; }
    // Where a source file lands (both layouts on Linux).
    QString Out(const QString& rel) const { return dest + data.mid(1) + u'/' + rel; }

    QStringList Run(const QStringList& names, int compress, int retain, const QString& noComp = {},
        const QString& destination = {}, TClockPtr clock = nullptr)
    {
        TMatchList list(TMatchList::kExactNames);
        for (const QString& n : names)
            list.Add(n);
        QStringList reports;
        TBackupThread thread(
            7, destination.isEmpty() ? dest : destination, data, QStringLiteral("Drv?"), noComp, list,
            compress, retain, [&reports](const QString& s) { reports << s; },
            TBackupThreadExtras {std::move(clock), {}, {}});
        EXPECT_TRUE(kestest::WaitUntil([&] { return thread.Finished(); }, std::chrono::seconds(60)));
        return reports;
    }

    QTemporaryDir tmp;
    QString data, dest;
};

// The lines of a report after its first.
QStringList ErrorLines(const QString& report)
{
    QStringList lines = report.split(QStringLiteral("\r\n"));
    lines.removeFirst();
    return lines;
}

TEST_F(BackupThreadTest, CompressionByTypeAndVersionsInEveryMode)
{
    if (!kestest::HaveTool("gzip") || !kestest::HaveTool("unzip"))
        KESTEST_SKIP_OR_FAIL("gzip and unzip are the oracles of this test");
    struct Mode {
        int compress;
        const char* suffix;
    } modes[] = {{0, ""}, {1, ".gz"}, {2, ".zip"}};
    for (const Mode& m : modes) {
        SCOPED_TRACE(m.compress);
        dest = tmp.path() + QStringLiteral("/dest%1/").arg(m.compress);
        const QString suffix = QString::fromUtf8(m.suffix);
        // The stored content of a copy, read with the outside tools.
        auto content = [&](const QString& file, bool compressed) -> QByteArray {
            if (!compressed)
                return ReadBytes(file);
            if (m.compress == 1)
                return kestest::Run("gzip", {"-dc", file}).out;
            return kestest::Run("unzip", {"-p", file}).out;
        };
        WriteBytes(Src("notes.txt"), "v1 notes notes notes notes notes notes");
        WriteBytes(Src("photo.JPG"), "jpeg-ish bytes");
        WriteBytes(Src("Makefile"), "all:\n");
        const QStringList reports = Run({"notes.txt", "photo.JPG", "Makefile"}, m.compress, 2, "jpg,png");
        ASSERT_EQ(reports.size(), 3);
        // Sorted order, one line each, no error.
        EXPECT_TRUE(
            reports[0].endsWith(QStringLiteral(" - 07: ") + Src("Makefile") + QStringLiteral(" => ") + dest))
            << reports[0].toStdString();
        EXPECT_FALSE(reports.join(u'|').contains(QStringLiteral("***"))) << reports.join(u'\n').toStdString();

        // gzip leaves the listed types plain; zip stores them uncompressed.
        const QString photo = Out(m.compress == 2 ? "photo.JPG.zip" : "photo.JPG");
        ASSERT_TRUE(QFile::exists(photo));
        EXPECT_EQ(content(photo, m.compress == 2), QByteArray("jpeg-ish bytes"));
        EXPECT_EQ(content(Out("notes.txt" + suffix), m.compress != 0),
            QByteArray("v1 notes notes notes notes notes notes"));
        EXPECT_EQ(content(Out("Makefile" + suffix), m.compress != 0), QByteArray("all:\n"));
        if (m.compress == 1) {
            EXPECT_EQ(kestest::Run("gzip", {"-t", Out("notes.txt.gz")}).exitCode, 0);
        }
        if (m.compress == 2) {
            EXPECT_EQ(kestest::Run("unzip", {"-tq", Out("notes.txt.zip")}).exitCode, 0);
            EXPECT_TRUE(kestest::Run("unzip", {"-v", photo}).out.contains("Stored"));
            EXPECT_TRUE(kestest::Run("unzip", {"-v", Out("notes.txt.zip")}).out.contains("Defl"));
        }

        // Three more versions of notes.txt and Makefile: two previous versions are kept.
        for (int v = 2; v <= 4; ++v) {
            WriteBytes(Src("notes.txt"), QByteArray("v") + QByteArray::number(v) + " notes");
            WriteBytes(Src("Makefile"), QByteArray("v") + QByteArray::number(v));
            const QStringList r = Run({"notes.txt", "Makefile"}, m.compress, 2, "jpg,png");
            ASSERT_EQ(r.size(), 2);
            const QString moved = v == 2 ? QStringLiteral(" (+1)") : QStringLiteral(" (+2)");
            EXPECT_TRUE(r[0].endsWith(moved)) << r[0].toStdString();
            EXPECT_TRUE(r[1].endsWith(moved)) << r[1].toStdString();
        }
        const bool packed = m.compress != 0;
        EXPECT_EQ(content(Out("notes.txt" + suffix), packed), QByteArray("v4 notes"));
        EXPECT_EQ(content(Out("notes.bak-1.txt" + suffix), packed), QByteArray("v3 notes"));
        EXPECT_EQ(content(Out("notes.bak-2.txt" + suffix), packed), QByteArray("v2 notes"));
        EXPECT_FALSE(QFile::exists(Out("notes.bak-3.txt" + suffix)));
        EXPECT_EQ(content(Out("Makefile.bak-2" + suffix), packed), QByteArray("v2"));
        EXPECT_FALSE(QFile::exists(Out("notes.txt" + suffix + ".tmp")));
        EXPECT_EQ(QDir(Out("")).entryList(QDir::Files).size(), 7);
    }
}

TEST_F(BackupThreadTest, WithoutVersionsTheCopyIsReplaced)
{
    WriteBytes(Src("a.txt"), "old");
    Run({"a.txt"}, 0, 0);
    WriteBytes(Src("a.txt"), "new");
    const QStringList r = Run({"a.txt"}, 0, 0);
    ASSERT_EQ(r.size(), 1);
    EXPECT_FALSE(r[0].contains(QStringLiteral("(+")));
    EXPECT_EQ(ReadBytes(Out("a.txt")), QByteArray("new"));
    EXPECT_EQ(QDir(Out("")).entryList(QDir::Files), QStringList {"a.txt"});
}

TEST_F(BackupThreadTest, HourPlaceholderTakesTheClock)
{
    WriteBytes(Src("a.txt"), "x");
    const QDateTime at(QDate(2025, 6, 1), QTime(9, 15));
    const QStringList r = Run({"a.txt"}, 0, 0, {}, tmp.path() + QStringLiteral("/hourly/%hour%/"),
        std::make_shared<TSettableClock>(at));
    ASSERT_EQ(r.size(), 1);
    EXPECT_TRUE(QFile::exists(tmp.path() + QStringLiteral("/hourly/09") + data + QStringLiteral("/a.txt")));
    // The report names the destination as the task gives it.
    EXPECT_TRUE(r[0].startsWith(LogDateTime(at) + QStringLiteral(" - 07: "))) << r[0].toStdString();
    EXPECT_TRUE(r[0].endsWith(QStringLiteral("/hourly/%hour%/")));
}

TEST_F(BackupThreadTest, FailuresAreReportedAndLeaveVersionsAlone)
{
    // An earlier backup with a version.
    WriteBytes(Out("gone.txt"), "current");
    WriteBytes(Out("gone.bak-1.txt"), "previous");
    QDir().mkpath(Src("adir"));
    const QStringList r = Run({"adir", "gone.txt"}, 0, 3);
    ASSERT_EQ(r.size(), 2);
    for (const QString& report : r) {
        SCOPED_TRACE(report.toStdString());
        const QStringList errors = ErrorLines(report);
        ASSERT_EQ(errors.size(), 1);
        EXPECT_TRUE(errors[0].startsWith(QStringLiteral("  *** Error - ")));
    }
    EXPECT_TRUE(r[1].contains(QStringLiteral("  *** Error - File not found (-> Copy)")))
        << r[1].toStdString();
    EXPECT_EQ(ReadBytes(Out("gone.txt")), QByteArray("current"));
    EXPECT_EQ(ReadBytes(Out("gone.bak-1.txt")), QByteArray("previous"));
    EXPECT_FALSE(QFile::exists(Out("gone.txt.tmp")));

    // A destination below a file: the directory cannot be made.
    WriteBytes(tmp.path() + QStringLiteral("/afile"), "x");
    WriteBytes(Src("b.txt"), "b");
    const QStringList d = Run({"b.txt"}, 1, 0, {}, tmp.path() + QStringLiteral("/afile/dest/"));
    ASSERT_EQ(d.size(), 1);
    EXPECT_TRUE(d[0].contains(QStringLiteral("\r\n  *** Error - Could not create directory: \"")))
        << d[0].toStdString();
}

TEST_F(BackupThreadTest, FailedVersionStepsSayWhichStepFailed)
{
    // The name of the first version is taken by a directory: the former copy
    // cannot become a version; it is deleted so the new copy takes its place.
    WriteBytes(Src("r.txt"), "new");
    WriteBytes(Out("r.txt"), "old");
    ASSERT_TRUE(QDir().mkpath(Out("r.bak-1.txt/inside")));
    QStringList rep = Run({"r.txt"}, 0, 1);
    ASSERT_EQ(rep.size(), 1);
    QStringList errors = ErrorLines(rep[0]);
    ASSERT_EQ(errors.size(), 1) << rep[0].toStdString();
    EXPECT_TRUE(
        errors[0].startsWith(QStringLiteral("  *** Could not rename the former copy \"") + Out("r.txt")
            + QStringLiteral("\" to the previous version \"") + Out("r.bak-1.txt") + QStringLiteral("\": ")))
        << errors[0].toStdString();
    EXPECT_EQ(ReadBytes(Out("r.txt")), QByteArray("new"));
    EXPECT_FALSE(QFile::exists(Out("r.txt.tmp")));

    // The destination name itself is a directory: the temporary copy cannot
    // take its name (291) and stays.
    WriteBytes(Src("s.txt"), "new");
    ASSERT_TRUE(QDir().mkpath(Out("s.txt/inside")));
    rep = Run({"s.txt"}, 0, 0);
    ASSERT_EQ(rep.size(), 1);
    errors = ErrorLines(rep[0]);
    ASSERT_EQ(errors.size(), 1) << rep[0].toStdString();
    EXPECT_TRUE(errors[0].startsWith(QStringLiteral("  *** Error - Could not rename temporary file: ")))
        << errors[0].toStdString();
    EXPECT_EQ(ReadBytes(Out("s.txt.tmp")), QByteArray("new"));
}

TEST_F(BackupThreadTest, EachReportIsHandedOverBeforeTheNextFile)
{
    QStringList names;
    for (int i = 0; i < 40; ++i) {
        names << QStringLiteral("f%1.txt").arg(i, 2, 10, QChar(u'0'));
        WriteBytes(Src(names.last()), "x");
    }
    TMatchList list(TMatchList::kExactNames);
    for (const QString& n : names)
        list.Add(n);
    // While a report is being taken, the next file is not copied yet; a
    // slow owner (beyond the thread's short watch) is waited for as well.
    int reports = 0;
    QStringList early;
    TBackupThread thread(1, dest, data, QString(), QString(), list, 0, 0, [&](const QString&) {
        if (reports + 1 < names.size() && QFile::exists(Out(names[reports + 1])))
            early << names[reports + 1];
        if (reports % 8 == 0)
            QThread::msleep(3);
        ++reports;
    });
    ASSERT_TRUE(kestest::WaitUntil([&] { return thread.Finished(); }, std::chrono::seconds(60)));
    EXPECT_EQ(reports, names.size());
    EXPECT_TRUE(early.isEmpty()) << early.join(u' ').toStdString();
}

TEST_F(BackupThreadTest, AnOwnerThatEndsEarlyStopsTheThreadWithoutItsReports)
{
    TMatchList list(TMatchList::kExactNames);
    for (int i = 0; i < 200; ++i) {
        const QString name = QStringLiteral("g%1.txt").arg(i, 3, 10, QChar(u'0'));
        WriteBytes(Src(name), "x");
        list.Add(name);
    }
    int reports = 0;
    // No event is processed before the owner goes: the pending report is
    // answered by the destructor, not passed on, and the thread stops.
    delete new TBackupThread(
        1, dest, data, QString(), QString(), list, 0, 0, [&](const QString&) { ++reports; });
    EXPECT_EQ(reports, 0);
    EXPECT_LT(QDir(Out("")).entryList(QDir::Files).size(), 200);
}

TEST_F(BackupThreadTest, NamesWithLineBreaksAndRawBytes)
{
    const QString lineBreak = QStringLiteral("two\nlines.txt");
    const QString raw = platform::DecodeName(QByteArray("raw\xff\xfe.txt"));
    for (const QString& name : {lineBreak, raw}) {
        int fd = -1;
        ASSERT_EQ(platform::OpenFile(Src(name), platform::ofWrite | platform::ofCreate, 0644, fd), 0);
        qint64 done = 0;
        platform::WriteFile(fd, "content", 7, done);
        platform::CloseFile(fd);
    }
    const QStringList r = Run({lineBreak, raw}, 1, 0);
    ASSERT_EQ(r.size(), 2);
    // Each report stays one line; the name shows its line break as "\n".
    EXPECT_TRUE(r.join(u'|').contains(QStringLiteral("two\\nlines.txt => ")));
    EXPECT_FALSE(r.join(u'|').contains(QStringLiteral("\r\n")));
    for (const QString& name : {lineBreak, raw}) {
        platform::FileStatus st;
        EXPECT_EQ(platform::GetFileStatus(Out(name + QStringLiteral(".gz")), false, st), 0)
            << platform::EncodeName(name).toStdString();
    }
    // Qt cannot remove names that are not UTF-8.
    kestest::Run(QStringLiteral("rm"), {QStringLiteral("-rf"), tmp.path()});
}

TEST_F(BackupThreadTest, NothingIsReadOrWrittenOutsideItsTree)
{
    const QString outside = tmp.path() + QStringLiteral("/outside");
    ASSERT_TRUE(QDir().mkpath(outside));
    WriteBytes(outside + QStringLiteral("/secret.txt"), "secret");
    WriteBytes(outside + QStringLiteral("/victim.txt"), "victim");
    WriteBytes(tmp.path() + QStringLiteral("/up.txt"), "up");
    WriteBytes(Src("real.txt"), "real");
    WriteBytes(Src("sub/x.txt"), "x");
    WriteBytes(Src("y.txt"), "y");
    WriteBytes(Src("z.txt"), "z");
    ASSERT_TRUE(QFile::link(outside + QStringLiteral("/secret.txt"), Src("out-link.txt")));
    ASSERT_TRUE(QFile::link(Src("real.txt"), Src("in-link.txt")));
    // At the destination: a directory that leads out, a file name that is a
    // link to a file outside, and a link that leads nowhere.
    ASSERT_TRUE(QDir().mkpath(Out("")));
    ASSERT_TRUE(QFile::link(outside, Out("sub")));
    ASSERT_TRUE(QFile::link(outside + QStringLiteral("/victim.txt"), Out("y.txt")));
    ASSERT_TRUE(QFile::link(outside + QStringLiteral("/new.txt"), Out("z.txt")));

    const QStringList r
        = Run({"../up.txt", "in-link.txt", "out-link.txt", "sub/x.txt", "y.txt", "z.txt"}, 0, 0);
    ASSERT_EQ(r.size(), 6);
    const QString notCopied = QStringLiteral("\r\n  *** The file lies outside the monitored directory");
    EXPECT_TRUE(r[0].contains(notCopied)) << r[0].toStdString();
    EXPECT_FALSE(r[1].contains(QStringLiteral("***"))) << r[1].toStdString();
    EXPECT_TRUE(r[2].contains(notCopied)) << r[2].toStdString();
    EXPECT_TRUE(r[3].contains(QStringLiteral("\r\n  *** The directory \"") + Out("sub")
        + QStringLiteral("\" lies outside the destination")))
        << r[3].toStdString();
    EXPECT_FALSE(r[4].contains(QStringLiteral("***"))) << r[4].toStdString();
    EXPECT_FALSE(r[5].contains(QStringLiteral("***"))) << r[5].toStdString();

    EXPECT_EQ(ReadBytes(Out("in-link.txt")), QByteArray("real"));
    EXPECT_FALSE(QFile::exists(Out("out-link.txt")));
    EXPECT_FALSE(QFile::exists(dest + tmp.path().mid(1) + QStringLiteral("/up.txt")));
    // The links at the destination were replaced, not written through.
    EXPECT_EQ(QDir(outside).entryList(QDir::Files), (QStringList {"secret.txt", "victim.txt"}));
    EXPECT_EQ(ReadBytes(outside + QStringLiteral("/victim.txt")), QByteArray("victim"));
    EXPECT_FALSE(QFileInfo(Out("y.txt")).isSymLink());
    EXPECT_EQ(ReadBytes(Out("y.txt")), QByteArray("y"));
    EXPECT_EQ(ReadBytes(Out("z.txt")), QByteArray("z"));
}

// One pass with the extras: what became of each file, and a hook at each
// step.
struct TOutcomes {
    QStringList Reports;
    QList<QPair<QString, TBackupOutcome>> Done;
};

TEST_F(BackupThreadTest, CopiesTakeTheirNameOnlyWhenComplete)
{
    // New and existing copies alike are written under ".tmp" and renamed.
    WriteBytes(Src("new.txt"), "new");
    WriteBytes(Src("old.txt"), "second");
    WriteBytes(Out("old.txt"), "first");
    TMatchList list(TMatchList::kExactNames);
    list.Add(QStringLiteral("new.txt"));
    list.Add(QStringLiteral("old.txt"));
    QStringList seen;
    TBackupThreadExtras extras;
    extras.StepHook = [&](TBackupStep step, const QString& name) {
        if (step != bsBeforePlace)
            return;
        seen << name;
        EXPECT_TRUE(QFile::exists(Out(name + QStringLiteral(".tmp")))) << name.toStdString();
        EXPECT_EQ(
            ReadBytes(Out(name)), name == QStringLiteral("old.txt") ? QByteArray("first") : QByteArray())
            << name.toStdString();
    };
    TOutcomes o;
    extras.OnFileDone = [&o](const QString& name, TBackupOutcome outcome) { o.Done.append({name, outcome}); };
    TBackupThread thread(1, dest, data, QString(), QString(), list, 0, 1, nullptr, std::move(extras));
    ASSERT_TRUE(kestest::WaitUntil([&] { return thread.Finished(); }, std::chrono::seconds(60)));
    EXPECT_EQ(seen, (QStringList {"new.txt", "old.txt"}));
    EXPECT_EQ(ReadBytes(Out("new.txt")), QByteArray("new"));
    EXPECT_EQ(ReadBytes(Out("old.txt")), QByteArray("second"));
    EXPECT_EQ(ReadBytes(Out("old.bak-1.txt")), QByteArray("first"));
    EXPECT_EQ(QDir(Out("")).entryList({QStringLiteral("*.tmp")}), QStringList());
    // The outcomes come without a report receiver too.
    ASSERT_EQ(o.Done.size(), 2);
    EXPECT_EQ(o.Done[0].second, boCopied);
    EXPECT_EQ(o.Done[1].second, boCopied);
}

TEST_F(BackupThreadTest, WhatBecomesOfFilesThatCouldNotBeCopied)
{
    // gone.txt: the source is gone (its leftover temporary copy goes too);
    // adir: a directory, never a regular file; blocked/f.txt: its target
    // directory is in the way (a cause that can heal).
    WriteBytes(Out("gone.txt.tmp"), "cut off");
    ASSERT_TRUE(QDir().mkpath(Src("adir")));
    WriteBytes(Src("blocked/f.txt"), "f");
    WriteBytes(Out("blocked"), "a file where a folder goes");
    TMatchList list(TMatchList::kExactNames);
    for (const char* n : {"adir", "blocked/f.txt", "gone.txt"})
        list.Add(QString::fromUtf8(n));
    TOutcomes o;
    TBackupThreadExtras extras;
    extras.OnFileDone = [&o](const QString& name, TBackupOutcome outcome) { o.Done.append({name, outcome}); };
    TBackupThread thread(
        1, dest, data, QString(), QString(), list, 0, 0, [&o](const QString& r) { o.Reports << r; },
        std::move(extras));
    ASSERT_TRUE(kestest::WaitUntil([&] { return thread.Finished(); }, std::chrono::seconds(60)));
    ASSERT_EQ(o.Done.size(), 3);
    EXPECT_EQ(o.Done[0], qMakePair(QStringLiteral("adir"), boDropped));
    EXPECT_EQ(o.Done[1], qMakePair(QStringLiteral("blocked/f.txt"), boRetry));
    EXPECT_EQ(o.Done[2], qMakePair(QStringLiteral("gone.txt"), boDropped));
    ASSERT_EQ(o.Reports.size(), 3);
    EXPECT_TRUE(
        o.Reports[1].endsWith(QStringLiteral(" The file stays pending and is copied at the next backup.")))
        << o.Reports[1].toStdString();
    EXPECT_FALSE(o.Reports[2].contains(QStringLiteral("stays pending"))) << o.Reports[2].toStdString();
    EXPECT_FALSE(QFile::exists(Out("gone.txt.tmp")));
}

TEST_F(BackupThreadTest, APlantedLinkAtTheTemporaryNameIsNeverWrittenThrough)
{
    // Between the removal of a leftover and the copy, someone puts links at
    // the temporary names: to a file outside, and to a name outside that
    // does not exist yet.
    const QString outside = tmp.path() + QStringLiteral("/outside");
    WriteBytes(outside + QStringLiteral("/victim.txt"), "victim");
    WriteBytes(Src("a.txt"), "a");
    WriteBytes(Src("b.txt"), "b");
    TMatchList list(TMatchList::kExactNames);
    list.Add(QStringLiteral("a.txt"));
    list.Add(QStringLiteral("b.txt"));
    TBackupThreadExtras extras;
    extras.StepHook = [&](TBackupStep step, const QString& name) {
        if (step != bsBeforeCopy)
            return;
        const QString target = outside
            + (name == QStringLiteral("a.txt") ? QStringLiteral("/victim.txt")
                                               : QStringLiteral("/created.txt"));
        EXPECT_TRUE(QFile::link(target, Out(name + QStringLiteral(".tmp"))));
    };
    TOutcomes o;
    extras.OnFileDone = [&o](const QString& name, TBackupOutcome outcome) { o.Done.append({name, outcome}); };
    TBackupThread thread(
        1, dest, data, QString(), QString(), list, 0, 0, [&o](const QString& r) { o.Reports << r; },
        std::move(extras));
    ASSERT_TRUE(kestest::WaitUntil([&] { return thread.Finished(); }, std::chrono::seconds(60)));
    EXPECT_EQ(ReadBytes(outside + QStringLiteral("/victim.txt")), QByteArray("victim"));
    EXPECT_FALSE(QFile::exists(outside + QStringLiteral("/created.txt")));
    EXPECT_EQ(QDir(outside).entryList(QDir::Files), QStringList {"victim.txt"});
    // The copies failed (and stay pending); nothing took a final name.
    ASSERT_EQ(o.Done.size(), 2);
    EXPECT_EQ(o.Done[0].second, boRetry);
    EXPECT_EQ(o.Done[1].second, boRetry);
    EXPECT_FALSE(QFile::exists(Out("a.txt")));
    EXPECT_FALSE(QFile::exists(Out("b.txt")));
}

TEST_F(BackupThreadTest, TheReportIsStampedWhenTheCopyIsDone)
{
    // A copy that takes long: the hour of "%hour%" is the one it began in,
    // the report's time the one it ended at.
    WriteBytes(Src("a.txt"), "x");
    TMatchList list(TMatchList::kExactNames);
    list.Add(QStringLiteral("a.txt"));
    const QDateTime began(QDate(2025, 6, 1), QTime(9, 59, 30));
    auto clock = std::make_shared<TSettableClock>(began);
    TBackupThreadExtras extras;
    extras.Clock = clock;
    extras.StepHook = [&](TBackupStep step, const QString&) {
        if (step == bsBeforePlace)
            clock->Advance(5 * 60 * 1000);
    };
    QStringList reports;
    TBackupThread thread(
        1, tmp.path() + QStringLiteral("/hourly/%hour%/"), data, QString(), QString(), list, 0, 0,
        [&reports](const QString& r) { reports << r; }, std::move(extras));
    ASSERT_TRUE(kestest::WaitUntil([&] { return thread.Finished(); }, std::chrono::seconds(60)));
    ASSERT_EQ(reports.size(), 1);
    EXPECT_TRUE(reports[0].startsWith(LogDateTime(began.addSecs(300)) + QStringLiteral(" - 01: ")))
        << reports[0].toStdString();
    EXPECT_TRUE(QFile::exists(tmp.path() + QStringLiteral("/hourly/09") + data + QStringLiteral("/a.txt")));
}

TEST_F(BackupThreadTest, CopiesAndTheirFoldersGrantNoMoreThanTheirSources)
{
    // A private folder with a private file: the folders made for the copy
    // are no more open, and the destination made for it is the owner's.
    ASSERT_TRUE(QDir().mkpath(Src("private")));
    WriteBytes(Src("private/key.txt"), "secret");
    ASSERT_EQ(platform::SetFileMode(Src("private/key.txt"), 0600), 0);
    ASSERT_EQ(platform::SetFileMode(Src("private"), 0700), 0);
    ASSERT_EQ(platform::SetFileMode(data, 0750), 0);
    for (int compress : {0, 1, 2}) {
        SCOPED_TRACE(compress);
        QDir(dest).removeRecursively();
        const QStringList r = Run({"private/key.txt"}, compress, 0);
        ASSERT_EQ(r.size(), 1);
        ASSERT_FALSE(r[0].contains(QStringLiteral("***"))) << r[0].toStdString();
        const QString suffix = compress == 1 ? QStringLiteral(".gz")
            : compress == 2                  ? QStringLiteral(".zip")
                                             : QString();
        platform::FileStatus st;
        ASSERT_EQ(platform::GetFileStatus(Out("private/key.txt") + suffix, false, st), 0);
        EXPECT_EQ(st.mode & 0777, 0600u);
        ASSERT_EQ(platform::GetFileStatus(Out("private"), false, st), 0);
        EXPECT_EQ(st.mode & 0777, 0700u);
        ASSERT_EQ(platform::GetFileStatus(Out(""), false, st), 0);
        EXPECT_EQ(st.mode & 0077, 0750u & 0077);
        ASSERT_EQ(platform::GetFileStatus(dest, false, st), 0);
        EXPECT_EQ(st.mode & 0777, 0700u);
    }
}

} // namespace
