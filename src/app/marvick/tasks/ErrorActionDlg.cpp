#include "app/marvick/tasks/ErrorActionDlg.h"

#include "frame/I18n.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace kes {

TErrorActionDialog::TErrorActionDialog(const QString& subAction, int mask, QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(ErrorActionTitle());
    auto* layout = new QVBoxLayout(this);
    FGroup = new QGroupBox(ErrorActionCaption(subAction), this);
    auto* inner = new QVBoxLayout(FGroup);
    const TErrorActionChoice choice(mask);
    for (int i = 0; i < choice.Count(); ++i) {
        FChecks[std::size_t(i)] = new QCheckBox(ErrorActionConditionText(i), FGroup);
        FChecks[std::size_t(i)]->setChecked(choice.Checked(i));
        inner->addWidget(FChecks[std::size_t(i)]);
    }
    layout->addWidget(FGroup);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(_("OK"));
    buttons->button(QDialogButtonBox::Cancel)->setText(_("Cancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

TErrorActionChoice TErrorActionDialog::Choice() const
{
    TErrorActionChoice choice(0);
    for (int i = 0; i < choice.Count(); ++i)
        choice.SetChecked(i, FChecks[std::size_t(i)]->isChecked());
    return choice;
}

bool TErrorActionDialog::Execute(const QPoint& pos, const QString& subAction, int& mask, QWidget* parent)
{
    TErrorActionDialog dialog(subAction, mask, parent);
    dialog.adjustSize();
    QRect r(pos, dialog.size());
    if (QScreen* screen = QGuiApplication::screenAt(pos)) {
        const QRect area = screen->availableGeometry();
        r.moveRight(std::min(r.right(), area.right()));
        r.moveBottom(std::min(r.bottom(), area.bottom()));
        r.moveLeft(std::max(r.left(), area.left()));
        r.moveTop(std::max(r.top(), area.top()));
    }
    dialog.move(r.topLeft());
    const bool ok = dialog.exec() == QDialog::Accepted;
    return dialog.Choice().Finish(ok, mask);
}

} // namespace kes
