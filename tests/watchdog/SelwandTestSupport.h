// Fixtures of Selwand's tests: task files as the Windows program writes
// them, settings files, and a monitoring controller on a temporary tree.
#pragma once

#include "common/TestSupport.h"
#include "watchdog/MonitorController.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdio>
#include <gtest/gtest.h>
#include <memory>

namespace selwandtest {

// A task file (UTF-16LE with BOM, CR LF lines): one source directory, every
// file type selected unless dirKeys say otherwise.
inline void WriteTaskFile(const QString& path, const QString& destination, const QString& source,
    int compress = 0, int destMode = 1, const QString& globalKeys = {}, const QString& dirKeys = {})
{
    QString text = QStringLiteral("[Global]\nDestination=") + destination
        + QStringLiteral("\nDestMode=%1\n").arg(destMode);
    if (compress > 0)
        text += QStringLiteral("Compress=1\n");
    if (compress == 2)
        text += QStringLiteral("CompressAsZip=1\n");
    text += globalKeys + QStringLiteral("\nDirCount=1\n[Dir000]\nSource=") + source + QStringLiteral("\n")
        + (dirKeys.isEmpty() ? QStringLiteral("BackupMode=1\n") : dirKeys + u'\n');
    text.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    kestest::WriteBytes(path, kestest::Utf16LeWithBom(text));
}

// The text of a UTF-16LE settings file, with LF line ends.
inline QString ReadIniText(const QString& path)
{
    QString text = kestest::FromUtf16Le(kestest::ReadBytes(path));
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}

// A temporary tree: data/ (monitored), dest/ (destination), settings/
// (Selwand.ini, Kesmo.ini, log files), task.buj.
class SelwandFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        root = tmp.path();
        ASSERT_TRUE(QDir().mkpath(Path("data")));
        ASSERT_TRUE(QDir().mkpath(Path("settings")));
        data = Path("data");
        dest = Path("dest");
        taskFile = Path("task.buj");
        iniName = Path("settings/Selwand.ini");
    }
    void TearDown() override { monitor.reset(); }

    QString Path(const QString& rel) const { return root + u'/' + rel; }
    QString Data(const QString& rel) const { return data + u'/' + rel; }
    // Where a source file of data lands at the destination.
    QString Backup(const QString& rel) const { return dest + data + u'/' + rel; }

    // Selwand.ini with one task on data and the given config keys.
    void WriteSettings(const QString& configKeys = QStringLiteral("Interval=-1\n"), int retainBak = 0,
        const QString& monitorKeys = {})
    {
        const QString text = QStringLiteral("[Config]\n") + configKeys
            + QStringLiteral("\nCount=1\n[Monitor00]\nBackupTask=") + taskFile
            + QStringLiteral("\nDirectory=") + data
            + QStringLiteral("\nRetainBak=%1\nEnabled=1\n").arg(retainBak) + monitorKeys + u'\n';
        kestest::WriteBytes(iniName, kestest::Utf16LeWithBom(text));
    }

    kes::TSelwandSetup Setup() const
    {
        kes::TSelwandSetup setup;
        setup.Location.AppPath = Path("settings/");
        setup.Location.SettingsDir = Path("settings/");
        setup.Location.IniName = iniName;
        setup.Location.KesmoIni = Path("settings/Kesmo.ini");
        setup.Location.JobDir = Path("jobs/");
        setup.LanguageCode = QStringLiteral("en");
        setup.Clock = clock;
        return setup;
    }

    // A loaded controller whose tick the test calls by hand.
    kes::TMonitorController& Load(const QStringList& arguments = {})
    {
        monitor.reset();
        kes::TSelwandSetup setup = Setup();
        setup.Arguments = arguments;
        monitor = std::make_unique<kes::TMonitorController>(setup);
        monitor->SetAutoTick(false);
        QObject::connect(monitor.get(), &kes::TMonitorController::MessageShown, monitor.get(),
            [this](kes::TMessageKind, const QString& text) { messages << text; });
        monitor->Load();
        return *monitor;
    }

    // Writes a file of data in one step (renamed in from outside the tree),
    // so that its change is one notification: a pass cannot come between
    // the notifications of opening and closing it.
    void WriteData(const QString& rel, const QByteArray& bytes)
    {
        const QString staging = Path(QStringLiteral("staging"));
        kestest::WriteBytes(staging, bytes);
        QDir().mkpath(QFileInfo(Data(rel)).path());
        ASSERT_TRUE(
            ::rename(QFile::encodeName(staging).constData(), QFile::encodeName(Data(rel)).constData()) == 0);
    }

    // Waits until the task's pending list holds exactly these names.
    bool WaitForPending(const QStringList& names, int task = 0)
    {
        return kestest::WaitUntil(
            [&] { return monitor->Tasks()[size_t(task)]->FileList.ToStringList() == names; });
    }
    // Stops monitoring and waits for the final pass to end.
    void Stop()
    {
        monitor->StopMonitoring();
        ASSERT_TRUE(kestest::WaitUntil([&] { return !monitor->Monitoring(); }, std::chrono::seconds(60)));
    }
    // An immediate pass, waited for (the threads' reports are delivered).
    void RunPass()
    {
        monitor->RequestInstantBackup();
        monitor->Tick();
        ASSERT_TRUE(
            kestest::WaitUntil([&] { return monitor->RunningBackups() == 0; }, std::chrono::seconds(60)));
        monitor->Tick(); // frees the threads, closes the log
    }
    int LogCount(const QString& part) const
    {
        int n = 0;
        for (const QString& line : monitor->LogLines())
            n += line.contains(part) ? 1 : 0;
        return n;
    }
    std::string Log() const { return monitor->LogLines().join(u'\n').toStdString(); }

    QTemporaryDir tmp;
    QString root, data, dest, taskFile, iniName;
    kes::TClockPtr clock;
    std::unique_ptr<kes::TMonitorController> monitor;
    QStringList messages;
};

} // namespace selwandtest
