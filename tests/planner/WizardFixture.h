// A task service over a fake user manager, and a scripted stand-in for the
// wizard's questions, for the tests of the wizard and the task selection.
#pragma once

#include "planner/TaskWizard.h"
#include "planner/WinTask.h"

#include "common/FakeSystemd.h"
#include "common/TestSupport.h"
#include "frame/WinExecute.h"
#include "platform/Paths.h"

#include <QTemporaryDir>
#include <deque>
#include <functional>
#include <gtest/gtest.h>

namespace kestest {

class ScriptedWizardUi : public kes::ITaskWizardUi {
public:
    void Message(const QString& text) override { Messages << text; }
    bool Confirm(const QString& text) override
    {
        Questions << text;
        if (Answers.empty())
            return false;
        const bool a = Answers.front();
        Answers.pop_front();
        return a;
    }
    bool AskTaskName(const QString&, QString& name) override
    {
        ++NameAsked;
        if (Names.empty())
            return false;
        if (!Names.front().isNull())
            name = Names.front();
        Names.pop_front();
        return true;
    }
    int SelectTask(const QString& title, kes::TWinTaskScheduler& scheduler, const QString& filter,
        int& taskIndex, int& trgIndex) override
    {
        SelectTitle = title;
        SelectFilter = filter;
        return Select ? Select(scheduler, taskIndex, trgIndex) : 2;
    }
    bool ShowWizard(kes::TTaskWizard& wizard) override
    {
        ++Shown;
        return Wizard ? Wizard(wizard) : true;
    }

    QStringList Messages;
    QStringList Questions;
    std::deque<bool> Answers;
    std::deque<QString> Names; // a null string keeps the preset name
    int NameAsked = 0;
    int Shown = 0;
    QString SelectTitle;
    QString SelectFilter;
    std::function<int(kes::TWinTaskScheduler&, int&, int&)> Select;
    std::function<bool(kes::TTaskWizard&)> Wizard;
};

class WizardService : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!HaveTool(QStringLiteral("dbus-daemon")))
            KESTEST_SKIP_OR_FAIL("dbus-daemon is not installed");
        fake = std::make_unique<FakeSystemd>(dir.filePath(QStringLiteral("units")));
        ASSERT_TRUE(fake->Start());
        kes::platform::TSystemdTaskServiceOptions o;
        o.TaskFolder = dir.filePath(QStringLiteral("Tasks"));
        o.UnitFolder = dir.filePath(QStringLiteral("units"));
        o.CheckProgram = BuiltProgram(QStringLiteral("kestask"));
        o.BusAddress = fake->Address();
        o.SystemBusAddress = fake->Address();
        o.SplitArguments = [](const QString& s) { return kes::SplitCommandLine(s); };
        o.Now = [this] { return clock->CurrentDateTime(); };
        service = kes::platform::CreateSystemdTaskService(o);
        ASSERT_EQ(kes::StartTaskScheduler(scheduler, service, clock), 0u);
        ASSERT_TRUE(scheduler);
        wizard = std::make_unique<kes::TTaskWizard>(
            kes::TTaskWizardEnvironment {Program(), kes::platform::UserName(), clock});
        wizard->InitTaskScheduler(scheduler.get());
    }

    static QString Program() { return BuiltProgram(QStringLiteral("Marvick")); }
    kes::TWinTaskFolder& Folder() { return *scheduler->TaskFolder(); }
    QString TaskDir() const { return dir.filePath(QStringLiteral("jobs")) + QLatin1Char('/'); }

    // Execute with the wizard's index and kind; the task and trigger
    // numbers it hands back land in taskNr and trgNr.
    int Run(int index, kes::TKesAction kind, const QString& task, const QString& options, int trgIndex = 0,
        bool retry = false)
    {
        return wizard->Execute(index, trgIndex, kind, TaskDir(), task, options, taskNr, trgNr, retry, ui);
    }

    QTemporaryDir dir;
    std::shared_ptr<kes::TSettableClock> clock
        = std::make_shared<kes::TSettableClock>(QDateTime(QDate(2025, 6, 1), QTime(12, 0)));
    std::unique_ptr<FakeSystemd> fake;
    std::shared_ptr<kes::platform::ITaskService> service;
    std::unique_ptr<kes::TWinTaskScheduler> scheduler;
    std::unique_ptr<kes::TTaskWizard> wizard;
    ScriptedWizardUi ui;
    int taskNr = -99;
    int trgNr = -99;
};

} // namespace kestest
