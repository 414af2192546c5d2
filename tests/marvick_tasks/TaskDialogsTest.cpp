// The scheduled-task dialogs as widgets (offscreen) over the real task
// service and a fake user manager: the wizard's controls write to its model
// (a task made by clicks and typing), the selection dialog's list, the
// advanced settings' battery check, and the error-action dialog's mask.
//
// With KES_SCREENSHOTS=<folder> (and KES_SCREENSHOT_VARIANT=light|dark)
// the tests also save pictures of the pages (scripts/screenshots-tasks.sh
// runs them under Xvfb).
#include "app/marvick/tasks/AdvancedScheduleDlg.h"
#include "app/marvick/tasks/ErrorActionDlg.h"
#include "app/marvick/tasks/SelSchedTaskDlg.h"
#include "app/marvick/tasks/TaskSchedDlg.h"
#include "app/marvick/tasks/TaskWizardForm.h"

#include "planner/WizardFixture.h"
#include "ui/DisplayStyle.h"
#include "ui/UnitSpinBox.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTest>
#include <QTreeWidget>

using namespace kes;
using kestest::WizardService;

namespace {

QString ShotFolder()
{
    return qEnvironmentVariable("KES_SCREENSHOTS");
}

void Shot(QWidget* w, const QString& name)
{
    if (ShotFolder().isEmpty())
        return;
    static const bool styled = [] {
        ApplyDisplayStyle(qEnvironmentVariable("KES_SCREENSHOT_VARIANT") == QStringLiteral("dark")
                ? TDisplayStyle::dsDark
                : TDisplayStyle::dsLight);
        return true;
    }();
    (void)styled;
    const QString variant = qEnvironmentVariable("KES_SCREENSHOT_VARIANT", QStringLiteral("light"));
    w->show();
    w->resize(w->size().expandedTo(w->sizeHint()));
    for (int i = 0; i < 20; ++i) {
        QCoreApplication::processEvents();
        QTest::qWait(10);
    }
    w->grab().save(
        ShotFolder() + QLatin1Char('/') + name + QLatin1Char('-') + variant + QStringLiteral(".png"));
}

class TaskDialogs : public WizardService { };

} // namespace

TEST_F(TaskDialogs, ATaskMadeWithTheWizardsControls)
{
    TTaskScheduleDialog dialog;
    dialog.InitTaskScheduler(scheduler.get());
    dialog.SetUi(&ui);
    TTaskWizardForm& form = dialog.Form();
    ui.Wizard = [&](TTaskWizard& w) {
        form.Bind(w, ui);
        EXPECT_EQ(form.windowTitle(), QStringLiteral("Windows Scheduled Task Wizard (Alternating schedule)"));
        EXPECT_EQ(form.MainPages()->currentIndex(), 0);
        EXPECT_FALSE(form.BackButton()->isEnabled());
        Shot(&form, QStringLiteral("marvick-wizard-settings"));

        // A schedule's task field shows the schedule and cannot be typed
        // into.
        EXPECT_TRUE(form.TaskField()->isReadOnly());
        EXPECT_EQ(form.TaskField()->text(), QStringLiteral("\"Weekly Full\""));
        form.NextButton()->click();
        EXPECT_EQ(form.MainPages()->currentIndex(), 1);
        EXPECT_TRUE(form.BackButton()->isEnabled());
        Shot(&form, QStringLiteral("marvick-wizard-daily"));

        // Weekly: the last checked day cannot be unchecked.
        form.StartKindBox()->setCurrentIndex(int(TStartKind::skWeekly));
        EXPECT_EQ(form.SubPages()->currentIndex(), int(TSchedulePage::spWeekly));
        auto* monday = form.SubPages()->currentWidget()->findChildren<QCheckBox*>().value(0);
        EXPECT_TRUE(monday->isChecked());
        monday->click();
        EXPECT_TRUE(monday->isChecked());
        EXPECT_EQ(w.Pages().WeekDays, 1);
        auto* friday = form.SubPages()->currentWidget()->findChildren<QCheckBox*>().value(4);
        friday->click();
        EXPECT_EQ(w.Pages().WeekDays, 1 | 16);
        Shot(&form, QStringLiteral("marvick-wizard-weekly"));
        form.StartKindBox()->setCurrentIndex(int(TStartKind::skMonthly));
        Shot(&form, QStringLiteral("marvick-wizard-monthly"));
        form.StartKindBox()->setCurrentIndex(int(TStartKind::skWeekly));

        form.NextButton()->click();
        EXPECT_EQ(form.SubPages()->currentIndex(), int(TSchedulePage::spAccount));
        EXPECT_EQ(form.NextButton()->text(), QStringLiteral("Done"));
        Shot(&form, QStringLiteral("marvick-wizard-account"));
        form.NextButton()->click();
        return form.result() == QDialog::Accepted;
    };
    int taskNr = -1;
    int trgNr = -1;
    ASSERT_EQ(dialog.Execute(-1, TKesAction::paSchedule, TaskDir(), QStringLiteral("Weekly Full"),
                  QStringLiteral(" /hide"), taskNr, trgNr, false),
        mrOk)
        << ui.Messages.join(QLatin1Char('|')).toStdString();
    TWinTask& d = Folder().Tasks(taskNr).Definition();
    ASSERT_EQ(d.TriggerCount(), 1);
    EXPECT_EQ(d.Triggers(0).TriggerType(), TWinTaskTriggerType::ttWeekly);
    EXPECT_EQ(d.Triggers(0).DaysOfWeek(), 2 | 32) << "Monday and Friday";
    EXPECT_TRUE(d.Actions(0).Arguments().startsWith(QStringLiteral("\"Weekly Full\"  /hide")));

    // The selection dialog lists it; a second header click reverses.
    const QString self = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    TSelectSchedTaskDialog select(QStringLiteral("Alternating schedule"), *scheduler, self);
    ASSERT_EQ(select.Model().Fill(true), 1);
    select.ShowRows();
    ASSERT_EQ(select.List()->topLevelItemCount(), 1);
    EXPECT_EQ(select.List()->topLevelItem(0)->text(0), QStringLiteral("Schedule-Weekly Full"));
    EXPECT_EQ(select.List()->topLevelItem(0)->text(2), QStringLiteral("Not yet run"));
    EXPECT_TRUE(select.EnabledToggle()->isChecked());
    EXPECT_EQ(select.RunButton()->text(), QStringLiteral("Run task"));
    EXPECT_EQ(select.Triggers()->count(), 1);
    select.List()->header()->sectionClicked(1);
    select.List()->header()->sectionClicked(1);
    EXPECT_FALSE(select.Model().SortDescending());
    select.EnabledToggle()->click();
    EXPECT_EQ(Folder().Tasks(0).Status(), TWinTaskStatus::tsDisabled);
    EXPECT_FALSE(select.RunButton()->isEnabled());
    select.EnabledToggle()->click();
    EXPECT_TRUE(select.RunButton()->isEnabled());
    Shot(&select, QStringLiteral("marvick-tasks-selection"));
}

