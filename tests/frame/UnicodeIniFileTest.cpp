#include "frame/UnicodeIniFile.h"

#include "common/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cerrno>
#include <gtest/gtest.h>

using kes::TUnicodeIniFile;
using kestest::ReadBytes;
using kestest::WriteBytes;

namespace {

class UnicodeIniFileTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString Path(const QString& name) const { return dir.filePath(name); }
};

QByteArray Utf16Be(const QString& text)
{
    QByteArray out("\xFE\xFF", 2);
    for (QChar c : text) {
        out.append(char(c.unicode() >> 8));
        out.append(char(c.unicode() & 0xFF));
    }
    return out;
}

// Every name in a folder, hidden ones included.
QStringList AllEntries(const QString& folder)
{
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace

TEST_F(UnicodeIniFileTest, EveryEncodingIsReadByItsMarkOrContent)
{
    const QString text = QString::fromUtf8("[Sec]\r\nKey=Wert \xC3\xA4 \xE2\x82\xAC\r\n");
    const QString expected = QString::fromUtf8("Wert \xC3\xA4 \xE2\x82\xAC");
    struct Case {
        const char* name;
        QByteArray bytes;
    } cases[] = {
        {"utf16le", kestest::Utf16LeWithBom(text)},
        {"utf16be", Utf16Be(text)},
        {"utf8 bom", QByteArray("\xEF\xBB\xBF") + text.toUtf8()},
        {"utf8 plain", text.toUtf8()},
        {"cp1252", QByteArray("[Sec]\r\nKey=Wert \xE4 \x80\r\n")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteBytes(Path("enc.ini"), c.bytes);
        auto ini = TUnicodeIniFile::CreateForRead(Path("enc.ini"));
        EXPECT_EQ(ini->ReadString("sec", "KEY", "-"), expected);
    }
}

TEST_F(UnicodeIniFileTest, LineRules)
{
    WriteBytes(Path("rules.ini"),
        QByteArray("orphan=before any section\n"
                   "  [ Config ]  \n"
                   "; a comment=not an entry\n"
                   "\n"
                   "  key = value  \n"
                   "top=5\n"
                   "url=a=b=c\n"
                   "bare line\n"
                   "Top=6\n"
                   "[Other]\n"
                   "x=1\n"
                   "[config]\n"
                   "late=7\n"));
    auto ini = TUnicodeIniFile::CreateForRead(Path("rules.ini"));
    EXPECT_EQ(ini->ReadString("Config", "key", "-"), "value");
    EXPECT_EQ(ini->ReadInteger("config", "TOP", 0), 5); // first of two entries
    EXPECT_EQ(ini->ReadString("CONFIG", "url", "-"), "a=b=c");
    EXPECT_EQ(ini->ReadString("Config", "late", "-"), "7"); // repeated header continues the section
    EXPECT_FALSE(ini->ValueExists("Config", "; a comment"));
    EXPECT_FALSE(ini->ValueExists("Config", "orphan"));
    EXPECT_FALSE(ini->ValueExists("Config", "bare line"));
    EXPECT_EQ(ini->ReadSection("Config"), QStringList({"key", "top", "url", "Top", "late"}));
    EXPECT_EQ(ini->ReadSections(), QStringList({"Config", "Other"}));
    EXPECT_EQ(ini->ReadString("Missing", "x", "dflt"), "dflt");
}

TEST_F(UnicodeIniFileTest, IntegerForms)
{
    struct Case {
        const char* text;
        qint64 int64;
        int int32;
    } cases[] = {
        {"0x1F", 31, 31},
        {"0X10", 16, 16},
        {"$10", 16, 16},
        {"0x", -1, -1},
        {"12abc", -1, -1},
        {"", -1, -1},
        {"-42", -42, -42},
        {"+7", 7, 7},
        {"$FFFFFFFF", 0xFFFFFFFF, -1},
        {"4294967296", 4294967296LL, -1},
        {"-2147483648", -2147483648LL, -2147483647 - 1},
        {"5 6", -1, -1},
        {"99999999999999999999", -1, -1},
        {"$", -1, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        WriteBytes(Path("int.ini"), QByteArray("[S]\nv=") + c.text + "\n");
        auto ini = TUnicodeIniFile::CreateForRead(Path("int.ini"));
        EXPECT_EQ(ini->ReadInt64("S", "v", -1), c.int64);
        EXPECT_EQ(ini->ReadInteger("S", "v", -1), c.int32);
    }
    WriteBytes(Path("bool.ini"), "[S]\nyes=1\nno=0\nword=true\n");
    auto ini = TUnicodeIniFile::CreateForRead(Path("bool.ini"));
    EXPECT_TRUE(ini->ReadBool("S", "yes", false));
    EXPECT_FALSE(ini->ReadBool("S", "no", true));
    EXPECT_TRUE(ini->ReadBool("S", "word", true)); // not a number: the default
    EXPECT_FALSE(ini->ReadBool("S", "word", false));
}

TEST_F(UnicodeIniFileTest, AnsiFileIsRewrittenAsUtf16WithItsLayoutKept)
{
    WriteBytes(Path("a.ini"),
        QByteArray("[Config]\r\nTop=5\r\nbare line\r\n[Sched00]\r\nName=M\xFC"
                   "ll\r\nEmpty=\r\n"));
    {
        auto ini = TUnicodeIniFile::CreateForWrite(Path("a.ini"), false);
        ini->WriteInteger("Config", "top", 7); // replaced in place
        ini->WriteString("Config", "New", "x");
        ini->WriteString("Added", "k", "v");
        ini->EraseSectionValues("Sched00");
        ini->WriteProgramInfo("Program", "Selwand");
        ini->UpdateFile();
    }
    const QByteArray bytes = ReadBytes(Path("a.ini"));
    ASSERT_TRUE(bytes.startsWith("\xFF\xFE"));
    EXPECT_EQ(kestest::FromUtf16Le(bytes),
        QStringLiteral("[Config]\r\ntop=7\r\nbare line\r\nNew=x\r\n\r\n"
                       "[Sched00]\r\n\r\n"
                       "[Unicode]\r\nEncoding=UTF-16LE\r\nProgram=Selwand\r\n\r\n"
                       "[Added]\r\nk=v\r\n\r\n"));
}

TEST_F(UnicodeIniFileTest, ClearEntriesKeepsOnlyWhatIsWrittenAfterwards)
{
    WriteBytes(Path("c.ini"), kestest::Utf16LeWithBom("[Unicode]\r\nEncoding=UTF-8\r\n[Old]\r\nx=1\r\n"));
    {
        auto ini = TUnicodeIniFile::CreateForWrite(Path("c.ini"), true);
        ini->WriteString("Config", "Count", "0");
    } // written on destruction
    EXPECT_EQ(kestest::FromUtf16Le(ReadBytes(Path("c.ini"))),
        QStringLiteral("[Unicode]\r\nEncoding=UTF-16LE\r\n\r\n[Config]\r\nCount=0\r\n\r\n"));

    // An existing Encoding entry is not changed.
    WriteBytes(Path("d.ini"), "[Unicode]\r\nEncoding=Other\r\n");
    TUnicodeIniFile::CreateForWrite(Path("d.ini"), false)->UpdateFile();
    EXPECT_EQ(TUnicodeIniFile::CreateForRead(Path("d.ini"))->ReadString("Unicode", "Encoding", ""), "Other");
}

TEST_F(UnicodeIniFileTest, PythonConfigparserReadsWhatWeWrite)
{
    if (!kestest::HaveTool("python3"))
        KESTEST_SKIP_OR_FAIL("python3 is not installed");
    {
        auto ini = TUnicodeIniFile::CreateForWrite(Path("py.ini"), true);
        ini->WriteString("Monitor00", "File000", QString::fromUtf8("sub/\xC3\xA4rger \xE2\x82\xAC.txt"));
        ini->WriteInteger("Monitor00", "Count", 1);
        ini->UpdateFile();
    }
    const auto r = kestest::Run("python3",
        {"-c",
            "import configparser,sys\n"
            "c=configparser.ConfigParser(interpolation=None)\n"
            "c.read_string(open(sys.argv[1],encoding='utf-16').read())\n"
            "sys.stdout.buffer.write(c['Monitor00']['file000'].encode())\n"
            "sys.stdout.buffer.write(b'|'+c['Unicode']['encoding'].encode())",
            Path("py.ini")});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(QString::fromUtf8(r.out), QString::fromUtf8("sub/\xC3\xA4rger \xE2\x82\xAC.txt|UTF-16LE"));
}

TEST_F(UnicodeIniFileTest, FailedWriteRaisesAndLeavesTheOldFile)
{
    const QByteArray old = kestest::Utf16LeWithBom("[Config]\r\nTop=1\r\n");
    WriteBytes(Path("ro.ini"), old);
    ASSERT_TRUE(QFile::setPermissions(Path("ro.ini"), QFile::ReadOwner | QFile::ReadGroup));
    QDir().mkpath(Path("folder.ini"));
    const QString targets[] = {Path("ro.ini"), Path("missing/sub/x.ini"), Path("folder.ini")};
    for (const QString& target : targets) {
        SCOPED_TRACE(target.toStdString());
        auto ini = TUnicodeIniFile::CreateForWrite(target, true);
        ini->WriteString("Config", "Top", "2");
        try {
            ini->UpdateFile();
            ADD_FAILURE() << "no error";
        } catch (const kes::EIniWriteError& e) {
            EXPECT_EQ(e.Message(), QStringLiteral("Error writing to \"%1\"").arg(target));
        }
    }
    EXPECT_EQ(ReadBytes(Path("ro.ini")), old);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList({"ro.ini"})); // no temporary left
}

TEST_F(UnicodeIniFileTest, DamagedInputNeverCrashesAndRoundTrips)
{
    // Odd length, a lone surrogate, NUL characters.
    QByteArray bytes = kestest::Utf16LeWithBom(QStringLiteral("[S]\r\nname=a"));
    bytes += QByteArray("\x00\xD8", 2); // lone high surrogate
    bytes += kestest::Utf16LeWithBom(QStringLiteral("b\r\nnul=x")).mid(2);
    bytes += QByteArray("\x00\x00", 2);
    bytes += QByteArray("y\r\n\x41", 4); // ends in an odd byte
    WriteBytes(Path("odd.ini"), bytes);
    QString name;
    {
        auto ini = TUnicodeIniFile::CreateForWrite(Path("odd.ini"), false);
        name = ini->ReadString("S", "name", "");
        EXPECT_EQ(name.size(), 3);
        EXPECT_TRUE(name[1].isHighSurrogate());
        ini->UpdateFile();
    }
    EXPECT_EQ(TUnicodeIniFile::CreateForRead(Path("odd.ini"))->ReadString("S", "name", ""), name);

    QByteArray garbage(4096, '\0');
    for (int i = 0; i < garbage.size(); ++i)
        garbage[i] = char((i * 7919) % 251);
    WriteBytes(Path("bin.ini"), garbage);
    EXPECT_NO_THROW(TUnicodeIniFile::CreateForRead(Path("bin.ini"))->ReadSections());

    QDir().mkpath(Path("dir.ini"));
    EXPECT_THROW(TUnicodeIniFile::CreateForRead(Path("dir.ini")), kes::EIniReadError);
    EXPECT_TRUE(TUnicodeIniFile::CreateForRead(Path("absent.ini"))->ReadSections().isEmpty());
}

TEST_F(UnicodeIniFileTest, ManyKeysLoadAndReadInLinearTime)
{
    // A long pending list: 200,000 keys in one section. Quadratic look-ups
    // would not finish within the test's time-out.
    QString text = QStringLiteral("[Monitor00]\r\n");
    for (int i = 0; i < 200000; ++i)
        text += QStringLiteral("File%1=name %1\r\n").arg(i, 3, 10, QLatin1Char('0'));
    WriteBytes(Path("big.ini"), kestest::Utf16LeWithBom(text));
    auto ini = TUnicodeIniFile::CreateForRead(Path("big.ini"));
    qint64 found = 0;
    for (int i = 0; i < 200000; ++i)
        found += ini->ReadString("monitor00", QStringLiteral("file%1").arg(i, 3, 10, QLatin1Char('0')), "")
                     .size()
            > 0;
    EXPECT_EQ(found, 200000);
}

TEST_F(UnicodeIniFileTest, ReadIniBoolReadsOneValueAndNeverWrites)
{
    WriteBytes(Path("Kesmo.cfg"), "[Config]\nDarkMode=1\n");
    EXPECT_TRUE(kes::ReadIniBool(Path("Kesmo.cfg"), "config", "darkmode", false));
    EXPECT_FALSE(kes::ReadIniBool(Path("none.cfg"), "Config", "DarkMode", false));
    EXPECT_EQ(ReadBytes(Path("Kesmo.cfg")), QByteArray("[Config]\nDarkMode=1\n"));
}

TEST_F(UnicodeIniFileTest, RewriteKeepsModeAndFollowsSymlinks)
{
    WriteBytes(Path("real.ini"), "[A]\nx=1\n");
    ASSERT_TRUE(QFile::setPermissions(Path("real.ini"), QFile::ReadOwner | QFile::WriteOwner));
    ASSERT_TRUE(QFile::link(Path("real.ini"), Path("link.ini")));
    {
        auto ini = TUnicodeIniFile::CreateForWrite(Path("link.ini"), false);
        ini->WriteString("A", "x", "2");
        ini->UpdateFile();
    }
    EXPECT_TRUE(QFileInfo(Path("link.ini")).isSymLink());
    EXPECT_EQ(TUnicodeIniFile::CreateForRead(Path("real.ini"))->ReadString("A", "x", ""), "2");
    EXPECT_EQ(QFile::permissions(Path("real.ini")) & 0x7077, QFile::ReadOwner | QFile::WriteOwner);
}

TEST(UnicodeIniFileFullDisk, FailedWriteKeepsTheOldFileByteForByte)
{
    kestest::SmallTmpfs disk(256 * 1024);
    if (!disk.IsMounted())
        KESTEST_SKIP_OR_FAIL(disk.Error().toStdString());
    const QString name = disk.Path() + QStringLiteral("/Marvick.ini");
    {
        auto ini = TUnicodeIniFile::CreateForWrite(name, true);
        for (int i = 0; i < 20; ++i)
            ini->WriteString(QStringLiteral("Sched%1").arg(i, 2, 10, QLatin1Char('0')),
                QStringLiteral("Name"), QStringLiteral("Schedule %1").arg(i));
        ini->UpdateFile();
    }
    const QByteArray old = ReadBytes(name);
    ASSERT_GT(old.size(), 1000);
    disk.FillUp();

    const struct {
        const char* name;
        bool clear;
        bool update; // UpdateFile reports; else the destructor writes silently
    } cases[] = {
        {"changed entry", false, true},
        {"whole file anew", true, true},
        {"written by the destructor", false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        {
            auto ini = TUnicodeIniFile::CreateForWrite(name, c.clear);
            ini->WriteString(QStringLiteral("Sched00"), QStringLiteral("NextCycle"), QStringLiteral("2"));
            if (c.update) {
                try {
                    ini->UpdateFile();
                    ADD_FAILURE() << "a write to a full disk was reported as done";
                } catch (const kes::EIniWriteError& e) {
                    EXPECT_EQ(e.Message(), QStringLiteral("Error writing to \"%1\"").arg(name));
                    EXPECT_EQ(e.ErrorCode(), ENOSPC);
                }
            }
        }
        EXPECT_EQ(ReadBytes(name), old);
        EXPECT_EQ(
            AllEntries(disk.Path()), (QStringList {QStringLiteral("Marvick.ini"), QStringLiteral("filler")}));
    }
}

TEST_F(UnicodeIniFileTest, NewFilesAreForTheOwnerOnlyAndOldOnesKeepTheirMode)
{
    constexpr QFile::Permissions kOwner = QFile::ReadOwner | QFile::WriteOwner;
    const struct {
        const char* name;
        bool exists;
        QFile::Permissions before;
        QFile::Permissions after;
    } cases[] = {
        {"new.ini", false, {}, kOwner},
        {"group.ini", true, kOwner | QFile::ReadGroup, kOwner | QFile::ReadGroup},
        {"shared.ini", true, kOwner | QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther,
            kOwner | QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString name = Path(QLatin1String(c.name));
        if (c.exists) {
            WriteBytes(name, "[A]\nx=1\n");
            ASSERT_TRUE(QFile::setPermissions(name, c.before));
        }
        for (const bool clear : {false, true}) {
            auto ini = TUnicodeIniFile::CreateForWrite(name, clear);
            ini->WriteString(QStringLiteral("A"), QStringLiteral("x"), QStringLiteral("2"));
            ini->UpdateFile();
            EXPECT_EQ(QFile::permissions(name) & 0x7077, c.after);
        }
    }
}

TEST_F(UnicodeIniFileTest, OnlyRegularFilesOfASaneSizeAreRead)
{
    ASSERT_EQ(kestest::Run(QStringLiteral("mkfifo"), {Path(QStringLiteral("fifo.ini"))}).exitCode, 0);
    QDir().mkpath(Path(QStringLiteral("folder.ini")));
    {
        // Sparse: refused by its size, without reading 64 MiB.
        QFile big(Path(QStringLiteral("huge.ini")));
        ASSERT_TRUE(big.open(QIODevice::WriteOnly));
        ASSERT_TRUE(big.resize(64LL * 1024 * 1024 + 1));
    }
    const QString notRegular = QStringLiteral("It is not a regular file.");
    const struct {
        QString name;
        QString reason;
        bool replaced; // a new file may take its place
    } cases[] = {
        {Path(QStringLiteral("fifo.ini")), notRegular, false},
        {QStringLiteral("/dev/zero"), notRegular, false},
        {QStringLiteral("/dev/null"), notRegular, false},
        {Path(QStringLiteral("folder.ini")), QStringLiteral("It is a folder."), false},
        {Path(QStringLiteral("huge.ini")), QStringLiteral("The file is larger than 64 MiB."), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        if (!QFileInfo::exists(c.name))
            continue;
        const QString expected = QStringLiteral("Cannot open file \"%1\". %2").arg(c.name, c.reason);
        QString readError, writeError;
        bool flag = true;
        // Opening a FIFO for reading waits for a writer: the writer opened
        // here sets free a reader that did wait, once per call.
        const auto writer = [&] {
            QFile w(c.name);
            w.open(QIODevice::WriteOnly);
        };
        const std::function<void()> calls[] = {
            [&] {
                try {
                    TUnicodeIniFile::CreateForRead(c.name);
                } catch (const kes::EIniReadError& e) {
                    readError = e.Message();
                }
            },
            [&] {
                flag = kes::ReadIniBool(c.name, QStringLiteral("Config"), QStringLiteral("DarkMode"), false);
            },
            [&] {
                try {
                    auto ini = TUnicodeIniFile::CreateForWrite(c.name, true);
                    ini->UpdateFile();
                } catch (const kes::EIniWriteError& e) {
                    writeError = e.Message();
                }
            },
        };
        for (const auto& call : calls)
            EXPECT_TRUE(kestest::ReturnsInTime(call, writer)) << "reading hung";
        EXPECT_EQ(readError, expected);
        EXPECT_FALSE(flag);
        EXPECT_EQ(writeError, c.replaced ? QString() : QStringLiteral("Error writing to \"%1\"").arg(c.name));
    }
    EXPECT_FALSE(QFileInfo(Path(QStringLiteral("fifo.ini"))).isFile());
    EXPECT_TRUE(QFileInfo(QStringLiteral("/dev/null")).exists());
}
