// Marvick: backup schedules. Started with a schedule name (by a timer or a
// desktop shortcut) it runs the schedule and ends without a window.
#include "app/marvick/HauptForm.h"
#include "frame/Format.h"
#include "frame/I18n.h"
#include "frame/ProgramPaths.h"
#include "frame/StartUp.h"
#include "frame/UnicodeIniFile.h"
#include "frame/Version.h"
#include "frame/WinExecute.h"
#include "planner/SchedulePreview.h"
#include "planner/ScheduleRun.h"
#include "platform/Desktop.h"
#include "platform/Paths.h"
#include "platform/SysLog.h"
#include "ui/DisplayStyle.h"
#include "ui/IconSet.h"
#include "ui/MessageDialog.h"

#include <QApplication>
#include <QDate>
#include <QFileInfo>
#include <QGuiApplication>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

const QString kEventSource = QStringLiteral("Kestrup");

// Messages go to the message box when someone can see it; in a batch
// session only errors can arise here (a quiet schedule that cannot store
// its state), and they go to the system log and standard error.
class TMarvickReporter final : public kes::IScheduleReporter {
public:
    TMarvickReporter(bool display, QString logSocket)
        : FDisplay(display)
        , FLogSocket(std::move(logSocket))
    {
    }

    void ShowInformation(const QString& text, int waitSeconds) override
    {
        if (FDisplay)
            kes::ShowInformationMessage(Title(), text, waitSeconds);
        else
            Print(stdout, text);
    }
    void ShowError(const QString& text) override
    {
        if (FDisplay) {
            kes::ShowErrorMessage(Title(), text);
            return;
        }
        Print(stderr, text);
        kes::platform::WriteSysLog(FLogSocket, kEventSource, kes::platform::SysLogSeverity::Error, text);
    }
    bool ConfirmYesNo(const QString& text) override { return FDisplay && kes::ConfirmYesNo(Title(), text); }
    void WriteEvent(const kes::TScheduleEvent& event) override
    {
        const auto severity = event.Type == kes::TEventType::etError
            ? kes::platform::SysLogSeverity::Error
            : kes::platform::SysLogSeverity::Informational;
        // No system log listening: the report is skipped.
        kes::platform::WriteSysLog(FLogSocket, kEventSource, severity, kes::EventText(event));
    }

private:
    static QString Title() { return QStringLiteral("Marvick"); }
    static void Print(FILE* stream, const QString& text)
    {
        std::fputs(text.toLocal8Bit().append('\n').constData(), stream);
        std::fflush(stream);
    }

    bool FDisplay;
    QString FLogSocket;
};

// "Marvick <name> /preview[:days]": the table of what the coming days'
// runs would start; nothing is started or stored.
int PrintPreview(const kes::TMarvickContext& context)
{
    const kes::TMarvickCommandLine& cmd = context.CommandLine;
    const auto fail = [](const QString& text) {
        std::fputs(text.toLocal8Bit().append('\n').constData(), stderr);
        return 2;
    };
    if (cmd.PreviewDays < 1)
        return fail(kes::SafeFormat(
            _("The number of days to preview must be from 1 to %d!"), {kes::kMaxPreviewDays}));
    kes::TSchedules schedules;
    try {
        schedules = kes::LoadSchedules(context.IniName, kes::TMarvickSettings {}).Schedules;
    } catch (const kes::EIniReadError& e) {
        return fail(e.Message());
    }
    const int index = kes::FindSchedule(schedules, cmd.SchedName);
    if (cmd.SchedName.isEmpty() || index < 0)
        return fail(kes::SafeFormat(_("Schedule \"%s\" not found!"), {cmd.SchedName}));
    const kes::TSchedTask& s = schedules[index];
    QString text = kes::SafeFormat(_("Schedule: %s\nBackup task: %s"), {s.SName, s.Task}) + QLatin1Char('\n');
    if (!QFileInfo::exists(s.Task))
        text += kes::SafeFormat(_("Backup task \"%s\" not found!"), {s.Task}) + QLatin1Char('\n');
    text += QLatin1Char('\n')
        + kes::PreviewTable(kes::PreviewSchedule(s, kes::TClock::System()->CurrentDate(), cmd.PreviewDays,
                                context.LanguageCode),
            context.LanguageCode);
    std::fputs(text.toLocal8Bit().constData(), stdout);
    return 0;
}

