// The schedule list and editor of Marvick's window, driven without
// widgets: Validate's codes and messages, the steps/weekday rules, the
// list effects of Add, Replace and Remove, the name check before a
// scheduled task, and the preview of the schedule as edited.
#include "planner/ScheduleEditor.h"

#include "common/TestSupport.h"
#include "frame/WinExecute.h"

#include <QAbstractItemModelTester>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace kes;

namespace {

class ScheduleEditorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        task = dir.filePath(QStringLiteral("jobs/Home Files.buj"));
        kestest::WriteBytes(task, "[Job]\r\n");
        TSchedules list;
        for (const char* name : {"Daily", "Weekly", "Größe \"1\" / Ä"}) {
            TSchedTask s;
            s.SName = QString::fromUtf8(name);
            s.Task = task;
            s.NextCyc = 3;
            s.LastDay = 45000;
            list.append(s);
        }
        list[0].Steps = 5;
        list[0].FirstDay = 0;
        list[1].FirstDay = 3;
        editor.SetSchedules(list);
    }

    void Edit(const QString& name, int cycles, int steps)
    {
        editor.Values().Name = name;
        editor.Values().Task = task;
        editor.Values().Cycles = cycles;
        editor.SetSteps(steps);
    }

    QTemporaryDir dir;
    QString task;
    TScheduleEditor editor;
};

} // namespace

TEST_F(ScheduleEditorTest, ValidateTable)
{
    struct Case {
        const char* what;
        QString name;
        bool validTask;
        int cycles, steps, index;
        int code;
        const char* message;
        TEditorFocus focus;
    };
    const QString limit = QStringLiteral("The total number of steps exceeds the maximum of ");
    const Case cases[] = {
        {"empty name", QString(), true, 2, 7, -1, 1, "Please specify a name for this schedule!",
            TEditorFocus::efName},
        {"name of another, other case", QStringLiteral("daily"), true, 2, 7, -1, 1,
            "Please select a unique name for this schedule!", TEditorFocus::efName},
        {"Replace keeps its own name", QStringLiteral("DAILY"), true, 2, 5, 0, 0, "", TEditorFocus::efNone},
        {"Replace with the name of another", QStringLiteral("weekly"), true, 2, 5, 0, 1,
            "Please select a unique name for this schedule!", TEditorFocus::efName},
        {"task missing", QStringLiteral("New"), false, 2, 7, -1, 2, "Please select a valid backup task!",
            TEditorFocus::efTask},
        {"99 weeks", QStringLiteral("New"), true, 99, 7, -1, 0, "", TEditorFocus::efNone},
        {"100 weeks", QStringLiteral("New"), true, 100, 7, -1, 3, "693!", TEditorFocus::efCycles},
        {"124 x 8", QStringLiteral("New"), true, 124, 8, -1, 0, "", TEditorFocus::efNone},
        {"125 x 8 = 1000", QStringLiteral("New"), true, 125, 8, -1, 4, "999!", TEditorFocus::efSteps},
        {"499 x 999", QStringLiteral("New"), true, 499, 999, -1, 4, "999!", TEditorFocus::efSteps},
        {"blank, quote, slash and umlaut", QString::fromUtf8("Neu \"2\" / Ü"), true, 2, 7, -1, 0, "",
            TEditorFocus::efNone},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Edit(c.name, c.cycles, c.steps);
        if (!c.validTask)
            editor.Values().Task = dir.filePath(QStringLiteral("gone.buj"));
        const TValidation v = editor.Validate(c.index);
        EXPECT_EQ(v.Code, c.code);
        EXPECT_EQ(v.Focus, c.focus);
        if (c.code >= 3)
            EXPECT_EQ(v.Message, limit + QLatin1String(c.message));
        else
            EXPECT_EQ(v.Message, QLatin1String(c.message));
    }
    // A folder is not a backup task.
    Edit(QStringLiteral("New"), 2, 7);
    editor.Values().Task = dir.path();
    EXPECT_EQ(editor.Validate(-1).Code, 2);
}

