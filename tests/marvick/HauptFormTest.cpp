// Marvick's window offscreen, for the faults a model test cannot see: the
// window with a long list and no task service, the editor's controls in
// step with the model, the shortcut dialog's controls.
#include "app/marvick/HauptForm.h"
#include "app/marvick/DesktopIconDialog.h"
#include "app/marvick/UiText.h"
#include "common/FakeSystemd.h"
#include "common/TestSupport.h"
#include "frame/WinExecute.h"
#include "planner/ScheduleRun.h"
#include "platform/TaskService.h"
#include "ui_DesktopIconDialog.h"
#include "ui_HauptForm.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>
#include <QToolTip>
#include <QTreeView>
#include <gtest/gtest.h>

using namespace kes;

namespace {

class HauptFormTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        task = dir.filePath(QStringLiteral("jobs/Home Files.buj"));
        kestest::WriteBytes(task, "[Job]\r\n");
        ini = dir.filePath(QStringLiteral("Marvick.ini"));
    }

    // 100 sections, the count says 100; schedule 5 holds broken values.
    void WriteLongList()
    {
        QByteArray text = "[Config]\r\nCount=100\r\nJobDir=" + dir.path().toUtf8() + "\r\n";
        for (int i = 0; i < 100; ++i) {
            text += "[" + SchedSection(i).toUtf8() + "]\r\nName="
                + QString::fromUtf8("Zeitplan \"%1\" / ä").arg(i).toUtf8() + "\r\nTask=" + task.toUtf8()
                + "\r\nCycles=" + (i == 5 ? "x" : "3") + "\r\nSteps=" + (i == 5 ? "0" : "7") + "\r\n";
        }
        kestest::WriteBytes(ini, text);
    }

    std::unique_ptr<TMarvickWindowController> Controller()
    {
        TMarvickWindowSetup setup;
        setup.IniName = ini;
        setup.JobDir = dir.path();
        setup.ProgramPath = QStringLiteral("/usr/bin/Marvick");
        setup.LanguageCode = QStringLiteral("en");
        auto controller = std::make_unique<TMarvickWindowController>(setup);
        EXPECT_TRUE(controller->Load().isEmpty());
        // A task service whose manager cannot be reached.
        platform::TSystemdTaskServiceOptions o;
        o.TaskFolder = dir.filePath(QStringLiteral("Tasks"));
        o.UnitFolder = dir.filePath(QStringLiteral("units"));
        o.BusAddress = QStringLiteral("unix:path=") + dir.filePath(QStringLiteral("no-bus"));
        o.SystemBusAddress = o.BusAddress;
        o.SplitArguments = [](const QString& s) { return SplitCommandLine(s); };
        EXPECT_NE(controller->StartScheduler(platform::CreateSystemdTaskService(o)), 0u);
        return controller;
    }

    QTemporaryDir dir;
    QString task;
    QString ini;
};

} // namespace

