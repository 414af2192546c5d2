// The desktop shortcut: the dialog model's options and switches, the
// button's defaults and the launcher file, checked with
// desktop-file-validate.
#include "planner/DesktopShortcut.h"

#include "common/TestSupport.h"
#include "frame/WinExecute.h"
#include "planner/ScheduleRun.h"
#include "platform/DesktopEntry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace kes;

TEST(DesktopIconModel, OptionsToSwitches)
{
    const QString def = DefOptions(QStringLiteral("/home/u/My Settings/Marvick.ini"), true);
    struct Case {
        const char* what;
        QString tasks;
        QString initial;
        std::function<void(TDesktopIconModel&)> choose;
        QString options;
    };
    const Case cases[] = {
        {"defaults", QStringLiteral("Daily.A"), DefOptions(QStringLiteral("x"), false), nullptr,
            QStringLiteral(" /prompt:delay /hide /logmode:1")},
        {"alternative settings file with a blank stays one switch", QStringLiteral("Daily"), def, nullptr,
            QStringLiteral(" /prompt:delay /hide /logmode:1 \"/ini:/home/u/My Settings/Marvick.ini\"")},
        {"silent is neither shown nor passed on", QStringLiteral("Daily"), QStringLiteral(" /prompt:silent"),
            nullptr, QStringLiteral(" /prompt:delay /hide")},
        {"switches read back", QStringLiteral("Daily"), QStringLiteral(" /prompt:error -END:restart /x:1"),
            nullptr, QStringLiteral(" /prompt:error /hide /end:restart /x:1")},
        {"not visible, hibernate, no splash off, not changeable, error actions", QStringLiteral("Daily"),
            QString(),
            [](TDesktopIconModel& m) {
                m.Status = ssNotVisible;
                m.SetAction(saHibernate);
                m.NoSplash = false;
                m.ActionChangeable = false;
                m.ActErr = 5;
            },
            QStringLiteral(" /prompt:quiet /noaction /suspend:hibernate /erractions:5")},
        {"show only on errors, hybrid", QStringLiteral("Daily"), QString(),
            [](TDesktopIconModel& m) {
                m.Status = ssShowOnErrors;
                m.SetAction(saHybridDown);
            },
            QStringLiteral(" /prompt:silent /hide /end:hybrid")},
        {"parallel takes the place of noaction", QStringLiteral("Daily Weekly"), QString(),
            [](TDesktopIconModel& m) {
                m.Parallel = true;
                m.ActionChangeable = false;
                m.SetAction(saLockDown);
            },
            QStringLiteral(" /prompt:delay /parallel /hide /end:lockdown")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TDesktopIconModel m;
        m.Init(c.tasks, 0, c.initial, QStringLiteral("d"), QStringLiteral("s"));
        if (c.choose)
            c.choose(m);
        EXPECT_EQ(m.Options(), c.options);
    }
}

TEST(DesktopIconModel, TasksFieldAndActionHints)
{
    TDesktopIconModel m;
    m.Init(QStringLiteral("Daily backup"), -1, QString(), QString(), QString());
    EXPECT_EQ(m.TasksText(), QStringLiteral("2 selected tasks"));
    EXPECT_EQ(m.TasksHint(), QStringLiteral("Daily\nbackup"));
    EXPECT_TRUE(m.ParallelVisible());
    EXPECT_FALSE(m.RunAsVisible());
    m.Init(QStringLiteral("\"Daily backup\""), 0, QString(), QString(), QString());
    EXPECT_EQ(m.TasksText(), QStringLiteral("\"Daily backup\""));
    EXPECT_FALSE(m.ParallelVisible());
    EXPECT_FALSE(m.ErrorActionEnabled());
    m.SetAction(saShutdown);
    EXPECT_TRUE(m.ErrorActionEnabled());
    EXPECT_EQ(m.ErrorActionHint(), QStringLiteral("Disable Shutdown on errors"));
}

TEST(DesktopShortcut, NamesAndArguments)
{
    EXPECT_EQ(ShortcutBaseName(QStringLiteral("Daily.A")), QStringLiteral("Daily"));
    EXPECT_EQ(ShortcutBaseName(QStringLiteral("a/b.c/Weekly")), QStringLiteral("Weekly"));
    EXPECT_EQ(ShortcutBaseName(QString::fromUtf8("Größe 1")), QString::fromUtf8("Größe 1"));
    EXPECT_EQ(ShortcutArguments(QStringLiteral("Say \"hi\""), QStringLiteral(" /hide")),
        QStringLiteral("\"Say \"\"hi\"\"\" /hide /interactive"));
    for (const char* bad : {"", ".", "..", "a/b", "x\ny"})
        EXPECT_FALSE(ShortcutNameError(QString::fromUtf8(bad)).isEmpty()) << bad;
    EXPECT_TRUE(ShortcutNameError(QString::fromUtf8("KesSched-Größe \"1\"")).isEmpty());
}

TEST(DesktopShortcut, WrittenLauncherIsValidAndStartsTheSchedule)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString desktop = dir.filePath(QStringLiteral("Schreibtisch"));
    ASSERT_TRUE(QDir().mkpath(desktop));
    const QString name = QString::fromUtf8("Wöchentlich \"A\" / 50% $HOME");
    const QString options = DefOptions(dir.filePath(QStringLiteral("My Settings.ini")), true);
    for (bool runAs : {false, true}) {
        SCOPED_TRACE(runAs);
        const TShortcutLink link = MakeShortcutLink(desktop, QStringLiteral("KesSched-Wöchentlich"),
            QStringLiteral("/opt/kestrup/bin/Marvick"), name, options, QStringLiteral("Wöchentlich"),
            dir.filePath(QStringLiteral("Jobs")), runAs);
        EXPECT_EQ(link.File, desktop + QStringLiteral("/KesSched-Wöchentlich.desktop"));
        ASSERT_TRUE(WriteShortcutLink(link).isEmpty());
        struct stat st { };
        ASSERT_EQ(::stat(QFile::encodeName(link.File).constData(), &st), 0);
        EXPECT_TRUE(st.st_mode & S_IXUSR);
        // Marvick gets the name whole, the options, then "/interactive".
        QStringList expected = {QStringLiteral("/opt/kestrup/bin/Marvick"), name, QStringLiteral("/hide"),
            QStringLiteral("/logmode:1"),
            QStringLiteral("/ini:") + dir.filePath(QStringLiteral("My Settings.ini")),
            QStringLiteral("/interactive")};
        if (runAs)
            expected.prepend(QStringLiteral("pkexec"));
        EXPECT_EQ(link.Entry.Exec, expected);
        const QString text = QString::fromUtf8(kestest::ReadBytes(link.File));
        EXPECT_TRUE(text.contains(QStringLiteral("\nPath=") + dir.filePath(QStringLiteral("Jobs")) + u'\n'))
            << text.toStdString();
        if (!kestest::HaveTool(QStringLiteral("desktop-file-validate"))) {
            KESTEST_SKIP_OR_FAIL("desktop-file-validate is not installed");
        }
        const auto r = kestest::Run(QStringLiteral("desktop-file-validate"), {link.File});
        EXPECT_EQ(r.exitCode, 0) << r.out.constData() << r.err.constData();
        EXPECT_TRUE(r.out.trimmed().isEmpty()) << r.out.constData();
    }
}

