// Selwand: direct backup with online monitoring.
//
// This version runs without a window. Started with the switch "force" it
// starts monitoring at once in a console event loop, writes every log text
// to standard output as well, and on SIGINT, SIGTERM or SIGHUP stops
// monitoring (a final pass for pending files, waited for), saves its
// settings and ends. Without "force" it says why it cannot start.
#include "frame/Format.h"
#include "frame/I18n.h"
#include "frame/ProgramPaths.h"
#include "frame/StartUp.h"
#include "platform/Desktop.h"
#include "platform/Signals.h"
#include "watchdog/MonitorController.h"

#include <QCoreApplication>
#include <QTimer>
#include <cstdio>

namespace {

void Print(FILE* stream, QString text)
{
    // Log texts end their lines with CR LF (as in the log file); a console
    // wants LF.
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text += u'\n';
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    kes::StartProgramFrame(argc, argv, QStringLiteral("selwand"));
    const kes::TSelwandOptions options = kes::ParseSelwandOptions(kes::ProgramArguments());
    if (!options.Force) {
        if (kes::platform::HasGraphicalDisplay())
            Print(stderr,
                _("Selwand: the main window is not part of this version. Start Selwand with /force to "
                  "monitor "
                  "the directories of its settings without a window."));
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
    monitor.Load();

    bool stopping = false;
    kes::platform::TTerminationSignals termination([&](int signal) {
        if (stopping)
            return;
        stopping = true;
        Print(stdout,
            kes::SafeFormat(_("%s received: monitoring stops after a final backup of the pending files."),
                {kes::platform::TTerminationSignals::SignalName(signal)}));
        // Outside the notifier's call: stopping runs an event loop of its
        // own while it waits for the backup threads.
        QTimer::singleShot(0, &monitor, [&] {
            monitor.StopMonitoring();
            QCoreApplication::quit();
        });
    });

    if (!monitor.StartMonitoring())
        return 1;
    Print(stdout,
        kes::SafeFormat(
            _("%s: monitoring runs, next backup: %s. Settings: \"%s\". Stop with Ctrl+C or SIGTERM."),
            {monitor.ProgVersName(), monitor.NextBackupText(), monitor.IniName()}));
    return app.exec();
}
