#include "app/selwand/WindowProgram.h"

#include "app/selwand/MainWindow.h"
#include "frame/DisplayStyle.h"
#include "frame/Format.h"
#include "frame/I18n.h"
#include "frame/ProgramPaths.h"
#include "frame/StartUp.h"
#include "platform/Signals.h"
#include "ui/DisplayStyle.h"
#include "ui/IconSet.h"
#include "ui/MessageDialog.h"
#include "watchdog/MainWindowController.h"
#include "watchdog/MonitorController.h"

#include <QApplication>

namespace kes {

int RunSelwandWindow(QApplication& app)
{
    TSelwandSetup setup;
    setup.Location = LocateSettings();
    setup.LanguageCode = LanguageCode();
    setup.Arguments = ProgramArguments();
    TMonitorController monitor(setup);
    QString locked;
    if (!monitor.LockSettings(locked)) {
        ShowErrorMessage(QStringLiteral("Selwand"), locked);
        return 4;
    }
    monitor.Load();

    const TDisplayStyle style = DecideDisplayStyle(monitor.UseDarkMode(), ConfigFileName());
    ApplyDisplayStyle(style);
    TIconSet::Load(TIconSet::StyleFromConfig(ConfigFileName()), style == TDisplayStyle::dsDark);
    // The window may be hidden while Selwand runs on in the tray.
    app.setQuitOnLastWindowClosed(false);

    TMainWindowController controller(monitor);
    controller.RefreshStartOnLogon();
    TMainWindow window(controller);

    // The session ends (or someone asks the program to end): monitoring
    // stops after a final pass and the settings are saved.
    platform::TProgramSignals programSignals([&](int signal) {
        if (!platform::TProgramSignals::IsTermination(signal)) {
            monitor.RequestInstantBackup();
            return;
        }
        if (!monitor.Stopping())
            controller.QuitMonitoring();
    });

    window.CheckForce();
    app.exec();
    return monitor.LastSaveFailed() ? 3 : 0;
}

} // namespace kes
