// Selwand's main window on Qt's offscreen platform: the faults a window
// can add on top of its controller - a check mark the view changes while
// monitoring runs, an edit button that stays usable while the main program
// is still open, "Remove directory" usable while monitoring, the interval
// editor's ranges when the unit is switched.
#include "app/selwand/MainWindow.h"
#include "app/selwand/UiText.h" // before the form it translates
#include "common/StandinLog.h"
#include "ui_MainWindow.h"
#include "watchdog/MonTask.h"
#include "watchdog/SelwandTestSupport.h"

#include <QComboBox>
#include <QSpinBox>
#include <QTest>

using namespace kes;
using kestest::WaitUntil;
using selwandtest::WriteTaskFile;

namespace {

class MainWindowTest : public selwandtest::SelwandFixture {
protected:
    void TearDown() override
    {
        win.reset();
        controller.reset();
        SelwandFixture::TearDown();
    }
    TMainWindow& Open(const QString& kesPath = QString())
    {
        kes::TSelwandSetup setup = Setup();
        setup.Location.KesPath = kesPath;
        monitor = std::make_unique<TMonitorController>(setup);
        monitor->SetAutoTick(false);
        monitor->Load();
        controller = std::make_unique<TMainWindowController>(*monitor);
        controller->SetAutostartPath(Path("autostart/Selwand.desktop"));
        win = std::make_unique<TMainWindow>(*controller);
        win->ShowMainWindow();
        return *win;
    }
    Qt::CheckState Mark(int row) const
    {
        const QAbstractItemModel* model = win->Form().lvDirs->model();
        return model->data(model->index(row, 0), Qt::CheckStateRole).value<Qt::CheckState>();
    }
    std::unique_ptr<TMainWindowController> controller;
    std::unique_ptr<TMainWindow> win;
};

TEST_F(MainWindowTest, ACheckMarkClickedWhileMonitoringIsUndoneAtOnce)
{
    WriteTaskFile(taskFile, dest, data);
    WriteSettings();
    TMainWindow& w = Open();
    QListView* list = w.Form().lvDirs;
    ASSERT_EQ(Mark(0), Qt::Checked);
    QTest::mouseClick(w.Form().btStart, Qt::LeftButton);
    ASSERT_TRUE(monitor->Monitoring());

    // Space on the current item is the delegate's check toggle, as a click
    // on the check box is.
    list->setFocus();
    list->setCurrentIndex(list->model()->index(0, 0));
    QTest::keyClick(list, Qt::Key_Space);
    EXPECT_EQ(Mark(0), Qt::Checked);
    EXPECT_EQ(monitor->Tasks()[0]->MonStatus, mtEnabled);

    Stop();
    QTest::keyClick(list, Qt::Key_Space);
    EXPECT_EQ(Mark(0), Qt::Unchecked);
    EXPECT_EQ(monitor->Tasks()[0]->MonStatus, mtDisabled);
}

TEST_F(MainWindowTest, RemoveIsDisabledWhileMonitoringRuns)
{
    WriteTaskFile(taskFile, dest, data);
    WriteSettings();
    TMainWindow& w = Open();
    EXPECT_TRUE(w.Form().btRemove->isEnabled());
    QTest::mouseClick(w.Form().btStart, Qt::LeftButton);
    ASSERT_TRUE(monitor->Monitoring());
    EXPECT_FALSE(w.Form().btRemove->isEnabled());
    EXPECT_FALSE(w.Actions().Remove->isEnabled());
    EXPECT_FALSE(w.Form().btEdit->isEnabled()); // a watched task cannot be edited either
    EXPECT_FALSE(w.Form().cbPeriodic->isEnabled());
    QTest::mouseClick(w.Form().btStop, Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([&] { return !monitor->Monitoring(); }));
    EXPECT_TRUE(w.Form().btRemove->isEnabled());
    EXPECT_TRUE(w.Form().btEdit->isEnabled());
}

TEST_F(MainWindowTest, TheEditButtonIsDisabledWhileTheMainProgramRuns)
{
    WriteTaskFile(taskFile, dest, data);
    WriteSettings();
    kestest::StandinEnvironment standin(Path("kesmo.log"), 0, 600);
    TMainWindow& w = Open(kestest::StandinProgram());
    ASSERT_TRUE(w.Form().btEdit->isEnabled());
    QTest::mouseClick(w.Form().btEdit, Qt::LeftButton);
    EXPECT_FALSE(w.Form().btEdit->isEnabled());
    // The window answers meanwhile: another command works.
    QTest::mouseClick(w.Form().cbKeepRunning, Qt::LeftButton);
    EXPECT_TRUE(w.Form().cbKeepRunning->isChecked());
    EXPECT_FALSE(w.Form().btEdit->isEnabled());
    ASSERT_TRUE(kestest::WaitForStandinCalls(standin.LogFile(), 1));
    ASSERT_TRUE(WaitUntil([&] { return w.Form().btEdit->isEnabled(); }));
    EXPECT_FALSE(controller->Editing());
}

TEST_F(MainWindowTest, SwitchingTheIntervalUnitSetsItsRange)
{
    WriteTaskFile(taskFile, dest, data);
    WriteSettings(QStringLiteral("Interval=5400\n"));
    TMainWindow& w = Open();
    QSpinBox* value = w.Form().interval->SpinBox();
    QComboBox* unit = w.Form().interval->UnitBox();
    EXPECT_EQ(unit->currentIndex(), int(iuMinutes));
    EXPECT_EQ(value->value(), 90);
    struct Case {
        TIntervalUnit unit;
        int min, max, step, value;
        const char* hint;
    } cases[] = {
        {iuSeconds, 5, 295, 5, 30, "Number of seconds"},
        {iuHours, 1, 12, 1, 1, "Number of hours"},
        {iuMinutes, 1, 360, 1, 10, "Number of minutes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.hint);
        unit->setFocus();
        // Choosing by keyboard, as a user does: the list's item activated.
        unit->setCurrentIndex(int(c.unit));
        emit unit->activated(int(c.unit));
        EXPECT_EQ(value->minimum(), c.min);
        EXPECT_EQ(value->maximum(), c.max);
        EXPECT_EQ(value->singleStep(), c.step);
        EXPECT_EQ(value->value(), c.value);
        EXPECT_EQ(value->toolTip(), QString::fromLatin1(c.hint));
    }
    // A value typed beyond the range is held at its end; it is what is saved.
    value->setValue(500);
    EXPECT_EQ(value->value(), 360);
    EXPECT_EQ(monitor->IntervalEditor().GetIntervalSeconds(), 360 * 60);
    // Without periodic backups the editor cannot be used.
    w.Form().cbPeriodic->setFocus();
    QTest::keyClick(w.Form().cbPeriodic, Qt::Key_Space);
    EXPECT_FALSE(w.Form().interval->isEnabled());
    EXPECT_EQ(monitor->IntervalEditor().GetIntervalSeconds(), -1);
}

} // namespace
