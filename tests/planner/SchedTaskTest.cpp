// The schedule record and Marvick.ini: load, save, storing one run state,
// day numbers, the Active flag and the window position rule.
#include "planner/SchedTask.h"

#include "common/TestSupport.h"
#include "frame/UnicodeIniFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace kes;

namespace {

class SchedTaskFile : public ::testing::Test {
protected:
    QString Ini() const { return dir.filePath(QStringLiteral("Marvick.ini")); }
    void WriteIni(const QString& text) { kestest::WriteBytes(Ini(), kestest::Utf16LeWithBom(text)); }
    QString ReadIni() const { return kestest::FromUtf16Le(kestest::ReadBytes(Ini())); }

    QTemporaryDir dir;
};

TSchedTask Sched(const QString& name, int cycles, int steps)
{
    TSchedTask s;
    s.SName = name;
    s.Task = QStringLiteral("/home/u/Kesmo/") + name + QStringLiteral(".buj");
    s.Cycles = cycles;
    s.Steps = steps;
    return s;
}

} // namespace

TEST_F(SchedTaskFile, LoadFillsMissingSectionsAndValuesWithDefaults)
{
    WriteIni(QStringLiteral(
        "[Config]\r\nTop=120\r\nJobDir=/data/jobs/\r\nCount=3\r\n\r\n"
        "[Sched00]\r\nName=Daily\r\nTask=/data/jobs/a b.buj\r\nCycles=3\r\nSteps=10\r\n"
        "FirstDay=0\r\nDifferential=0\r\nNextCycle=4\r\nLastFull=0\r\nLastDay=46365\r\nSilent=1\r\n\r\n"
        "[sched02]\r\nname=Weekly\r\n"));
    TMarvickSettings defaults;
    defaults.Top = 10;
    defaults.Left = 20;
    defaults.JobDir = QStringLiteral("/home/u/Kesmo/");
    const TMarvickSettings got = LoadSchedules(Ini(), defaults);

    EXPECT_EQ(got.Top, 120);
    EXPECT_EQ(got.Left, 20);
    EXPECT_EQ(got.JobDir, QStringLiteral("/data/jobs/"));
    ASSERT_EQ(got.Schedules.size(), 3);

    const TSchedTask& a = got.Schedules[0];
    EXPECT_EQ(a.SName, QStringLiteral("Daily"));
    EXPECT_EQ(a.Task, QStringLiteral("/data/jobs/a b.buj"));
    EXPECT_EQ(a.Cycles, 3);
    EXPECT_EQ(a.Steps, 10);
    EXPECT_EQ(a.FirstDay, 0);
    EXPECT_FALSE(a.Diff);
    EXPECT_EQ(a.NextCyc, 4);
    EXPECT_EQ(a.LastDay, 46365);
    EXPECT_TRUE(a.Silent);

    // The missing section gives defaults named after the section.
    const TSchedTask& b = got.Schedules[1];
    EXPECT_EQ(b.SName, QStringLiteral("Sched01"));
    EXPECT_EQ(b.Task, QString());
    EXPECT_EQ(b.Cycles, 2);
    EXPECT_EQ(b.Steps, 7);
    EXPECT_EQ(b.FirstDay, 1);
    EXPECT_TRUE(b.Diff);
    EXPECT_EQ(b.NextCyc, 0);
    EXPECT_FALSE(b.Silent);

    EXPECT_EQ(got.Schedules[2].SName, QStringLiteral("Weekly"));
}

TEST_F(SchedTaskFile, CountIsKeptWithinTheStoredLimit)
{
    const struct {
        const char* count;
        int expected;
    } cases[] = {{"1000", 99}, {"2147483647", 99}, {"99", 99}, {"-5", 0}, {"abc", 0}, {"0x10", 16}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.count);
        WriteIni(QStringLiteral("[Config]\r\nCount=") + QLatin1String(c.count) + QStringLiteral("\r\n"));
        EXPECT_EQ(LoadSchedules(Ini(), {}).Schedules.size(), c.expected);
    }
}

TEST_F(SchedTaskFile, MissingFileIsAnEmptyListAndAFolderIsAReadError)
{
    EXPECT_TRUE(LoadSchedules(Ini(), {}).Schedules.isEmpty());
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("Marvick.ini")));
    EXPECT_THROW(LoadSchedules(Ini(), {}), EIniReadError);
}

