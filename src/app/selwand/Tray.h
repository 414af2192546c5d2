// TSelwandTray: Selwand's icon in the notification area, its menu and the
// monitoring info panel. Without a notification area (no tray host, as on
// GNOME without an extension or on a bare X server) the window is
// minimised instead of hidden, and the balloon becomes a desktop
// notification, so that a running Selwand can always be reached.
#pragma once

#include "ui/InfoPanel.h"
#include "watchdog/MonTask.h"

#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>

class QMenu;

namespace kes {

class TMainWindow;
class TMainWindowController;
struct TSelwandActions;

class TSelwandTray : public QObject {
    Q_OBJECT
public:
    TSelwandTray(TMainWindowController& controller, TMainWindow& window, const TSelwandActions& actions);
    ~TSelwandTray() override;

    // A notification area can show our icon now.
    static bool Available();
    static QIcon IconFor(TTaskBarStatus status);

    // The window goes into the background: the icon is shown with the
    // balloon; false when there is no notification area (then the text went
    // to a desktop notification).
    bool ShowInBackground();
    void Remove();
    bool Visible() const;
    // The left click: the window to the front when it is visible, else the
    // info panel.
    void Activate();
    void ShowMonitorInfo();
    TInfoPanel* InfoPanel() const { return FPanel; }
    QSystemTrayIcon& Icon() { return FIcon; }
    QMenu* Menu() const { return FMenu; }
    // The balloon's text.
    static QString BalloonText();

private:
    void Refresh();
    void RefreshPanel();

    TMainWindowController& FController;
    TMainWindow& FWindow;
    QSystemTrayIcon FIcon;
    QMenu* FMenu = nullptr;
    QPointer<TInfoPanel> FPanel;
};

} // namespace kes
