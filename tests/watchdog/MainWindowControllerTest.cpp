// The main window's logic without widgets: the task list model (checked
// with QAbstractItemModelTester), the checks when the window is shown,
// adding, removing and editing tasks with the real stand-in of the main
// program, check marks while monitoring, the shown task, the window's
// place on the screens, start on logon with desktop-file-validate as the
// oracle, and the info panel's texts.
#include "watchdog/MainWindowController.h"
#include "SelwandTestSupport.h"
#include "common/StandinLog.h"
#include "platform/DesktopEntry.h"
#include "platform/Paths.h"
#include "watchdog/FilterDisplay.h"
#include "watchdog/MonTask.h"
#include "watchdog/TaskListModel.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>

using namespace kes;
using kestest::WaitUntil;
using selwandtest::WriteTaskFile;

namespace {

class MainWindowControllerTest : public selwandtest::SelwandFixture {
protected:
    void TearDown() override
    {
        window.reset();
        SelwandFixture::TearDown();
    }
    TMainWindowController& Window(const QStringList& arguments = {})
    {
        window.reset();
        Load(arguments);
        window = std::make_unique<TMainWindowController>(*monitor);
        window->SetAutostartPath(Path("autostart/Selwand.desktop"));
        QObject::connect(window.get(), &TMainWindowController::MessageShown, window.get(),
            [this](TMessageKind, const QString& text) { messages << text; });
        return *window;
    }
    // A second monitored directory with its own task file.
    QString SecondTask(const QString& name)
    {
        const QString dir = Path(name);
        QDir().mkpath(dir);
        const QString file = Path(name + QStringLiteral(".buj"));
        WriteTaskFile(file, dest, dir);
        return file;
    }
    std::unique_ptr<TMainWindowController> window;
};

TEST_F(MainWindowControllerTest, TheTaskListModelFollowsTheTasks)
{
    WriteTaskFile(taskFile, dest, data);
    WriteSettings();
    TMainWindowController& w = Window();
    TTaskListModel& model = w.TaskModel();
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    ASSERT_EQ(model.rowCount(), 1);
    EXPECT_EQ(model.data(model.index(0), Qt::DisplayRole).toString(), QStringLiteral("01: ") + data);
    EXPECT_EQ(model.data(model.index(0), Qt::CheckStateRole).value<Qt::CheckState>(), Qt::Checked);

    const QString other = SecondTask(QStringLiteral("other"));
    ASSERT_TRUE(w.AddTask(other, Path("other")));
    ASSERT_EQ(model.rowCount(), 2);
    EXPECT_EQ(model.data(model.index(1), Qt::DisplayRole).toString(), QStringLiteral("02: ") + Path("other"));
    EXPECT_EQ(w.Selected(), 1);
    EXPECT_EQ(w.Display().TaskFile, other);

    ASSERT_TRUE(monitor->StartMonitoring());
    EXPECT_EQ(model.data(model.index(0), TTaskListModel::RunStatusRole).toInt(), int(rsWatch));
    Stop();
    EXPECT_EQ(model.data(model.index(0), TTaskListModel::RunStatusRole).toInt(), int(rsOff));

    w.Select(0);
    ASSERT_TRUE(w.RemoveSelected());
    ASSERT_EQ(model.rowCount(), 1);
    EXPECT_EQ(model.data(model.index(0), Qt::DisplayRole).toString(), QStringLiteral("01: ") + Path("other"));
    EXPECT_EQ(w.Selected(), 0);
    ASSERT_TRUE(w.RemoveSelected());
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_EQ(w.Selected(), -1);
    EXPECT_FALSE(w.Display().HasTask);
}

TEST_F(MainWindowControllerTest, CheckMarksAreRefusedWhileMonitoringAndDropPendingFilesOtherwise)
{
    WriteTaskFile(taskFile, dest, data);
    WriteSettings(QStringLiteral("Interval=-1\n"), 0, QStringLiteral("Count=1\nFile000=a.txt\n"));
    TMainWindowController& w = Window();
    TTaskListModel& model = w.TaskModel();
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    ASSERT_TRUE(monitor->StartMonitoring());
    changed.clear();
    EXPECT_FALSE(model.setData(model.index(0), Qt::Unchecked, Qt::CheckStateRole));
    // The row is reported changed so that a view puts the mark back.
    EXPECT_GE(changed.count(), 1);
    EXPECT_EQ(model.data(model.index(0), Qt::CheckStateRole).value<Qt::CheckState>(), Qt::Checked);
    EXPECT_EQ(monitor->Tasks()[0]->MonStatus, mtEnabled);
    EXPECT_FALSE(w.RemoveEnabled());
    EXPECT_FALSE(w.RemoveSelected());
    Stop();

    monitor->Tasks()[0]->FileList.Add(QStringLiteral("b.txt"));
    monitor->Tasks()[0]->ErrCount = 3;
    EXPECT_TRUE(model.setData(model.index(0), Qt::Unchecked, Qt::CheckStateRole));
    EXPECT_EQ(monitor->Tasks()[0]->MonStatus, mtDisabled);
    EXPECT_TRUE(monitor->Tasks()[0]->FileList.IsEmpty());
    EXPECT_EQ(monitor->Tasks()[0]->ErrCount, 0);
    EXPECT_TRUE(model.setData(model.index(0), Qt::Checked, Qt::CheckStateRole));
    EXPECT_EQ(monitor->Tasks()[0]->MonStatus, mtEnabled);
}

TEST_F(MainWindowControllerTest, ShowingTheWindowChecksEveryTask)
{
    // 01 fine; 02 its task file vanished; 03 its directory vanished; 04 its
    // task file became unusable (FTP); 05 its directory is no longer a
    // source of its task file.
    WriteTaskFile(taskFile, dest, data);
    const QString gone = SecondTask(QStringLiteral("gone"));
    const QString noDir = SecondTask(QStringLiteral("nodir"));
    const QString ftp = SecondTask(QStringLiteral("ftp"));
    const QString moved = SecondTask(QStringLiteral("moved"));
    QString text = QStringLiteral("[Config]\nInterval=-1\nCount=5\n");
    const QString files[] = {taskFile, gone, noDir, ftp, moved};
    const QString dirs[] = {data, Path("gone"), Path("nodir"), Path("ftp"), Path("moved")};
    for (int i = 0; i < 5; ++i)
        text += QStringLiteral("[Monitor%1]\nBackupTask=%2\nDirectory=%3\nEnabled=1\n")
                    .arg(i, 2, 10, QChar(u'0'))
                    .arg(files[i], dirs[i]);
    kestest::WriteBytes(iniName, kestest::Utf16LeWithBom(text));
    TMainWindowController& w = Window();
    ASSERT_EQ(monitor->Tasks().size(), 5u);
    ASSERT_TRUE(QFile::remove(gone));
    ASSERT_TRUE(QDir(Path("nodir")).removeRecursively());
    WriteTaskFile(ftp, dest, Path("ftp"), 0, 1, QStringLiteral("FtpBackup=1\n"));
    WriteTaskFile(moved, dest, Path("elsewhere"));

    w.CheckTasksOnShow();
    const TMonTaskStatus expected[] = {mtEnabled, mtInvalid, mtInvalid, mtInvalid, mtInvalid};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(monitor->Tasks()[size_t(i)]->MonStatus, expected[i]) << i;
    const QStringList log = monitor->LogLines();
    EXPECT_TRUE(log.contains(QStringLiteral("Task not found: ") + gone)) << Log();
    EXPECT_TRUE(log.contains(QStringLiteral("Directory \"%1\" not found!").arg(Path("nodir")))) << Log();
    EXPECT_TRUE(log.contains(QStringLiteral("The backup task \"%1\" has invalid settings!").arg(ftp)))
        << Log();
    EXPECT_TRUE(
        log.contains(QStringLiteral("Directory \"%1\" not specified in %2!").arg(Path("moved"), moved)))
        << Log();
    EXPECT_EQ(w.Selected(), 0);
    EXPECT_EQ(w.Display().TaskFile, taskFile);

    // An invalid task stays invalid, even once its task file is usable again.
    WriteTaskFile(ftp, dest, Path("ftp"));
    w.CheckTasksOnShow();
    EXPECT_EQ(monitor->Tasks()[3]->MonStatus, mtInvalid);
    // Nothing is lost: the next save keeps all five, invalid ones disabled.
    monitor->SaveSettings();
    const QString saved = selwandtest::ReadIniText(iniName);
    EXPECT_TRUE(saved.contains(QStringLiteral("Count=5"))) << saved.toStdString();
    EXPECT_TRUE(saved.contains(QStringLiteral("[Monitor04]"))) << saved.toStdString();
}

TEST_F(MainWindowControllerTest, AddingChecksTheTaskFileAndItsSources)
{
    WriteSettings(QStringLiteral("Interval=-1\n")); // names task.buj, which is missing: skipped
    TMainWindowController& w = Window();
    ASSERT_TRUE(monitor->Tasks().empty());
    EXPECT_EQ(w.AddDialogFolder(), Path("jobs/"));

    struct Case {
        const char* name;
        QString globalKeys;
        bool write;
        int result;
        QString message;
    } cases[] = {
        {"missing", {}, false, 2, QStringLiteral("Task file not found: ") + Path("missing.buj")},
        {"ftp", QStringLiteral("FtpBackup=1\n"), true, 1, InvalidTaskText(Path("ftp.buj"))},
        {"fine", {}, true, 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString file = Path(QString::fromLatin1(c.name) + QStringLiteral(".buj"));
        if (c.write)
            WriteTaskFile(file, dest, data, 0, 1, c.globalKeys);
        const TTaskFileCheck check = w.CheckNewTaskFile(file);
        EXPECT_EQ(check.Result, c.result);
        EXPECT_EQ(check.Message, c.message);
    }
    // An unreadable task file: larger than the reader takes (sparse).
    {
        QFile big(Path("big.buj"));
        ASSERT_TRUE(big.open(QIODevice::WriteOnly));
        big.write("\xFF\xFE", 2);
        ASSERT_TRUE(big.resize(300LL * 1024 * 1024));
    }
    const TTaskFileCheck unreadable = w.CheckNewTaskFile(Path("big.buj"));
    EXPECT_EQ(unreadable.Result, 3);
    EXPECT_EQ(unreadable.Message, QStringLiteral("Error reading from backup task: ") + Path("big.buj"));

    const TTaskFileCheck fine = w.CheckNewTaskFile(Path("fine.buj"));
    ASSERT_EQ(fine.Sources.size(), 1);
    EXPECT_EQ(fine.Sources[0].Dir, data);
    EXPECT_EQ(TMainWindowController::SelectSourceDescription(Path("fine.buj")),
        QStringLiteral("Source directories found in the backup task \"fine.buj\""));
    ASSERT_TRUE(w.AddTask(Path("fine.buj"), data));
    // The same directory may be added twice.
    ASSERT_TRUE(w.AddTask(Path("fine.buj"), data));
    EXPECT_EQ(monitor->Tasks().size(), 2u);
    EXPECT_EQ(w.AddDialogFolder(), root);
    EXPECT_EQ(w.Display().Method, QStringLiteral("Method: Full original directory structure"));
    EXPECT_EQ(w.Display().Compression, QStringLiteral("No compression"));
    EXPECT_TRUE(w.Display().EditEnabled);
}

TEST_F(MainWindowControllerTest, TheTwentySixthTaskIsRefusedInsteadOfLostAtTheNextStart)
{
    WriteTaskFile(taskFile, dest, data);
    WriteSettings();
    TMainWindowController& w = Window();
    for (int i = 1; i < kMaxMonitorTasks; ++i)
        ASSERT_TRUE(w.AddTask(taskFile, data)) << i;
    ASSERT_EQ(monitor->Tasks().size(), size_t(kMaxMonitorTasks));
    EXPECT_FALSE(w.AddTask(taskFile, data));
    EXPECT_EQ(monitor->Tasks().size(), size_t(kMaxMonitorTasks));
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains(QStringLiteral("At most 25 directories"))) << messages[0].toStdString();
}

TEST_F(MainWindowControllerTest, TheShownTaskTellsLayoutCompressionAndVersions)
{
    struct Case {
        int destMode, compress;
        const char* method;
        const char* compression;
    } cases[] = {
        {0, 1, "Method: Separate directories for drives", "Compress files as gz"},
        {1, 2, "Method: Full original directory structure", "Compress files as zip"},
        {-1, 0, "Method: Invalid task configuration", "No compression"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.method);
        WriteTaskFile(taskFile, dest, data, c.compress, c.destMode);
        WriteSettings(QStringLiteral("Interval=-1\n"), 4);
        TMainWindowController& w = Window();
        w.CheckTasksOnShow();
        EXPECT_EQ(w.Display().Method, QString::fromLatin1(c.method));
        EXPECT_EQ(w.Display().Compression, QString::fromLatin1(c.compression));
        EXPECT_EQ(w.Display().RetainBak, 4);
        EXPECT_EQ(w.Display().Destination, dest + u'/');
        w.SetRetainBak(12);
        EXPECT_EQ(monitor->Tasks()[0]->RetainBak, 9);
    }
}

TEST_F(MainWindowControllerTest, EditingWaitsForTheMainProgramWithoutALoopOfItsOwn)
{
    WriteTaskFile(taskFile, dest, data);
    WriteSettings();
    kestest::StandinEnvironment standin(Path("kesmo.log"), 0, 400);
    Load();
    kes::TSelwandSetup setup = Setup();
    setup.Location.KesPath = kestest::StandinProgram();
    monitor = std::make_unique<TMonitorController>(setup);
    monitor->SetAutoTick(false);
    monitor->Load();
    window = std::make_unique<TMainWindowController>(*monitor);
    QObject::connect(window.get(), &TMainWindowController::MessageShown, window.get(),
        [this](TMessageKind, const QString& text) { messages << text; });
    TMainWindowController& w = *window;
    w.CheckTasksOnShow();
    ASSERT_TRUE(w.EditEnabled());

    QSignalSpy finished(&w, &TMainWindowController::EditFinished);
    w.EditSelected();
    // It returns at once; the button is disabled while the program runs.
    EXPECT_TRUE(w.Editing());
    EXPECT_FALSE(w.EditEnabled());
    // Meanwhile the task file loses the monitored directory.
    WriteTaskFile(taskFile, dest, Path("elsewhere"));
    ASSERT_TRUE(WaitUntil([&] { return finished.count() == 1; }));
    EXPECT_FALSE(w.Editing());
    EXPECT_TRUE(w.EditEnabled());
    const QList<kestest::StandinCall> calls = standin.Calls();
    ASSERT_EQ(calls.size(), 1);
    EXPECT_EQ(calls[0].arguments, QStringList({taskFile, QStringLiteral("/edit")}));
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0], QStringLiteral("Directory \"%1\" not specified in %2!").arg(data, taskFile));
    EXPECT_EQ(monitor->Tasks()[0]->MonStatus, mtInvalid);

    // Put right and edited again: the task is usable again.
    WriteTaskFile(taskFile, dest, data, 1);
    messages.clear();
    w.EditSelected();
    ASSERT_TRUE(WaitUntil([&] { return finished.count() == 2; }));
    EXPECT_TRUE(messages.isEmpty()) << messages.join(u'\n').toStdString();
    EXPECT_EQ(monitor->Tasks()[0]->MonStatus, mtEnabled);
    EXPECT_EQ(w.Display().Compression, QStringLiteral("Compress files as gz"));
}

