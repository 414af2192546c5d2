#include "app/selwand/Tray.h"

#include "app/selwand/MainWindow.h"
#include "frame/I18n.h"
#include "platform/Notifications.h"
#include "ui/IconSet.h"
#include "ui/InfoPanel.h"
#include "ui/PickerDialogs.h"
#include "watchdog/MainWindowController.h"
#include "watchdog/MonitorController.h"

#include <QAction>
#include <QMenu>
#include <QPushButton>

namespace kes {

TSelwandTray::TSelwandTray(
    TMainWindowController& controller, TMainWindow& window, const TSelwandActions& actions)
    : QObject(&window)
    , FController(controller)
    , FWindow(window)
{
    FMenu = new QMenu(&window);
    FMenu->setObjectName(QStringLiteral("TrayMenu"));
    FMenu->addAction(actions.Kestrup);
    FMenu->addSeparator();
    FMenu->addAction(actions.Instant);
    FMenu->addAction(actions.ToggleMonitoring);
    FMenu->addAction(actions.EditMonitoring);
    FMenu->addAction(actions.QuitMonitoring);
    FMenu->addSeparator();
    FMenu->addAction(actions.TrayCancel);
    FIcon.setContextMenu(FMenu);
    FIcon.setIcon(IconFor(controller.Monitor().TbStatus()));
    FIcon.setToolTip(controller.Monitor().View().TipText);
    connect(&FIcon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger)
            Activate();
    });
    TMonitorController& monitor = controller.Monitor();
    connect(&monitor, &TMonitorController::TrayIconChanged, this,
        [this](TTaskBarStatus status) { FIcon.setIcon(IconFor(status)); });
    connect(&monitor, &TMonitorController::StateChanged, this, &TSelwandTray::Refresh);
}

TSelwandTray::~TSelwandTray()
{
    delete FPanel;
}

bool TSelwandTray::Available()
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

QIcon TSelwandTray::IconFor(TTaskBarStatus status)
{
    switch (status) {
    case tbsWait:
        return TIconSet::Icon(QStringLiteral("tray-wait"));
    case tbsRun:
        return TIconSet::Icon(QStringLiteral("tray-run"));
    case tbsOff:
        break;
    }
    return TIconSet::Icon(QStringLiteral("tray-off"));
}

QString TSelwandTray::BalloonText()
{
    return _("monitors selected directories and backs up changed files automatically!");
}

bool TSelwandTray::ShowInBackground()
{
    TMonitorController& monitor = FController.Monitor();
    if (!Available()) {
        // No notification area: the window stays reachable in the task bar.
        platform::SendDesktopNotification(QStringLiteral("Selwand"), monitor.ProgVersName(),
            BalloonText() + u'\n' + _("There is no notification area: Selwand stays in the task bar."));
        return false;
    }
    FIcon.setIcon(IconFor(monitor.TbStatus()));
    FIcon.setToolTip(monitor.View().TipText);
    FIcon.show();
    FIcon.showMessage(monitor.ProgVersName(), BalloonText(), QSystemTrayIcon::NoIcon);
    return true;
}

void TSelwandTray::Remove()
{
    FIcon.hide();
    if (FPanel)
        FPanel->close();
}

bool TSelwandTray::Visible() const
{
    return FIcon.isVisible();
}

void TSelwandTray::Activate()
{
    if (FWindow.isVisible()) {
        if (FWindow.isMinimized())
            FWindow.showNormal();
        FWindow.raise();
        FWindow.activateWindow();
        return;
    }
    ShowMonitorInfo();
}

void TSelwandTray::ShowMonitorInfo()
{
    if (!FPanel) {
        FPanel = new TInfoPanel();
        FPanel->setAttribute(Qt::WA_DeleteOnClose);
        FPanel->SetTitle(FController.Monitor().ProgVersName());
        FPanel->SetButtonTexts(
            _("&Close"), _("&Edit monitoring"), _("S&how files"), _("Start &immediate backup"));
        connect(FPanel, &TInfoPanel::Chosen, this, [this](TInfoPanel::TResult result) {
            switch (result) {
            case TInfoPanel::irInstantBackup:
                FController.Monitor().RequestInstantBackup();
                FWindow.ShowMainWindow();
                break;
            case TInfoPanel::irEdit:
                FWindow.ShowMainWindow();
                break;
            case TInfoPanel::irShowFiles:
                // The panel stays; the files are listed at its button.
                ShowListAt(_("Files recognized as changed"), FController.ListChangedFiles(),
                    FPanel->Button(TInfoPanel::irShowFiles));
                break;
            case TInfoPanel::irClose:
                break;
            }
        });
        FPanel->SetKeepsOpen(TInfoPanel::irShowFiles, true);
    }
    RefreshPanel();
    FPanel->PlaceAtTaskbar();
    FPanel->show();
    FPanel->raise();
    FPanel->activateWindow();
}

void TSelwandTray::RefreshPanel()
{
    if (!FPanel)
        return;
    TMonitorController& monitor = FController.Monitor();
    FPanel->SetText(FController.MonitorInfoText());
    FPanel->SetStatus(monitor.Monitoring() ? _("Next backup: ") + monitor.NextBackupText() : QString(),
        monitor.Monitoring() ? monitor.View().FileCountText : QString());
    FPanel->SetFiles(FController.ListChangedFiles());
    FPanel->SetInstantEnabled(monitor.View().TrayInstantEnabled);
}

void TSelwandTray::Refresh()
{
    FIcon.setToolTip(FController.Monitor().View().TipText);
    RefreshPanel();
}

} // namespace kes
