// The rotation preview on the worked examples of a rotation, and its table.
#include "planner/SchedulePreview.h"

#include <gtest/gtest.h>

using namespace kes;

namespace {

QStringList Folders(const QList<TPreviewRow>& rows)
{
    QStringList out;
    for (const TPreviewRow& r : rows)
        out << (r.Folder.isEmpty() ? QStringLiteral("-") : r.Folder);
    return out;
}

} // namespace

TEST(SchedulePreview, DailyAndWeeklyExamples)
{
    TSchedTask daily;
    daily.Cycles = 2;
    daily.Steps = 5;
    daily.Diff = false;
    EXPECT_EQ(Folders(PreviewSchedule(daily, QDate(2025, 2, 27), 11)),
        QStringList({"Bu01F", "Bu02I", "Bu03I", "Bu04I", "Bu05I", "Bu06F", "Bu07I", "Bu08I", "Bu09I", "Bu10I",
            "Bu01F"}));

    // Weekly from a Wednesday: waits until Monday; Monday 13 is the second
    // cycle's full backup.
    TSchedTask weekly;
    weekly.Cycles = 2;
    const QList<TPreviewRow> rows = PreviewSchedule(weekly, QDate(2025, 1, 1), 13, QStringLiteral("en"));
    EXPECT_EQ(Folders(rows),
        QStringList({"-", "-", "-", "-", "-", "BuMo1F", "BuTu1D", "BuWe1D", "BuTh1D", "BuFr1D", "BuSa1D",
            "BuSu1D", "BuMo2F"}));
    EXPECT_EQ(rows[0].Kind, TPreviewKind::pkWaiting);
    EXPECT_EQ(rows[0].Note, QStringLiteral("Skipped: first full backup on next \"Monday\""));
    EXPECT_EQ(rows[12].Step, 8);
}

TEST(SchedulePreview, CatchUpAlreadyDoneAndInvalidValues)
{
    TSchedTask s;
    s.Cycles = 2;
    s.NextCyc = 8;
    s.LastFull = 1;
    s.LastDay = 45671; // 14 January 2025, a Tuesday
    const QList<TPreviewRow> rows = PreviewSchedule(s, QDate(2025, 1, 14), 2);
    ASSERT_EQ(rows.size(), 3);
    EXPECT_EQ(rows[0].Kind, TPreviewKind::pkAlreadyDone);
    EXPECT_EQ(rows[1].Kind, TPreviewKind::pkCatchUp);
    EXPECT_EQ(rows[1].Folder, QStringLiteral("BuMo2F"));
    EXPECT_EQ(rows[2].Folder, QStringLiteral("BuWe2D"));
    EXPECT_EQ(rows[2].Step, 8);

    s.Cycles = 0;
    const QList<TPreviewRow> bad = PreviewSchedule(s, QDate(2025, 1, 14), 30);
    ASSERT_EQ(bad.size(), 1);
    EXPECT_EQ(bad[0].Kind, TPreviewKind::pkInvalid);
    EXPECT_TRUE(bad[0].Note.contains(QStringLiteral("Cycles = 0")));
}

TEST(SchedulePreview, TableAndDayCounts)
{
    TSchedTask s;
    s.Cycles = 2;
    const QString table = PreviewTable(PreviewSchedule(s, QDate(2025, 1, 5), 2), QStringLiteral("en"));
    EXPECT_EQ(table,
        QStringLiteral("Date        Weekday  Kind  Step  Backup folder\n"
                       "2025-01-05  Sun      Skipped: first full backup on next \"Monday\"\n"
                       "2025-01-06  Mon      Full  1     BuMo1F\n"));
    EXPECT_EQ(ParsePreviewDays(QString(), false), 30);
    EXPECT_EQ(ParsePreviewDays(QStringLiteral("7"), true), 7);
    for (const char* bad : {"", "0", "-3", "x", "3661"})
        EXPECT_EQ(ParsePreviewDays(QString::fromLatin1(bad), true), -1) << bad;
}
