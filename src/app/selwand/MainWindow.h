// TMainWindow: Selwand's main window, a view of TMainWindowController and
// the monitoring controller. The layout is MainWindow.ui; every command is
// one QAction shared by the window's button, the main menu and the tray
// menu (TSelwandTray), so enabled states and texts change in one place.
#pragma once

#include "frame/MessageKind.h"
#include "watchdog/MainWindowController.h"

#include <QWidget>
#include <memory>

class QAction;
class QMenu;

namespace Ui {
class TMainWindow;
}

namespace kes {

class TSelwandTray;
class TListWindow;

// The commands of the window and the tray.
struct TSelwandActions {
    QAction* Start = nullptr; // start monitoring / start immediate backup
    QAction* Stop = nullptr;
    QAction* Instant = nullptr; // "Start immediate backup" (tray, info panel)
    QAction* ToggleMonitoring = nullptr; // "Start monitoring" / "Stop monitoring" (tray)
    QAction* EditMonitoring = nullptr; // "Edit monitoring": the window to the front
    QAction* QuitMonitoring = nullptr;
    QAction* Kestrup = nullptr; // opens the main program
    QAction* TrayCancel = nullptr;
    QAction* Add = nullptr;
    QAction* Remove = nullptr;
    QAction* Edit = nullptr;
    QAction* Filter = nullptr;
    QAction* ShowFiles = nullptr;
    QAction* ClearLog = nullptr;
    QAction* CopyLog = nullptr;
    QAction* ShowLog = nullptr;
    QAction* Quit = nullptr;
    QAction* StartOnLogon = nullptr;
    QAction* ResetSize = nullptr;
    QAction* Help = nullptr;
    QAction* About = nullptr;
    QAction* MenuCancel = nullptr;
};

class TMainWindow : public QWidget {
    Q_OBJECT
public:
    explicit TMainWindow(TMainWindowController& controller, QWidget* parent = nullptr);
    ~TMainWindow() override;

    // Shows the window (from start-up, the tray or the info panel): every
    // task is checked again, the first one shown, the log scrolled to its
    // end; a minimised window is restored and brought to the front.
    void ShowMainWindow();
    // Closes into the background: the settings are saved, the tray icon
    // appears with its balloon and the window hides; without a tray the
    // window is minimised and a desktop notification says so.
    void GoToBackground();
    // The "force" switch at the end of start-up (CheckForce).
    void CheckForce();
    // Ends the program (after monitoring stopped): saves, removes the icon.
    void EndProgram();

    TMainWindowController& Controller() { return FController; }
    const TSelwandActions& Actions() const { return FActions; }
    TSelwandTray& Tray() { return *FTray; }
    Ui::TMainWindow& Form() { return *FUi; }
    QMenu* MainMenu() const { return FMenu; }
    // What went to the message box last (tests look at it).
    QString LastMessage() const { return FLastMessage; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void CreateActions();
    void BindButtons();
    void ConnectForm();
    void RestoreGeometry();
    void RememberGeometry();
    void RefreshState();
    void RefreshDisplay();
    void RefreshInterval();
    void UpdateQuitButton();
    void ShowMessage(TMessageKind kind, const QString& text);
    void AppendLog(const QString& text);
    void SelectRow(int row);

    void OnStart();
    void OnQuit();
    void OnAdd();
    void OnRemove();
    void OnFilter();
    void OnShowFiles();
    void OnCopyLog();
    void OnShowLog();
    void OnMenu();
    void OnStartOnLogon(bool on);
    void OnAbout();
    void OnOpenKestrup();

    TMainWindowController& FController;
    std::unique_ptr<Ui::TMainWindow> FUi;
    TSelwandActions FActions;
    QMenu* FMenu = nullptr;
    std::unique_ptr<TSelwandTray> FTray;
    bool FEnding = false;
    bool FStopping = false;
    QString FLastMessage;
};

} // namespace kes