TEST_F(MainWindowControllerTest, AMainProgramThatFailsOrIsMissingLeavesTheTaskAsItWas)
{
    WriteTaskFile(taskFile, dest, data);
    WriteSettings();
    struct Case {
        const char* name;
        bool present;
        int exitCode;
        const char* message;
    } cases[] = {
        {"returns 3", true, 3, "Error on executing Kestrup: exit code 3"},
        {"missing", false, 0, "Error on executing Kestrup: The main program \"Kesmo\" was not found."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        kestest::StandinEnvironment standin(Path("kesmo.log"), c.exitCode);
        messages.clear();
        kes::TSelwandSetup setup = Setup();
        setup.Location.KesPath = c.present ? kestest::StandinProgram() : QString();
        window.reset();
        monitor = std::make_unique<TMonitorController>(setup);
        monitor->SetAutoTick(false);
        monitor->Load();
        window = std::make_unique<TMainWindowController>(*monitor);
        QObject::connect(window.get(), &TMainWindowController::MessageShown, window.get(),
            [this](TMessageKind, const QString& text) { messages << text; });
        window->CheckTasksOnShow();
        QSignalSpy finished(window.get(), &TMainWindowController::EditFinished);
        window->EditSelected();
        ASSERT_TRUE(WaitUntil([&] { return finished.count() == 1; }));
        ASSERT_EQ(messages.size(), 1);
        EXPECT_EQ(messages[0], QString::fromUtf8(c.message));
        EXPECT_EQ(monitor->Tasks()[0]->MonStatus, mtEnabled);
        EXPECT_TRUE(window->EditEnabled());
    }
    // A task file that vanished is named before anything is started.
    ASSERT_TRUE(QFile::remove(taskFile));
    messages.clear();
    window->EditSelected();
    EXPECT_FALSE(window->Editing());
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0], QStringLiteral("Task not found: ") + taskFile);
}

