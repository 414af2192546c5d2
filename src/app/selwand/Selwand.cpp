// Selwand: direct backup with online monitoring.
//
// With a graphical display it runs with its window and its icon in the
// notification area (app/selwand/WindowProgram.h). Without one, started
// with the switch "force", it starts monitoring at once in a console event
// loop and writes every log text to standard output as well. SIGUSR1 asks for an immediate backup;
// SIGINT, SIGTERM or SIGHUP stop monitoring (a final pass for pending
// files), save the settings and end the program. Without "force" it says
// why it cannot start.
//
// Exit status: 0 stopped as asked; 1 nothing to monitor; 2 cannot start
// (no display and no "force"); 3 the settings could not be saved at the end (the pending
// files that were not saved are listed on standard error); 4 another
// Selwand runs with the same settings file.
#include "app/selwand/WindowProgram.h"
#include "frame/Format.h"
#include "frame/I18n.h"
#include "frame/ProgramPaths.h"
#include "frame/StartUp.h"
#include "platform/Desktop.h"
#include "platform/Signals.h"
#include "watchdog/MonitorController.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFile>
#include <QGuiApplication>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

// A stream whose reader went away (a closed pipe) is written no more; the
// program goes on.
bool g_outputClosed[2] = {false, false};

void Print(FILE* stream, QString text)
{
    bool& closed = g_outputClosed[stream == stderr ? 1 : 0];
    if (closed)
        return;
    // Log texts end their lines with CR LF (as in the log file); a console
    // wants LF.
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text += u'\n';
    if (std::fputs(text.toLocal8Bit().constData(), stream) < 0 || std::fflush(stream) != 0) {
        closed = true;
        std::clearerr(stream);
    }
}

// Tests stop the program at a chosen point of a pass (to kill it there):
// with KES_SELWAND_STEP_FIFO naming a FIFO, every step of every file writes
// "<step> <name>" to it and then waits for one byte from "<FIFO>.go".
void HoldPassesForTests(kes::TMonitorController& monitor)
{
    const QString fifo = qEnvironmentVariable("KES_SELWAND_STEP_FIFO");
    if (fifo.isEmpty())
        return;
    monitor.SetBackupStepHook([fifo](kes::TBackupStep step, const QString& name) {
        QFile at(fifo);
        if (!at.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
            return;
        at.write(QByteArray::number(int(step)) + ' ' + name.toUtf8() + '\n');
        at.close();
        QFile go(fifo + QStringLiteral(".go"));
        if (go.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
            go.read(1);
    });
}

} // namespace

int main(int argc, char** argv)
{
    kes::platform::IgnoreBrokenPipe();
    // The frame reads the arguments as given; Qt may remove the ones it
    // knows from its own copy.
    std::vector<char*> qtArgv(argv, argv + argc);
    qtArgv.push_back(nullptr);
    int qtArgc = argc;
    bool display = kes::platform::HasGraphicalDisplay();
    bool displayLost = false;
    std::unique_ptr<QCoreApplication> app;
    if (!display) {
        app = std::make_unique<QCoreApplication>(qtArgc, qtArgv.data());
    } else {
        // A display variable can outlive its server: instead of ending in
        // Qt's fatal error, the program goes on as without a display.
        const bool fallback = kes::platform::ArrangeDisplayFallback();
        app = std::make_unique<QApplication>(qtArgc, qtArgv.data());
        // The desktop entry of the installed program: where the window
        // system asks for it (Wayland), its icon and name come from there.
        QGuiApplication::setDesktopFileName(QStringLiteral("org.kestrup.Selwand"));
        if (fallback && QGuiApplication::platformName() == kes::platform::HeadlessDisplayPlatform()) {
            display = false;
            displayLost = true;
        }
    }
    kes::StartProgramFrame(argc, argv, QStringLiteral("selwand"));
    if (display)
        return kes::RunSelwandWindow(static_cast<QApplication&>(*app));

    const kes::TSelwandOptions options = kes::ParseSelwandOptions(kes::ProgramArguments());
    if (!options.Force) {
        if (displayLost)
            Print(stderr,
                kes::SafeFormat(
                    _("Selwand: the graphical display \"%s\" cannot be reached. Start Selwand with "
                      "/force to monitor the directories of its settings without a window."),
                    {qEnvironmentVariable("WAYLAND_DISPLAY").isEmpty()
                            ? qEnvironmentVariable("DISPLAY")
                            : qEnvironmentVariable("WAYLAND_DISPLAY")}));
        else
            Print(stderr,
                _("Selwand: no graphical display is available (neither DISPLAY nor WAYLAND_DISPLAY is set). "
                  "Start Selwand with /force to monitor the directories of its settings without a window."));
        return 2;
    }

    kes::TSelwandSetup setup;
    setup.Location = kes::LocateSettings();
    setup.LanguageCode = kes::LanguageCode();
    setup.Arguments = kes::ProgramArguments();
    kes::TMonitorController monitor(setup);
    QObject::connect(&monitor, &kes::TMonitorController::LogAdded, &monitor,
        [](const QString& text) { Print(stdout, text); });
    QObject::connect(&monitor, &kes::TMonitorController::MessageShown, &monitor,
        [](kes::TMessageKind kind, const QString& text) {
            Print(kind == kes::TMessageKind::mkInformation ? stdout : stderr, text);
        });
    QString locked;
    if (!monitor.LockSettings(locked)) {
        Print(stderr, locked);
        return 4;
    }
    monitor.Load();
    HoldPassesForTests(monitor);

    QObject::connect(&monitor, &kes::TMonitorController::MonitoringStopped, app.get(),
        &QCoreApplication::quit, Qt::QueuedConnection);
    kes::platform::TProgramSignals programSignals([&](int signal) {
        if (!kes::platform::TProgramSignals::IsTermination(signal)) {
            if (monitor.Monitoring() && !monitor.Stopping()) {
                Print(stdout,
                    kes::SafeFormat(_("%s received: an immediate backup starts."),
                        {kes::platform::TProgramSignals::SignalName(signal)}));
                monitor.RequestInstantBackup(); // the next tick starts it
            }
            return;
        }
        if (monitor.Stopping())
            return;
        Print(stdout,
            kes::SafeFormat(_("%s received: monitoring stops after a final backup of the pending files."),
                {kes::platform::TProgramSignals::SignalName(signal)}));
        monitor.StopMonitoring();
    });

    if (!monitor.StartMonitoring())
        return 1;
    for (const QString& line : monitor.TaskStateLines())
        Print(stdout, line);
    Print(stdout,
        kes::SafeFormat(
            _("%s: monitoring runs, next backup: %s. Settings: \"%s\". Stop with Ctrl+C or SIGTERM, "
              "back up at once with SIGUSR1."),
            {monitor.ProgVersName(), monitor.NextBackupText(), monitor.IniName()}));
    app->exec();

    if (monitor.LastSaveFailed()) {
        Print(stderr,
            kes::SafeFormat(_("The settings could not be saved to \"%s\". These files are still pending and "
                              "were not saved:"),
                {monitor.IniName()}));
        for (const QString& line : monitor.PendingLines())
            Print(stderr, line);
        return 3;
    }
    return 0;
}
