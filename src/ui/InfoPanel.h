// TInfoPanel: a small panel with a title, a text, a list of files and up
// to four buttons; placed in the corner of the work area next to the
// taskbar (Selwand's monitoring info from the notification area). Its
// texts may be changed while it is open.
#pragma once

#include <QDialog>
#include <QStringList>

class QLabel;
class QListView;
class QPushButton;
class QStringListModel;

namespace kes {

class TInfoPanel : public QDialog {
    Q_OBJECT
public:
    // What the panel was closed with.
    enum TResult { irClose, irEdit, irShowFiles, irInstantBackup };

    explicit TInfoPanel(QWidget* parent = nullptr);

    void SetTitle(const QString& title);
    void SetText(const QString& text); // "\r\n" or "\n" between lines
    void SetStatus(const QString& nextBackup, const QString& fileCount);
    void SetFiles(const QStringList& lines);
    void SetButtonTexts(
        const QString& close, const QString& edit, const QString& showFiles, const QString& instant);
    void SetInstantEnabled(bool on);
    // A button that only tells (Chosen) and leaves the panel open.
    void SetKeepsOpen(TResult which, bool on) { FKeepsOpen[which] = on; }
    // Moves the panel to the corner of the screen's work area next to the
    // taskbar.
    void PlaceAtTaskbar();

    TResult Result() const { return FResult; }
    QString Text() const;
    QStringList Files() const;
    QString NextBackupText() const;
    QString FileCountText() const;
    QPushButton* Button(TResult which) const;

signals:
    void Chosen(kes::TInfoPanel::TResult result);

private:
    void Choose(TResult result);

    QLabel* FTitle = nullptr;
    QLabel* FText = nullptr;
    QLabel* FNextBackup = nullptr;
    QLabel* FFileCount = nullptr;
    QListView* FList = nullptr;
    QStringListModel* FFiles = nullptr;
    QPushButton* FButtons[4] = {};
    TResult FResult = irClose;
    bool FKeepsOpen[4] = {};
};

} // namespace kes