TEST_F(ScheduleEditorTest, StepsAndWeekdayRules)
{
    // The weekday of the schedule last shown comes back with 7 steps.
    editor.ShowSchedule(1);
    EXPECT_TRUE(editor.Values().WeekDayEnabled);
    EXPECT_EQ(editor.Values().WeekDay, 3);
    editor.SetSteps(5);
    EXPECT_FALSE(editor.Values().WeekDayEnabled);
    EXPECT_EQ(editor.Values().WeekDay, 0);
    editor.SetSteps(7);
    EXPECT_EQ(editor.Values().WeekDay, 3);
    // After New it is Monday; the blank item chosen by hand gives Monday.
    editor.Reset();
    editor.SetSteps(5);
    editor.SetSteps(7);
    EXPECT_EQ(editor.Values().WeekDay, 1);
    editor.SetWeekDay(6);
    editor.SetWeekDay(0);
    EXPECT_EQ(editor.Values().WeekDay, 1);
    // A daily schedule shows the blank item; its FirstDay 0 leaves LastWd
    // at Monday.
    editor.ShowSchedule(0);
    EXPECT_FALSE(editor.Values().WeekDayEnabled);
    EXPECT_EQ(editor.Values().WeekDay, 0);
    editor.SetSteps(7);
    EXPECT_EQ(editor.Values().WeekDay, 1);
    // New's defaults.
    editor.Reset();
    const TScheduleEditorValues& v = editor.Values();
    EXPECT_TRUE(v.Name.isEmpty() && v.Task.isEmpty());
    EXPECT_EQ(v.Cycles, 2);
    EXPECT_EQ(v.Steps, 7);
    EXPECT_EQ(v.WeekDay, 1);
    EXPECT_EQ(v.Mode, kModeIncremental);
    EXPECT_FALSE(v.Silent);
}

TEST_F(ScheduleEditorTest, AddReplaceRemoveListEffects)
{
    const auto yes = [](const QString&) { return true; };
    QStringList asked;
    const auto no = [&](const QString& text) {
        asked << text;
        return false;
    };
    // Add appends a new rotation, FirstDay 0 for a daily schedule.
    Edit(QStringLiteral("Nightly"), 3, 4);
    int row = -1;
    EXPECT_EQ(editor.Add(row).Code, 0);
    EXPECT_EQ(row, 3);
    TSchedTask added = editor.Schedules().at(3);
    EXPECT_EQ(added.SName, QStringLiteral("Nightly"));
    EXPECT_EQ(added.FirstDay, 0);
    EXPECT_EQ(added.NextCyc + added.LastFull + added.LastDay, 0);
    // Add with the name of the shown schedule fails, nothing changes.
    editor.ShowSchedule(1);
    EXPECT_EQ(editor.Add(row).Code, 1);
    EXPECT_EQ(editor.Schedules().size(), 4);

    // Replace asks first; No keeps everything.
    row = 1;
    editor.Values().Cycles = 5;
    EXPECT_EQ(editor.Replace(row, no).Code, 0);
    EXPECT_EQ(asked.value(0), QStringLiteral("Replace and reset selected backup schedule \"Weekly\"?"));
    EXPECT_EQ(editor.Schedules().at(1).Cycles, 2);
    EXPECT_EQ(editor.Schedules().at(1).NextCyc, 3);
    // Yes overwrites and starts a new rotation; the row stays selected.
    EXPECT_EQ(editor.Replace(row, yes).Code, 0);
    EXPECT_EQ(row, 1);
    EXPECT_EQ(editor.Schedules().at(1).Cycles, 5);
    EXPECT_EQ(editor.Schedules().at(1).NextCyc + editor.Schedules().at(1).LastDay, 0);
    // Without a selected row Replace and Remove do nothing.
    row = -1;
    EXPECT_EQ(editor.Replace(row, yes).Code, 0);
    EXPECT_FALSE(editor.Remove(row, yes));
    EXPECT_EQ(editor.Schedules().size(), 4);

    // Remove: the following ones move up, the same row index is selected;
    // removing the last row selects the new last one.
    row = 1;
    EXPECT_FALSE(editor.Remove(row, no));
    EXPECT_EQ(asked.value(1), QStringLiteral("Remove selected backup schedule \"Weekly\" from list?"));
    EXPECT_TRUE(editor.Remove(row, yes));
    EXPECT_EQ(row, 1);
    EXPECT_EQ(editor.Schedules().at(1).SName, QString::fromUtf8("Größe \"1\" / Ä"));
    EXPECT_EQ(editor.Values().Name, editor.Schedules().at(1).SName);
    row = 2;
    EXPECT_TRUE(editor.Remove(row, yes));
    EXPECT_EQ(row, 1);
    row = 0;
    EXPECT_TRUE(editor.Remove(row, yes));
    EXPECT_TRUE(editor.Remove(row, yes));
    EXPECT_EQ(row, -1); // empty list: the editor has New's defaults
    EXPECT_TRUE(editor.Values().Name.isEmpty());
}