namespace {

QString WriteDailyShortcut(const QString& folder)
{
    return WriteShortcutLink(MakeShortcutLink(folder, QStringLiteral("KesSched-Daily"),
        QStringLiteral("/usr/bin/Marvick"), QStringLiteral("Daily"), QString(), QString(), QString(), false));
}

} // namespace

TEST(DesktopShortcut, MissingDesktopFolderIsReportedAndNotMadeUp)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const auto write = WriteDailyShortcut;
    const QString missing = dir.filePath(QStringLiteral("Desktop"));
    const QString error = write(missing);
    EXPECT_TRUE(error.startsWith(QStringLiteral("Error creating desktop shortcut!\n")))
        << error.toStdString();
    EXPECT_TRUE(error.endsWith(QStringLiteral("(0x00000002)"))) << error.toStdString();
    EXPECT_FALSE(QFileInfo::exists(missing));
}

TEST(DesktopShortcut, ReadOnlyDesktopFolderIsReportedAndNothingWritten)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const auto write = WriteDailyShortcut;
    const QString readOnly = dir.filePath(QStringLiteral("ro"));
    ASSERT_TRUE(QDir().mkpath(readOnly));
    QFile::setPermissions(readOnly, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    if (::geteuid() == 0)
        GTEST_SKIP() << "root writes into read-only folders";
    EXPECT_TRUE(write(readOnly).startsWith(QStringLiteral("Error creating desktop shortcut!\n")));
    EXPECT_TRUE(QDir(readOnly).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden).isEmpty());
}