TEST_F(MainWindowControllerTest, StartOnLogonWritesAValidAutostartEntry)
{
    WriteTaskFile(taskFile, dest, data);
    WriteSettings();
    TMainWindowController& w = Window();
    EXPECT_FALSE(w.StartOnLogon());
    w.RefreshStartOnLogon(); // no entry: none is made
    EXPECT_FALSE(QFile::exists(w.AutostartPath()));
    ASSERT_TRUE(w.SetStartOnLogon(true));
    EXPECT_TRUE(w.StartOnLogon());
    const QString text = QString::fromUtf8(kestest::ReadBytes(w.AutostartPath()));
    EXPECT_TRUE(text.contains(QStringLiteral("\nExec=")
        + platform::QuoteExecArgument(platform::ExecutablePath()) + QStringLiteral(" /hide /force\n")))
        << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("\nComment=") + monitor->ProgVersName() + u'\n'))
        << text.toStdString();
    if (!kestest::HaveTool(QStringLiteral("desktop-file-validate"))) {
        KESTEST_SKIP_OR_FAIL("desktop-file-validate (desktop-file-utils) is the oracle of the entry");
    } else {
        const kestest::ProcessResult check
            = kestest::Run(QStringLiteral("desktop-file-validate"), {w.AutostartPath()});
        EXPECT_EQ(check.exitCode, 0) << check.out.toStdString() << check.err.toStdString();
        EXPECT_TRUE(check.out.isEmpty() && check.err.isEmpty())
            << check.out.toStdString() << check.err.toStdString();
    }
    // At start an existing entry is written again (it follows the program).
    kestest::WriteBytes(
        w.AutostartPath(), "[Desktop Entry]\nType=Application\nName=old\nExec=/old/Selwand\n");
    w.RefreshStartOnLogon();
    EXPECT_TRUE(
        QString::fromUtf8(kestest::ReadBytes(w.AutostartPath())).contains(QStringLiteral("/hide /force")));
    ASSERT_TRUE(w.SetStartOnLogon(false));
    EXPECT_FALSE(QFile::exists(w.AutostartPath()));
    EXPECT_TRUE(w.SetStartOnLogon(false)); // nothing to delete

    // A folder that cannot take the entry (a file stands in its way; root
    // would write into a read-only folder anyway).
    kestest::WriteBytes(Path("blocked"), "x");
    w.SetAutostartPath(Path("blocked/autostart/Selwand.desktop"));
    messages.clear();
    EXPECT_FALSE(w.SetStartOnLogon(true));
    EXPECT_FALSE(w.StartOnLogon());
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].startsWith(QStringLiteral("Error creating desktop shortcut!\r\n")))
        << messages[0].toStdString();
    EXPECT_TRUE(messages[0].contains(QStringLiteral("Not a directory"))) << messages[0].toStdString();
}

