// TDesktopIconDialog: the options of a desktop shortcut that starts a
// schedule. A view of TDesktopIconModel (src/planner); the layout is
// DesktopIconDialog.ui.
#pragma once

#include "planner/DesktopShortcut.h"

#include <QDialog>
#include <memory>

class QRadioButton;

namespace Ui {
class TDesktopIconDialog;
}

namespace kes {

class TDesktopIconDialog : public QDialog {
    Q_OBJECT
public:
    explicit TDesktopIconDialog(QWidget* parent = nullptr);
    ~TDesktopIconDialog() override;

    // Shows the dialog; true on OK with the outputs filled. runAs < 0
    // hides "Run as administrator".
    bool Execute(const QString& caption, const QString& tasks, int& runAs, QString& options,
        QString& description, QString& shortcutName);

    // The dialog prepared as Execute shows it, without running it (tests,
    // screenshots), and what OK would give.
    void Prepare(const QString& caption, const QString& tasks, int runAs, const QString& options,
        const QString& description, const QString& shortcutName);
    void Collect();
    TDesktopIconModel& Model() { return FModel; }
    Ui::TDesktopIconDialog& Form() { return *FUi; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ShowModel();
    void OnErrorAction();
    QRadioButton* ActionButton(int action) const;
    QRadioButton* StatusButton(int status) const;

    std::unique_ptr<Ui::TDesktopIconDialog> FUi;
    TDesktopIconModel FModel;
};

} // namespace kes