TEST_F(ScheduleEditorTest, ColumnsAndActiveFlags)
{
    editor.SetActiveTasks({QStringLiteral("Kestrup-Schedule-weekly"), QStringLiteral("daily-other")});
    EXPECT_EQ(editor.CellText(1, scName), QStringLiteral("Weekly"));
    EXPECT_EQ(editor.CellText(1, scTask), QStringLiteral("Home Files.buj"));
    EXPECT_EQ(editor.CellText(1, scActive), QStringLiteral("A"));
    EXPECT_EQ(editor.CellText(0, scActive), QString());
    EXPECT_EQ(editor.CellText(1, scStart, QStringLiteral("en")), QStringLiteral("Wed"));
    EXPECT_EQ(editor.CellText(0, scStart, QStringLiteral("en")), QString());
    EXPECT_EQ(editor.CellText(0, scType), QStringLiteral("Diff"));
    // Recomputed after Add.
    Edit(QStringLiteral("Daily-Other"), 2, 5);
    int row = -1;
    editor.Add(row);
    EXPECT_EQ(editor.CellText(row, scActive), QStringLiteral("A"));
}

TEST_F(ScheduleEditorTest, CreateTaskNameCheckAndEditCommandLine)
{
    const char* bad[] = {"a*b", "a?", "<x>", "c:", "q\"", "s/t", "b\\s", "p|q", "tab\there"};
    for (const char* name : bad) {
        SCOPED_TRACE(name);
        editor.Values().Name = QString::fromUtf8(name);
        EXPECT_EQ(editor.CreateTaskNameError(),
            QStringLiteral("\"") + QString::fromUtf8(name)
                + QStringLiteral("\" contains invalid characters (* ? < > : \" / \\ |)!"));
    }
    for (const char* name : {"", "Daily backup", "Größe"}) {
        editor.Values().Name = QString::fromUtf8(name);
        EXPECT_TRUE(editor.CreateTaskNameError().isEmpty()) << name;
    }
    // A task path with blanks reaches the editor whole.
    const QString args = editor.EditTaskArguments(0);
    EXPECT_EQ(args, QStringLiteral("\"") + task + QStringLiteral("\" /startapp:marvick /edit"));
    EXPECT_EQ(SplitCommandLine(args),
        (QStringList {task, QStringLiteral("/startapp:marvick"), QStringLiteral("/edit")}));
}

TEST_F(ScheduleEditorTest, PreviewUsesTheShownStateUntilTheRotationIsEdited)
{
    // Daily schedule shown: step 3 is next, done today already.
    TSchedules list = editor.Schedules();
    const QDate today(2026, 12, 10);
    list[0].LastDay = DayNumber(today);
    editor.SetSchedules(list);
    editor.ShowSchedule(0);
    bool current = false;
    QList<TPreviewRow> rows = editor.Preview(today, 3, current);
    EXPECT_TRUE(current);
    ASSERT_EQ(rows.size(), 3);
    EXPECT_EQ(rows[0].Kind, TPreviewKind::pkAlreadyDone);
    EXPECT_EQ(rows[1].Folder, QStringLiteral("Bu03D"));
    // Another step count: a new rotation, as Replace would begin it.
    editor.SetSteps(4);
    rows = editor.Preview(today, 2, current);
    EXPECT_FALSE(current);
    EXPECT_EQ(rows[0].Folder, QStringLiteral("Bu01F"));
    // Only the name changed: still the current state.
    editor.ShowSchedule(0);
    editor.Values().Name = QStringLiteral("Renamed");
    editor.Preview(today, 1, current);
    EXPECT_TRUE(current);
}

TEST_F(ScheduleEditorTest, ListModelIsAValidModel)
{
    TScheduleListModel model(editor);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    int row = -1;
    Edit(QStringLiteral("Fourth"), 2, 7);
    editor.Add(row);
    model.Refresh();
    EXPECT_EQ(model.rowCount(), 4);
    row = 3;
    editor.Remove(row, [](const QString&) { return true; });
    model.Refresh();
    EXPECT_EQ(model.rowCount(), 3);
    EXPECT_EQ(model.columnCount(), scColumnCount);
    EXPECT_EQ(model.headerData(scCycles, Qt::Horizontal).toString(), QStringLiteral("Cycles"));
    EXPECT_EQ(model.data(model.index(0, scSteps), TScheduleListModel::SortRole).toInt(), 5);
    EXPECT_EQ(model.data(model.index(2, scName)).toString(), QString::fromUtf8("Größe \"1\" / Ä"));
}