void PrintUsage()
{
    const QString text = _("Usage: Marvick <schedule name> [/ini:<settings file>] [/delay:<seconds>] "
                           "[/interactive] [/dark] [switches for the main program]\n"
                           "Runs the backup schedule and starts the backup that is due today.\n"
                           "       Marvick <schedule name> /preview[:days]\n"
                           "Prints what the runs of the coming days (30 by default) would start.\n"
                           "Started without a schedule name on a display, Marvick shows its window.\n");
    std::fputs(text.toLocal8Bit().constData(), stdout);
}

} // namespace

int main(int argc, char** argv)
{
    // The frame reads the arguments as given; Qt may remove the ones it
    // knows from its own copy.
    std::vector<char*> qtArgv(argv, argv + argc);
    qtArgv.push_back(nullptr);
    int qtArgc = argc;
    bool batch = !kes::platform::HasGraphicalDisplay();
    std::unique_ptr<QCoreApplication> app;
    if (batch) {
        app = std::make_unique<QCoreApplication>(qtArgc, qtArgv.data());
    } else {
        // A display whose server is gone ends up without a display at
        // all, reported as in a batch session, instead of Qt's fatal error.
        const bool fallback = kes::platform::ArrangeDisplayFallback();
        app = std::make_unique<QApplication>(qtArgc, qtArgv.data());
        // The desktop entry of the installed program gives the window its
        // icon and name where the window system asks for it (Wayland).
        QGuiApplication::setDesktopFileName(QStringLiteral("org.kestrup.Marvick"));
        if (fallback && QGuiApplication::platformName() == kes::platform::HeadlessDisplayPlatform())
            batch = true;
    }

    kes::StartProgramFrame(argc, argv, QStringLiteral("marvick"));
    const kes::TSettingsLocation location = kes::LocateSettings();

    kes::TMarvickContext context;
    context.CommandLine = kes::ParseMarvickCommandLine(kes::ProgramArguments());
    context.KesPath = location.KesPath;
    context.IniName = context.CommandLine.UseAltIni
        ? kes::AlternativeIniName(location.AppPath, context.CommandLine.AltIni)
        : location.IniName;
    context.IsBatch = batch;
    context.LanguageCode = kes::LanguageCode();
    if (context.CommandLine.Preview)
        return PrintPreview(context);
    if (!batch)
        kes::ApplyDisplayStyle(
            kes::DecideDisplayStyle(context.CommandLine.UseDarkMode, kes::ConfigFileName()));

    TMarvickReporter reporter(!batch, kes::platform::DefaultSysLogSocket());
    kes::TScheduleRun run(context, reporter, kes::TClock::System(),
        [](const QString& program, const QString& arguments, bool wait) {
            return kes::StartProgramAndWait(program, arguments, wait);
        });
    if (run.CheckSchedule())
        return run.HadError() ? 1 : 0;

    // Without a schedule to run (or with one not in the list) the window
    // opens; in a batch session CheckSchedule has ended the program.
    if (batch || !qobject_cast<QApplication*>(app.get())) {
        PrintUsage();
        return 2;
    }
    kes::InitVersion(QStringLiteral("Marvick"), QStringLiteral("1.1.0.0"), QString());
    kes::TIconSet::Load(kes::TIconSet::StyleFromConfig(kes::ConfigFileName()),
        kes::DecideDisplayStyle(context.CommandLine.UseDarkMode, kes::ConfigFileName())
            == kes::TDisplayStyle::dsDark);
    kes::TMarvickWindowSetup setup;
    setup.IniName = context.IniName;
    setup.JobDir = location.JobDir;
    setup.KesPath = location.KesPath;
    setup.ProgramPath = kes::platform::ExecutablePath();
    setup.UseAltIni = context.CommandLine.UseAltIni;
    setup.LanguageCode = context.LanguageCode;
    kes::TMarvickWindowController controller(setup);
    if (const QString error = controller.Load(); !error.isEmpty())
        kes::ShowErrorMessage(QStringLiteral("Marvick"), error);
    controller.StartScheduler();
    kes::THauptForm window(controller);
    window.ShowWindow();
    return app->exec() == 0 ? 0 : 1;
}