TEST_F(TaskDialogs, NothingToPickReturnsNoWithoutShowingTheList)
{
    int task = 0;
    int trigger = 0;
    EXPECT_EQ(TSelectSchedTaskDialog::Execute(
                  QStringLiteral("x"), *scheduler, QStringLiteral("Marvick"), task, trigger),
        mrNo);
}

TEST(TaskDialogWidgets, AdvancedSettingsAndErrorActions)
{
    TAdvancedSettings s;
    s.MinutesLimit = 10500;
    TAdvancedScheduleDialog advanced(s, QDateTime(QDate(2025, 6, 1), QTime(9, 0)));
    EXPECT_EQ(advanced.LimitBox()->Value(), 7);
    EXPECT_TRUE(advanced.StopBatteryCheck()->isEnabled());
    advanced.PowerOnlyCheck()->click();
    EXPECT_FALSE(advanced.StopBatteryCheck()->isEnabled());
    EXPECT_FALSE(advanced.StopBatteryCheck()->isChecked());
    advanced.ReadControls();
    TAdvancedSettings back = s;
    EXPECT_TRUE(FinishAdvancedSettings(advanced.Model(), true, back));
    EXPECT_FALSE(back.PowerOnly);
    EXPECT_FALSE(back.StopBattery);
    EXPECT_EQ(back.MinutesLimit, 10080);
    Shot(&advanced, QStringLiteral("marvick-wizard-advanced"));

    // A mask with a bit above the known ones: 5 shows two checks, OK drops
    // the unknown bit.
    TErrorActionDialog errors(QStringLiteral("Shutdown"), 5 | 64);
    EXPECT_EQ(errors.Group()->title(), QStringLiteral("No Shutdown on these errors"));
    EXPECT_TRUE(errors.Check(0)->isChecked());
    EXPECT_FALSE(errors.Check(1)->isChecked());
    EXPECT_TRUE(errors.Check(2)->isChecked());
    int mask = 5 | 64;
    EXPECT_TRUE(errors.Choice().Finish(true, mask));
    EXPECT_EQ(mask, 5);
    errors.Check(4)->click();
    EXPECT_TRUE(errors.Choice().Finish(true, mask));
    EXPECT_EQ(mask, 21);
}

TEST_F(TaskDialogs, AnUnreadableTaskAndAServiceThatLeaves)
{
    TTaskScheduleDialog dialog;
    dialog.InitTaskScheduler(scheduler.get());
    dialog.SetUi(&ui);
    ASSERT_EQ(
        dialog.Execute(-1, TKesAction::paSchedule, TaskDir(), QStringLiteral("Daily"), QString(), false),
        mrOk);
    QStringList names;
    QList<int> indexes;
    EXPECT_EQ(
        dialog.GetActiveTasks(QFileInfo(QCoreApplication::applicationFilePath()).fileName(), names, &indexes),
        0);
    EXPECT_EQ(names, QStringList {QStringLiteral("Schedule-Daily")});
    EXPECT_EQ(indexes, QList<int> {0});

    // The definition is damaged: editing it shows why and leaves the file.
    const QString file = dir.filePath(QStringLiteral("Tasks/Schedule\\x2dDaily.xml"));
    kestest::WriteBytes(file, "<Task>");
    scheduler->Refresh();
    ui.Messages.clear();
    const int shown = ui.Shown;
    EXPECT_EQ(dialog.Execute(1, TKesAction::paSchedule, TaskDir(), QString(), QString(), false), mrCancel);
    EXPECT_EQ(ui.Shown, shown);
    ASSERT_EQ(ui.Messages.size(), 1);
    EXPECT_TRUE(ui.Messages[0].contains(QStringLiteral("cannot be read")));
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("<Task>"));

    // The manager leaves before the new task is listed: a message and no
    // crash, nothing written.
    fake->GoAway();
    ui.Messages.clear();
    EXPECT_EQ(
        dialog.Execute(-1, TKesAction::paSchedule, TaskDir(), QStringLiteral("Weekly"), QString(), false),
        mrCancel);
    EXPECT_FALSE(ui.Messages.isEmpty());
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("Tasks/Schedule\\x2dWeekly.xml"))));
}