TEST_F(HauptFormTest, LongListWithoutTaskServiceKeepsTheWindow)
{
    WriteLongList();
    auto controller = Controller();
    THauptForm window(*controller);
    QStringList messages;
    window.SetMessageHook([&](TMessageKind, const QString& text) {
        messages << text;
        return true;
    });
    window.ShowWindow();
    ASSERT_TRUE(kestest::WaitUntil([&] { return !messages.isEmpty(); }));
    QApplication::processEvents();
    // Told once; the window stays with only the scheduled-task buttons off.
    EXPECT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].startsWith(QStringLiteral("Marvick"))) << messages[0].toStdString();
    EXPECT_TRUE(window.isVisible());
    Ui::THauptForm& f = window.Form();
    EXPECT_FALSE(f.btnCreateTask->isEnabled());
    EXPECT_FALSE(f.btnShowTasks->isEnabled());
    EXPECT_FALSE(f.btnCreateTask->toolTip().isEmpty());
    EXPECT_TRUE(f.btnShortcut->isEnabled());
    EXPECT_TRUE(f.btnAdd->isEnabled());
    // At most 99 schedules are read; the first is shown with its preview.
    EXPECT_EQ(f.lvSchedules->model()->rowCount(), 99);
    EXPECT_EQ(window.SelectedSchedule(), 0);
    EXPECT_EQ(f.leName->text(), QString::fromUtf8("Zeitplan \"0\" / ä"));
    EXPECT_GE(window.PreviewRowCount(), kPreviewDays);
    // The broken one shows why it cannot run, in one row.
    window.SelectSchedule(5);
    EXPECT_EQ(window.PreviewRowCount(), 1);
    EXPECT_TRUE(f.tvPreview->topLevelItem(0)->text(2).contains(QStringLiteral("not valid")));

    // Sorted by cycles, falling: a row still leads to its own schedule.
    f.lvSchedules->sortByColumn(scCycles, Qt::DescendingOrder);
    window.SelectSchedule(5);
    EXPECT_EQ(window.SelectedSchedule(), 5);
    const QModelIndex top = f.lvSchedules->model()->index(0, 0);
    f.lvSchedules->setCurrentIndex(top);
    EXPECT_EQ(f.leName->text(), top.data().toString());
    EXPECT_EQ(f.edCycles->value(), 3);

    // Closing saves the list as it is, broken values included.
    window.close();
    const TMarvickSettings saved = LoadSchedules(ini, {});
    EXPECT_EQ(saved.Schedules.size(), 99);
    EXPECT_EQ(saved.Schedules.value(5).Steps, 0);
    EXPECT_EQ(saved.Schedules.value(98).SName, QString::fromUtf8("Zeitplan \"98\" / ä"));
}

TEST_F(HauptFormTest, EditorControlsFollowTheRules)
{
    auto controller = Controller();
    THauptForm window(*controller);
    QStringList messages;
    window.SetMessageHook([&](TMessageKind, const QString& text) {
        messages << text;
        return true;
    });
    window.ShowWindow();
    ASSERT_TRUE(kestest::WaitUntil([&] { return !messages.isEmpty(); }));
    messages.clear();
    Ui::THauptForm& f = window.Form();
    // Empty list: New's defaults, Replace and Remove off.
    EXPECT_EQ(f.cbWeekDay->currentIndex(), 1);
    EXPECT_FALSE(f.btnReplace->isEnabled());

    // Add with an empty name: the message, the focus on the name.
    window.activateWindow();
    f.btnAdd->click();
    EXPECT_EQ(messages.value(0), QStringLiteral("Please specify a name for this schedule!"));
    EXPECT_EQ(f.lvSchedules->model()->rowCount(), 0);

    // A schedule typed in and added; the weekday returns with 7 steps.
    f.leName->setText(QStringLiteral("Weekly"));
    emit f.leName->textEdited(f.leName->text());
    f.leTask->setText(task);
    emit f.leTask->textEdited(f.leTask->text());
    f.edSteps->setValue(5);
    EXPECT_FALSE(f.cbWeekDay->isEnabled());
    EXPECT_EQ(f.cbWeekDay->currentIndex(), 0);
    // Back to 7: the weekday of New (Monday).
    f.edSteps->setValue(7);
    EXPECT_TRUE(f.cbWeekDay->isEnabled());
    EXPECT_EQ(f.cbWeekDay->currentIndex(), 1);
    f.cbWeekDay->setCurrentIndex(4);
    emit f.cbWeekDay->activated(4);
    f.btnAdd->click();
    ASSERT_EQ(f.lvSchedules->model()->rowCount(), 1);
    EXPECT_EQ(controller->Editor().Schedules().at(0).FirstDay, 4);
    EXPECT_EQ(window.SelectedSchedule(), 0);
    EXPECT_TRUE(f.btnReplace->isEnabled());
    // The schedule shown now: its weekday comes back.
    f.edSteps->setValue(5);
    f.edSteps->setValue(7);
    EXPECT_EQ(f.cbWeekDay->currentIndex(), 4);
    // The same name again is refused.
    f.btnAdd->click();
    EXPECT_EQ(messages.last(), QStringLiteral("Please select a unique name for this schedule!"));
    EXPECT_EQ(f.lvSchedules->model()->rowCount(), 1);
    window.close();
}