TEST_F(MainWindowControllerTest, InfoPanelTextsAndQuitButton)
{
    WriteTaskFile(taskFile, dest, data);
    WriteSettings(
        QStringLiteral("Interval=-1\n"), 0, QStringLiteral("Count=2\nFile000=a.txt\nFile001=b/c.txt\n"));
    TMainWindowController& w = Window();
    EXPECT_EQ(
        w.MonitorInfoText(), QStringLiteral("Directories to be monitored\r\nThe monitoring is not active!"));
    EXPECT_EQ(w.ListChangedFiles(), QStringList({"01: a.txt", "01: b/c.txt"}));
    ASSERT_TRUE(monitor->StartMonitoring());
    EXPECT_EQ(w.MonitorInfoText(), QStringLiteral("Directories to be monitored\r\n1st Directory: ") + data);
    Stop();

    EXPECT_EQ(w.QuitButton().Image, 0);
    EXPECT_EQ(w.QuitButton().Hint, QStringLiteral("Quit program and save settings"));
    w.SetKeepRunning(true);
    EXPECT_EQ(w.QuitButton().Image, 1);
    EXPECT_EQ(w.QuitButton().Hint, QStringLiteral("Move program to background"));
    // "Quit" with "Keep running in background" leaves monitoring running.
    ASSERT_TRUE(monitor->StartMonitoring());
    EXPECT_TRUE(w.QuitClicked());
    EXPECT_TRUE(monitor->Monitoring());
    EXPECT_TRUE(monitor->GoStandby());
    // Without it the window closes once the final pass is over.
    w.SetKeepRunning(false);
    QSignalSpy ready(&w, &TMainWindowController::CloseReady);
    EXPECT_FALSE(w.QuitClicked());
    ASSERT_TRUE(WaitUntil([&] { return ready.count() == 1; }, std::chrono::seconds(60)));
    EXPECT_FALSE(monitor->Monitoring());
}

