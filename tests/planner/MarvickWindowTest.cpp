// The settings of Marvick's window: what the closing save keeps of runs
// that stored their state while the window was open, and a file that
// could not be read is never overwritten.
#include "planner/MarvickWindow.h"

#include "common/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace kes;

TEST(MarvickWindowController, SaveKeepsWhatRunsStoredMeanwhile)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString ini = dir.filePath(QStringLiteral("Marvick.ini"));
    TMarvickSettings settings;
    for (const char* name : {"Kept", "Replaced", "Removed"}) {
        TSchedTask s;
        s.SName = QString::fromLatin1(name);
        s.Task = ini;
        s.Steps = 5;
        s.NextCyc = 2;
        settings.Schedules.append(s);
    }
    SaveSchedules(ini, settings, QStringLiteral("Marvick"), QStringLiteral("1.1"));
    TMarvickWindowSetup setup;
    setup.IniName = ini;
    TMarvickWindowController controller(setup);
    ASSERT_TRUE(controller.Load().isEmpty());

    // Runs store state while the window is open.
    for (int i = 0; i < 2; ++i) {
        TSchedTask ran = settings.Schedules[i];
        ran.NextCyc = 3;
        ran.LastDay = 46000;
        StoreRunState(ini, i, ran);
    }
    // The window replaces the second and removes the third.
    TScheduleEditor& editor = controller.Editor();
    editor.ShowSchedule(1);
    editor.Values().Cycles = 4;
    int row = 1;
    EXPECT_EQ(editor.Replace(row, [](const QString&) { return true; }).Code, 0);
    row = 2;
    EXPECT_TRUE(editor.Remove(row, [](const QString&) { return true; }));
    EXPECT_TRUE(controller.Save(10, 20).isEmpty());

    const TMarvickSettings saved = LoadSchedules(ini, {});
    ASSERT_EQ(saved.Schedules.size(), 2);
    EXPECT_EQ(saved.Top, 10);
    EXPECT_EQ(saved.Left, 20);
    EXPECT_EQ(saved.Schedules[0].NextCyc, 3); // the run's state
    EXPECT_EQ(saved.Schedules[0].LastDay, 46000);
    EXPECT_EQ(saved.Schedules[1].NextCyc, 0); // the new rotation
    EXPECT_EQ(saved.Schedules[1].Cycles, 4);
}

TEST(MarvickWindowController, UnreadableFileIsReportedAndLeftAlone)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // A folder where the file should be cannot be read as one.
    const QString ini = dir.filePath(QStringLiteral("Marvick.ini"));
    kestest::WriteBytes(ini + QStringLiteral("/inside"), "x");
    TMarvickWindowSetup setup;
    setup.IniName = ini;
    TMarvickWindowController controller(setup);
    EXPECT_FALSE(controller.Load().isEmpty());
    EXPECT_TRUE(controller.Editor().Schedules().isEmpty());
    EXPECT_TRUE(controller.Save(0, 0).isEmpty());
    EXPECT_EQ(kestest::ReadBytes(ini + QStringLiteral("/inside")), QByteArray("x"));
}

TEST(MarvickWindowController, SaveErrorIsTheMessageAndTheOldFileStays)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString ini = dir.filePath(QStringLiteral("gone/Marvick.ini"));
    TMarvickWindowSetup setup;
    setup.IniName = ini;
    TMarvickWindowController controller(setup);
    EXPECT_TRUE(controller.Load().isEmpty());
    const QString error = controller.Save(0, 0);
    EXPECT_TRUE(error.startsWith(QStringLiteral("Error writing to \""))) << error.toStdString();
    EXPECT_FALSE(QFile::exists(ini));
}