TEST_F(SchedTaskFile, SaveWritesTheWholeFileInItsOrderAndLoadReadsItBack)
{
    WriteIni(QStringLiteral("[Old]\r\nStale=1\r\n"));
    TMarvickSettings settings;
    settings.Top = 5;
    settings.Left = -7;
    settings.JobDir = QStringLiteral("/j/");
    TSchedTask s = Sched(QStringLiteral("Nightly"), 2, 5);
    s.Diff = false;
    s.NextCyc = 3;
    s.LastDay = 45658;
    s.Silent = true;
    settings.Schedules = {s};
    SaveSchedules(Ini(), settings, QStringLiteral("Marvick"), QStringLiteral("3.11.0"));

    EXPECT_EQ(ReadIni(),
        QStringLiteral("[Unicode]\r\nEncoding=UTF-16LE\r\nProgram=Marvick\r\nVersion=3.11.0\r\n\r\n"
                       "[Config]\r\nTop=5\r\nLeft=-7\r\nJobDir=/j/\r\nCount=1\r\n\r\n"
                       "[Sched00]\r\nName=Nightly\r\nTask=/home/u/Kesmo/Nightly.buj\r\n"
                       "Cycles=2\r\nSteps=5\r\nFirstDay=1\r\nDifferential=0\r\nNextCycle=3\r\n"
                       "LastFull=0\r\nLastDay=45658\r\nSilent=1\r\n\r\n"));
    const TMarvickSettings back = LoadSchedules(Ini(), {});
    ASSERT_EQ(back.Schedules.size(), 1);
    EXPECT_EQ(back.Schedules[0].SName, s.SName);
    EXPECT_FALSE(back.Schedules[0].Diff);
    EXPECT_TRUE(back.Schedules[0].Silent);
    EXPECT_EQ(back.Schedules[0].NextCyc, 3);
}

TEST_F(SchedTaskFile, SaveStoresAtMost99SchedulesUnderTwoDigitSections)
{
    TMarvickSettings settings;
    for (int i = 0; i < 120; ++i)
        settings.Schedules.append(Sched(QStringLiteral("S%1").arg(i), 2, 7));
    SaveSchedules(Ini(), settings, QStringLiteral("Marvick"), QStringLiteral("1"));

    const auto ini = TUnicodeIniFile::CreateForRead(Ini());
    EXPECT_EQ(ini->ReadInteger(QStringLiteral("Config"), QStringLiteral("Count"), -1), 99);
    EXPECT_EQ(ini->ReadString(QStringLiteral("Sched07"), QStringLiteral("Name"), {}), QStringLiteral("S7"));
    EXPECT_EQ(ini->ReadString(QStringLiteral("Sched10"), QStringLiteral("Name"), {}), QStringLiteral("S10"));
    EXPECT_EQ(ini->ReadString(QStringLiteral("Sched98"), QStringLiteral("Name"), {}), QStringLiteral("S98"));
    EXPECT_FALSE(ini->SectionExists(QStringLiteral("Sched99")));
    EXPECT_EQ(LoadSchedules(Ini(), {}).Schedules.size(), 99);
}

TEST_F(SchedTaskFile, StoreRunStateChangesOnlyThreeValuesOfOneSection)
{
    const QString before
        = QStringLiteral("[Unicode]\r\nEncoding=UTF-16LE\r\nProgram=Marvick\r\nVersion=3.11\r\n\r\n"
                         "[Config]\r\nTop=1\r\nLeft=2\r\nCount=2\r\nUnknown=kept\r\n\r\n"
                         "[Sched00]\r\nName=A\r\nNextCycle=1\r\nLastFull=0\r\nLastDay=0\r\n\r\n"
                         "[Sched01]\r\nName=B\r\nCycles=2\r\nNextCycle=5\r\nExtra=x\r\n"
                         "LastFull=1\r\nLastDay=45000\r\nSilent=0\r\n\r\n");
    WriteIni(before);
    TSchedTask s;
    s.NextCyc = 6;
    s.LastFull = 1;
    s.LastDay = 45999;
    StoreRunState(Ini(), 1, s);
    QString expected = before;
    expected.replace(QStringLiteral("NextCycle=5"), QStringLiteral("NextCycle=6"));
    expected.replace(QStringLiteral("LastDay=45000"), QStringLiteral("LastDay=45999"));
    EXPECT_EQ(ReadIni(), expected);

    // A section that is not in the file yet is added with the three values.
    StoreRunState(Ini(), 2, s);
    EXPECT_TRUE(ReadIni().endsWith(
        QStringLiteral("[Sched02]\r\nNextCycle=6\r\nLastFull=1\r\nLastDay=45999\r\n\r\n")));
}