TEST_F(HauptFormTest, TaskServiceGoneWhileTheWindowIsOpen)
{
    TSchedTask s;
    s.SName = QStringLiteral("Daily");
    s.Task = task;
    TMarvickSettings settings;
    settings.Schedules = {s};
    SaveSchedules(ini, settings, QStringLiteral("Marvick"), QStringLiteral("1.1"));
    kestest::FakeSystemd fake(dir.filePath(QStringLiteral("units")));
    if (!fake.Start())
        KESTEST_SKIP_OR_FAIL("dbus-daemon cannot be started");
    TMarvickWindowSetup setup;
    setup.IniName = ini;
    setup.JobDir = dir.path();
    setup.ProgramPath = QStringLiteral("/usr/bin/Marvick");
    TMarvickWindowController controller(setup);
    ASSERT_TRUE(controller.Load().isEmpty());
    platform::TSystemdTaskServiceOptions o;
    o.TaskFolder = dir.filePath(QStringLiteral("Tasks"));
    o.UnitFolder = dir.filePath(QStringLiteral("units"));
    o.BusAddress = fake.Address();
    o.SystemBusAddress = fake.Address();
    o.SplitArguments = [](const QString& text) { return SplitCommandLine(text); };
    ASSERT_EQ(controller.StartScheduler(platform::CreateSystemdTaskService(o)), 0u);
    THauptForm window(controller);
    QStringList messages;
    window.SetMessageHook([&](TMessageKind, const QString& text) {
        messages << text;
        return true;
    });
    window.ShowWindow();
    QApplication::processEvents();
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_TRUE(window.Form().btnCreateTask->isEnabled());

    // The manager goes away: told once, the buttons off, the list kept.
    fake.GoAway();
    window.RefreshTasks();
    window.RefreshTasks();
    EXPECT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages.value(0).contains(QStringLiteral("0x80041315"))) << messages.value(0).toStdString();
    EXPECT_FALSE(window.Form().btnCreateTask->isEnabled());
    EXPECT_FALSE(window.Form().btnShowTasks->isEnabled());
    EXPECT_EQ(window.Form().lvSchedules->model()->rowCount(), 1);
    window.close();
    EXPECT_EQ(LoadSchedules(ini, {}).Schedules.value(0).SName, QStringLiteral("Daily"));
}

TEST(DesktopIconDialogTest, ControlsGiveTheSwitches)
{
    TDesktopIconDialog dialog;
    dialog.Prepare(QStringLiteral("Create desktop shortcut for alternating backup"),
        QStringLiteral("Daily backup"), 0, QStringLiteral(" /hide /logmode:1"), QStringLiteral("Daily"),
        QStringLiteral("KesSched-Daily"));
    Ui::TDesktopIconDialog& f = dialog.Form();
    EXPECT_EQ(f.edTasks->text(), QStringLiteral("2 selected tasks"));
    EXPECT_FALSE(f.cbParallel->isHidden());
    EXPECT_TRUE(f.rbStatus1->isChecked());
    EXPECT_FALSE(f.bbErrorAction->isEnabled());
    f.rbShutdown->setChecked(true);
    EXPECT_TRUE(f.bbErrorAction->isEnabled());
    EXPECT_EQ(f.bbErrorAction->toolTip(), QStringLiteral("Disable Shutdown on errors"));
    f.cbParallel->setChecked(true);
    EXPECT_TRUE(f.cbAction->isHidden());
    // F11 shows the focused control's hint, for a labelled field without
    // one its label's text.
    dialog.show();
    dialog.activateWindow();
    for (auto [control, hint] : {std::pair<QWidget*, QString> {f.cbRunAs, f.cbRunAs->toolTip()},
             {f.edShortcut, QStringLiteral("Name of desktop shortcut:")}}) {
        control->setFocus();
        QApplication::processEvents();
        QTest::keyClick(control, Qt::Key_F11);
        EXPECT_EQ(QToolTip::text(), hint);
    }
    f.rbStatus2->setChecked(true);
    dialog.Collect();
    EXPECT_EQ(
        dialog.Model().Options(), QStringLiteral(" /prompt:wait /parallel /hide /end:shutdown /logmode:1"));
}