TEST_F(MainWindowControllerTest, ForceStartsMonitoringAndGoesToTheBackgroundOnlyWithKeepRunning)
{
    WriteTaskFile(taskFile, dest, data);
    struct Case {
        QStringList arguments;
        bool sysTray;
        bool background, monitoring;
    } cases[] = {
        {{}, true, false, false},
        {{"/force"}, false, false, true},
        {{"/force"}, true, true, true},
        {{"/force", "/h"}, false, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.join(u' ').toStdString() + (c.sysTray ? " SysTray" : ""));
        WriteSettings(QStringLiteral("Interval=-1\nSysTray=%1\n").arg(c.sysTray ? 1 : 0));
        TMainWindowController& w = Window(c.arguments);
        EXPECT_EQ(w.CheckForce(), c.background);
        EXPECT_EQ(monitor->Monitoring(), c.monitoring);
        if (monitor->Monitoring())
            Stop();
    }
}

TEST(PlaceWindowTest, SavedPlacesAreBroughtOntoAScreen)
{
    const QList<QRect> two = {QRect(0, 0, 1920, 1050), QRect(1920, 0, 1280, 1024)};
    struct Case {
        const char* name;
        int left, top, width, height;
        QRect expected;
    } cases[] = {
        {"kept", 100, 80, 736, 590, QRect(100, 80, 736, 590)},
        {"on the second screen", 2000, 100, 800, 600, QRect(2000, 100, 800, 600)},
        {"too low a height is raised", 100, 80, 736, 300, QRect(100, 80, 736, 590)},
        {"the screen that was unplugged", 3500, 200, 736, 590, QRect(592, 230, 736, 590)},
        {"above the top", 100, -500, 736, 590, QRect(592, 230, 736, 590)},
        {"mostly on the second screen", 1600, 100, 736, 590, QRect(1920, 100, 736, 590)},
        {"never saved: centred", -1, -1, 736, 590, QRect(592, 230, 736, 590)},
        {"larger than every screen", 0, 0, 4000, 3000, QRect(0, 0, 1920, 1050)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TWatchdogConfig config;
        config.Left = c.left;
        config.Top = c.top;
        config.Width = c.width;
        config.Height = c.height;
        EXPECT_EQ(PlaceWindow(config, two, 0), c.expected);
    }
}

TEST(FilterDisplayTest, LabelsFollowTheFlagsAndModes)
{
    TMonFilter filter;
    filter.IncludeSubDirs = true;
    filter.IncludeExts = false;
    filter.SubDirList.Add(QStringLiteral("docs"));
    filter.ExtList.Add(QStringLiteral("tmp"));
    filter.SubDirFilter.SetFilter(QStringLiteral("temp|cache"));
    filter.SubDirFilter.SetMode(fmInclude);
    filter.FileFilter.SetFilter(QStringLiteral("readme|*.txt"));
    filter.FileFilter.SetMode(fmInclude);
    TFilterDisplay d = DescribeFilter(filter);
    EXPECT_EQ(d.Caption, QStringLiteral("Selection for subdirectories and files"));
    EXPECT_EQ(d.SubDirLabel, QStringLiteral("included in this list"));
    EXPECT_EQ(d.DirFilterLabel, QStringLiteral("matching these filter conditions"));
    EXPECT_EQ(d.SubDirs, QStringList({"docs"}));
    EXPECT_EQ(d.DirFilterItems, QStringList({"temp", "cache"}));
    EXPECT_EQ(d.ExtLabel, QStringLiteral("not matching these file types"));
    EXPECT_FALSE(d.RegularVisible);
    EXPECT_EQ(d.FileFilterLines, QStringList({"only :", "readme.*", "*.txt"}));

    filter.IncludeSubDirs = false;
    filter.IncludeExts = true;
    filter.FileFilter.SetMode(fmExclude);
    d = DescribeFilter(filter);
    EXPECT_EQ(d.SubDirLabel, QStringLiteral("not included in this list"));
    EXPECT_EQ(d.DirFilterLabel, QStringLiteral("not matching these filter conditions"));
    EXPECT_EQ(d.ExtLabel, QStringLiteral("matching these file types"));
    EXPECT_EQ(d.FileFilterLines, QStringList({"all except :", "readme.*", "*.txt"}));

    filter.FileFilter.SetRegular(true);
    filter.FileFilter.SetFilter(QStringLiteral("^(a|b)\\.txt$"));
    d = DescribeFilter(filter);
    EXPECT_TRUE(d.RegularVisible);
    EXPECT_EQ(d.RegularLabel, QStringLiteral("Use filter as regular expression"));
    // One regular expression is one line: its "|" are alternatives.
    EXPECT_EQ(d.FileFilterLines, QStringList({"all except :", "^(a|b)\\.txt$"}));
    filter.FileFilter.SetMode(fmOff);
    EXPECT_EQ(DescribeFilter(filter).FileFilterLines, QStringList({"All files"}));

    const QStringList types = {"a", "b", "c", "d", "e", "f", "g"};
    const QList<QStringList> rows = InColumns(types);
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0].size(), 5);
    EXPECT_EQ(rows[1], QStringList({"f", "g"}));
}

} // namespace
