// The task selection's model over the real task service and a fake user
// manager: the rows of the program's tasks, their sorting, the status
// controls, run / stop / enable / delete, the status poll and the result.
#include "planner/TaskSelection.h"

#include "WizardFixture.h"

using namespace kes;
using kestest::WizardService;

namespace {

class TaskSelection : public WizardService {
protected:
    void Register(const QString& name, const QString& program, TWinTaskTriggerType type)
    {
        std::unique_ptr<TWinTask> task = scheduler->NewTask();
        task->SetLogonType(TLogonType::ltToken);
        task->NewAction(TWinTaskActionType::taExec).SetPath(program);
        task->NewTrigger(type).SetStartTime(QDateTime(QDate(2025, 6, 1), QTime(20, 0)));
        ASSERT_GE(Folder().RegisterTask(name, *task, QString(), QString()), 0)
            << Folder().ErrorMessage().toStdString();
    }
    static QString Service(const QString& escaped)
    {
        return QStringLiteral("kestask-") + escaped + QStringLiteral(".service");
    }
    QStringList Names(const TSelectSchedTaskModel& m) const
    {
        QStringList names;
        for (const TSelectRow& r : m.Rows())
            names << r.Name;
        return names;
    }
    std::deque<bool> answers;
    QStringList asked;
    QStringList shown;
    TSelectSchedTaskModel Model()
    {
        return TSelectSchedTaskModel(
            *scheduler, QStringLiteral("Marvick"),
            [this](const QString& q) {
                asked << q;
                const bool a = !answers.empty() && answers.front();
                if (!answers.empty())
                    answers.pop_front();
                return a;
            },
            [this](const QString& m) { shown << m; });
    }
};

} // namespace

TEST_F(TaskSelection, RowsSortingAndActions)
{
    Register(QStringLiteral("beta"), Program(), TWinTaskTriggerType::ttDaily);
    Register(QStringLiteral("Alpha"), Program(), TWinTaskTriggerType::ttLogon);
    Register(QStringLiteral("other"), QStringLiteral("/usr/bin/true"), TWinTaskTriggerType::ttDaily);
    Register(QStringLiteral("Gamma"), Program(), TWinTaskTriggerType::ttDaily);

    TSelectSchedTaskModel m = Model();
    ASSERT_EQ(m.Fill(true), 3) << "the other program's task is not listed";
    EXPECT_EQ(
        Names(m), (QStringList {QStringLiteral("Alpha"), QStringLiteral("beta"), QStringLiteral("Gamma")}));
    EXPECT_EQ(m.Rows()[0].LastRun, QStringLiteral("Not yet run"));
    EXPECT_EQ(m.Rows()[0].NextRun, QStringLiteral("on logon"));
    EXPECT_EQ(m.SelectedRow(), 0);

    // beta has run: by last run time descending it comes first; never run
    // counts as the earliest.
    const int beta = Folder().IndexOfTask(QStringLiteral("beta"));
    Folder().Tasks(beta).Run();
    fake->Manager().FinishRun(Service(QStringLiteral("beta")), 0);
    m.Fill(false);
    m.SortBy(TSelectColumn::scLastRun);
    EXPECT_TRUE(m.SortDescending());
    EXPECT_EQ(m.SortTag(), 2 + 16);
    EXPECT_EQ(m.Rows()[0].Name, QStringLiteral("beta"));
    m.SortBy(TSelectColumn::scLastRun);
    EXPECT_EQ(m.Rows()[2].Name, QStringLiteral("beta"));
    // Status: descending on the first click, then ascending.
    m.SortBy(TSelectColumn::scStatus);
    EXPECT_TRUE(m.SortDescending());
    m.SortBy(TSelectColumn::scStatus);
    EXPECT_FALSE(m.SortDescending());
    m.SortBy(TSelectColumn::scName);
    EXPECT_FALSE(m.SortDescending()) << "another column: Name starts ascending";
    EXPECT_EQ(
        Names(m), (QStringList {QStringLiteral("Alpha"), QStringLiteral("beta"), QStringLiteral("Gamma")}));

    // Disable Gamma: toggle off and enabled, run disabled; on again.
    m.SelectRow(2);
    EXPECT_EQ(m.Details().Caption, QStringLiteral("Properties of task: Gamma"));
    EXPECT_EQ(m.Details().Triggers.size(), 1);
    EXPECT_TRUE(m.Details().Triggers[0].startsWith(QStringLiteral("1: ")));
    m.SetEnabled(false);
    EXPECT_EQ(m.Rows()[m.SelectedRow()].Name, QStringLiteral("Gamma")) << "the selection stays";
    TSelectStatusControls c = m.Controls();
    EXPECT_TRUE(c.ToggleEnabled);
    EXPECT_FALSE(c.ToggleOn);
    EXPECT_FALSE(c.RunEnabled);
    m.SetEnabled(true);
    EXPECT_TRUE(m.Controls().RunEnabled);

    // Run asks first; No starts nothing, Yes starts it and the button stops.
    answers = {false};
    m.RunOrStop();
    EXPECT_EQ(asked.last(), QStringLiteral("Run selected task?"));
    EXPECT_NE(m.SelectedStatus(), TWinTaskStatus::tsRunning);
    answers = {true};
    m.RunOrStop();
    EXPECT_EQ(m.SelectedStatus(), TWinTaskStatus::tsRunning);
    EXPECT_TRUE(m.Controls().RunStops);
    EXPECT_FALSE(m.Controls().ToggleEnabled);
    answers = {true};
    m.RunOrStop();
    EXPECT_EQ(asked.last(), QStringLiteral("Stop selected task?"));
    EXPECT_NE(m.SelectedStatus(), TWinTaskStatus::tsRunning);

    // The poll sees a change made elsewhere.
    EXPECT_FALSE(m.Poll());
    Folder().Tasks(Folder().IndexOfTask(QStringLiteral("Alpha"))).Run();
    EXPECT_TRUE(m.Poll());
    EXPECT_FALSE(m.Poll());

    // OK with a trigger line picked; deleting makes the result Yes.
    int task = -9;
    int trigger = -9;
    EXPECT_EQ(m.Finish(1, 0, task, trigger), 1);
    EXPECT_EQ(task, Folder().IndexOfTask(QStringLiteral("Gamma")));
    EXPECT_EQ(trigger, 0);
    answers = {false};
    EXPECT_FALSE(m.DeleteSelected());
    EXPECT_EQ(Folder().TaskCount(), 4);
    answers = {true, true, true};
    EXPECT_FALSE(m.DeleteSelected());
    EXPECT_EQ(asked.last(), QStringLiteral("Delete selected task?"));
    EXPECT_EQ(m.Rows().size(), 2u);
    EXPECT_TRUE(m.Changed());
    EXPECT_EQ(m.Finish(2, 0, task, trigger), 6);
    m.SelectRow(0);
    EXPECT_FALSE(m.DeleteSelected());
    EXPECT_TRUE(m.DeleteSelected()) << "the last listed task: the dialog closes";
    EXPECT_EQ(Folder().TaskCount(), 1) << "the other program's task stays";
    EXPECT_EQ(m.SelectedTaskIndex(), -1);
    EXPECT_TRUE(shown.isEmpty()) << shown.join(QLatin1Char('|')).toStdString();
}
