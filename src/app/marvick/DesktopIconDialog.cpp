#include "app/marvick/DesktopIconDialog.h"

#include "app/marvick/UiText.h"
#include "app/marvick/tasks/ErrorActionDlg.h"
#include "frame/Help.h"
#include "frame/I18n.h"
#include "planner/ErrorActions.h"
#include "ui/MessageDialog.h"

#include "ui_DesktopIconDialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QToolTip>

namespace kes {

TDesktopIconDialog::TDesktopIconDialog(QWidget* parent)
    : QDialog(parent)
    , FUi(std::make_unique<Ui::TDesktopIconDialog>())
{
    FUi->setupUi(this);
    for (int a = 0; a < saActionCount; ++a) {
        connect(ActionButton(a), &QRadioButton::toggled, this, [this, a](bool on) {
            if (!on)
                return;
            FModel.SetAction(a);
            FUi->bbErrorAction->setEnabled(FModel.ErrorActionEnabled());
            FUi->bbErrorAction->setToolTip(FModel.ErrorActionHint());
        });
    }
    connect(FUi->cbParallel, &QCheckBox::toggled, this, [this](bool on) {
        FModel.Parallel = on;
        FUi->cbAction->setVisible(FModel.ActionChangeableVisible());
    });
    connect(FUi->bbErrorAction, &QPushButton::clicked, this, &TDesktopIconDialog::OnErrorAction);
    connect(FUi->buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(FUi->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(FUi->buttonBox, &QDialogButtonBox::helpRequested, this, [this] {
        ShowHelp(QStringLiteral("kestrup-dlink.html"),
            [this](const QString& text) { ShowErrorMessage(QStringLiteral("Marvick"), text, this); });
    });
    for (QWidget* child : findChildren<QWidget*>())
        child->installEventFilter(this);
}

TDesktopIconDialog::~TDesktopIconDialog() = default;

QRadioButton* TDesktopIconDialog::ActionButton(int action) const
{
    QRadioButton* const buttons[saActionCount] = {FUi->rbNone, FUi->rbStandby, FUi->rbHibernate,
        FUi->rbLogoff, FUi->rbRestart, FUi->rbShutdown, FUi->rbLockDown, FUi->rbHybridDown};
    return buttons[qBound(0, action, saActionCount - 1)];
}

QRadioButton* TDesktopIconDialog::StatusButton(int status) const
{
    QRadioButton* const buttons[5]
        = {FUi->rbStatus0, FUi->rbStatus1, FUi->rbStatus2, FUi->rbStatus3, FUi->rbStatus4};
    return buttons[qBound(0, status, 4)];
}

void TDesktopIconDialog::Prepare(const QString& caption, const QString& tasks, int runAs,
    const QString& options, const QString& description, const QString& shortcutName)
{
    setWindowTitle(caption);
    FModel.Init(tasks, runAs, options, description, shortcutName);
    ShowModel();
}

void TDesktopIconDialog::ShowModel()
{
    FUi->edShortcut->setText(FModel.ShortcutName);
    FUi->edDescription->setText(FModel.Description);
    FUi->edTasks->setText(FModel.TasksText());
    FUi->edTasks->setToolTip(FModel.TasksHint());
    FUi->cbParallel->setVisible(FModel.ParallelVisible());
    FUi->cbParallel->setChecked(FModel.Parallel);
    FUi->cbRunAs->setVisible(FModel.RunAsVisible());
    FUi->cbRunAs->setChecked(FModel.RunAs);
    FUi->cbSplash->setChecked(FModel.NoSplash);
    FUi->cbAction->setChecked(FModel.ActionChangeable);
    FUi->cbAction->setVisible(FModel.ActionChangeableVisible());
    StatusButton(FModel.Status)->setChecked(true);
    const int action = FModel.Action();
    ActionButton(action)->setChecked(true);
    FModel.SetAction(action);
    FUi->bbErrorAction->setEnabled(FModel.ErrorActionEnabled());
    FUi->bbErrorAction->setToolTip(FModel.ErrorActionHint());
}

void TDesktopIconDialog::Collect()
{
    FModel.ShortcutName = FUi->edShortcut->text();
    FModel.Description = FUi->edDescription->text();
    for (int s = 0; s < 5; ++s) {
        if (StatusButton(s)->isChecked())
            FModel.Status = s;
    }
    FModel.NoSplash = FUi->cbSplash->isChecked();
    FModel.RunAs = FUi->cbRunAs->isChecked();
    FModel.Parallel = FUi->cbParallel->isChecked();
    FModel.ActionChangeable = FUi->cbAction->isChecked();
}

bool TDesktopIconDialog::Execute(const QString& caption, const QString& tasks, int& runAs, QString& options,
    QString& description, QString& shortcutName)
{
    Prepare(caption, tasks, runAs, options, description, shortcutName);
    if (exec() != QDialog::Accepted)
        return false;
    Collect();
    shortcutName = FModel.ShortcutName;
    description = FModel.Description;
    if (FModel.RunAsVisible())
        runAs = FModel.RunAs ? 1 : 0;
    options = FModel.Options();
    return true;
}

// The conditions under which the action after the backup is not carried
// out.
void TDesktopIconDialog::OnErrorAction()
{
    QWidget* button = FUi->bbErrorAction;
    TErrorActionDialog::Execute(
        button->mapToGlobal(QPoint(0, button->height())), FModel.ActionText(), FModel.ActErr, this);
}

bool TDesktopIconDialog::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_F11) {
        if (QWidget* focus = QApplication::focusWidget()) {
            QString hint = focus->toolTip();
            for (QLabel* label : findChildren<QLabel*>()) {
                if (hint.isEmpty() && label->buddy() == focus)
                    hint = label->text().remove(u'&');
            }
            if (!hint.isEmpty())
                QToolTip::showText(focus->mapToGlobal(QPoint(0, focus->height())), hint, focus);
        }
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace kes