TEST_F(SchedTaskFile, StoreRunStateOnAReadOnlyFileRaisesAndKeepsIt)
{
    WriteIni(QStringLiteral("[Sched00]\r\nNextCycle=2\r\n"));
    const QByteArray before = kestest::ReadBytes(Ini());
    QFile::setPermissions(Ini(), QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
    TSchedTask s;
    s.NextCyc = 3;
    EXPECT_THROW(StoreRunState(Ini(), 0, s), EIniWriteError);
    EXPECT_EQ(kestest::ReadBytes(Ini()), before);
}

TEST(SchedTask, DayNumbersCountFrom30December1899)
{
    const struct {
        QDate date;
        int day;
    } cases[] = {
        {QDate(1899, 12, 30), 0},
        {QDate(1899, 12, 31), 1},
        {QDate(1900, 3, 1), 61},
        {QDate(2025, 1, 1), 45658},
        {QDate(2026, 12, 9), 46365},
        {QDate(2024, 2, 29), 45351},
        {QDate(1899, 12, 29), -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.date.toString(Qt::ISODate).toStdString());
        EXPECT_EQ(DayNumber(c.date), c.day);
        EXPECT_EQ(DateOfDay(c.day), c.date);
    }
}

TEST(SchedTask, SectionNamesHaveAtLeastTwoDigits)
{
    EXPECT_EQ(SchedSection(0), QStringLiteral("Sched00"));
    EXPECT_EQ(SchedSection(7), QStringLiteral("Sched07"));
    EXPECT_EQ(SchedSection(10), QStringLiteral("Sched10"));
    EXPECT_EQ(SchedSection(98), QStringLiteral("Sched98"));
    EXPECT_EQ(SchedSection(100), QStringLiteral("Sched100"));
}

TEST(SchedTask, ActiveWhenAScheduledTaskRunsTheSchedule)
{
    TSchedules list = {Sched(QStringLiteral("Daily"), 2, 5), Sched(QStringLiteral("Weekly"), 2, 7),
        Sched(QStringLiteral("Schedule-X"), 1, 7), Sched(QStringLiteral("Other"), 1, 7)};
    list[3].Active = true; // recomputed, not kept
    UpdateActive(list,
        {QStringLiteral("schedule-DAILY"), QStringLiteral("Weekly"), QStringLiteral("Schedule-Schedule-X"),
            QStringLiteral("Schedule-Oth")});
    EXPECT_TRUE(list[0].Active); // prefix dropped, case ignored
    EXPECT_TRUE(list[1].Active); // a name without the prefix counts as it is
    EXPECT_TRUE(list[2].Active); // only the first "Schedule-" is cut
    EXPECT_FALSE(list[3].Active); // no partial match
    EXPECT_EQ(FindSchedule(list, QStringLiteral("weekly")), 1);
    EXPECT_EQ(FindSchedule(list, QStringLiteral("week")), -1);
}

TEST(SchedTask, WindowIsKeptInsideTheWorkArea)
{
    const QRect area(0, 0, 1920, 1040);
    const struct {
        QRect window;
        QPoint expected;
    } cases[] = {
        {QRect(100, 100, 800, 600), QPoint(100, 100)}, // inside: unchanged
        {QRect(1500, 100, 800, 600), QPoint(1070, 100)}, // beyond the right edge
        {QRect(100, 900, 800, 600), QPoint(100, 390)}, // beyond the bottom edge
        {QRect(-300, -20, 800, 600), QPoint(50, 50)}, // before the left and top edges
        {QRect(0, 0, 800, 600), QPoint(50, 50)}, // on the edge counts as outside
        {QRect(100, 100, 2000, 1200), QPoint(50, 50)}, // larger than the area
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.window.x());
        EXPECT_EQ(KeepInsideWorkArea(c.window, area, 50), c.expected);
    }
}
