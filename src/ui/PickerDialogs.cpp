#include "ui/PickerDialogs.h"

#include "frame/I18n.h"
#include "ui/IconSet.h"
#include "ui/MessageDialog.h"
#include "ui/Placement.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

namespace kes {

void MoveToControl(QWidget* window, const QWidget* control)
{
    if (!window || !control)
        return;
    window->adjustSize();
    const QRect rect(control->mapToGlobal(QPoint(0, 0)), control->size());
    QScreen* screen = control->screen() ? control->screen() : QGuiApplication::primaryScreen();
    const QRect available = screen ? screen->availableGeometry() : QRect();
    window->move(PlaceAtControl(rect, window->frameGeometry().size(), available));
}

// --- List window -------------------------------------------------------------------

TListWindow::TListWindow(const QString& title, const QStringList& lines, QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(title);
    FList = new QListWidget(this);
    FList->setUniformItemSizes(true);
    FList->setAccessibleName(title);
    FList->addItems(lines);
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    FList->setFont(fixed);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->button(QDialogButtonBox::Close)->setText(U_("&Close"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(FList);
    layout->addWidget(buttons);
    resize(420, 260);
}

QStringList TListWindow::Lines() const
{
    QStringList lines;
    for (int i = 0; i < FList->count(); ++i)
        lines << FList->item(i)->text();
    return lines;
}

void TListWindow::SetLines(const QStringList& lines)
{
    FList->clear();
    FList->addItems(lines);
}

void ShowListAt(const QString& title, const QStringList& lines, QWidget* control)
{
    TListWindow window(title, lines, control ? control->window() : nullptr);
    window.resize(420, 260);
    MoveToControl(&window, control);
    window.exec();
}

// --- Selection dialog --------------------------------------------------------------

TSelectListItemDialog::TSelectListItemDialog(
    const QString& title, const QString& description, const QStringList& items, QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(title);
    auto* label = new QLabel(description, this);
    label->setWordWrap(true);
    FList = new QListWidget(this);
    FList->addItems(items);
    FList->setAccessibleName(title);
    label->setBuddy(FList);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    FOk = buttons->button(QDialogButtonBox::Ok);
    FOk->setText(U_("OK"));
    buttons->button(QDialogButtonBox::Cancel)->setText(U_("Cancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(FList, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
    connect(FList, &QListWidget::currentRowChanged, this, [this](int row) { FOk->setEnabled(row >= 0); });
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(FList);
    layout->addWidget(buttons);
    FOk->setEnabled(false);
    SetSelectedIndex(items.isEmpty() ? -1 : 0);
    resize(420, 280);
}

int TSelectListItemDialog::SelectedIndex() const
{
    return FList->currentRow();
}

void TSelectListItemDialog::SetSelectedIndex(int index)
{
    FList->setCurrentRow(index);
    FOk->setEnabled(index >= 0 && index < FList->count());
}

int SelectListItem(const QString& title, const QString& description, const QStringList& items,
    QWidget* control, int preselected)
{
    TSelectListItemDialog dialog(title, description, items, control ? control->window() : nullptr);
    dialog.SetSelectedIndex(items.isEmpty() ? -1 : preselected);
    MoveToControl(&dialog, control);
    if (dialog.exec() != QDialog::Accepted)
        return -1;
    return dialog.SelectedIndex();
}

// --- Questions and input ------------------------------------------------------------

bool ConfirmYesNoAt(const QString& title, const QString& text, QWidget* control)
{
    TMessageDialog dialog(
        TMessageKind::mkConfirmation, title, text, -1, control ? control->window() : nullptr);
    MoveToControl(&dialog, control);
    return dialog.exec() == QDialog::Accepted;
}

bool InputText(QWidget* parent, const QString& title, const QString& prompt, QString& value, bool password)
{
    QDialog dialog(parent);
    dialog.setWindowTitle(title);
    auto* label = new QLabel(prompt, &dialog);
    auto* edit = new QLineEdit(value, &dialog);
    edit->setEchoMode(password ? QLineEdit::Password : QLineEdit::Normal);
    edit->setAccessibleName(prompt);
    label->setBuddy(edit);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    buttons->button(QDialogButtonBox::Ok)->setText(U_("OK"));
    buttons->button(QDialogButtonBox::Cancel)->setText(U_("Cancel"));
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(label);
    layout->addWidget(edit);
    layout->addWidget(buttons);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    value = edit->text();
    return true;
}

QString SelectDirectory(QWidget* parent, const QString& title, const QString& start)
{
    return QFileDialog::getExistingDirectory(parent, title, start, QFileDialog::ShowDirsOnly);
}

// --- Hint --------------------------------------------------------------------------

void ShowHint(QWidget* control, const QString& text, int ms)
{
    auto* hint = new QLabel(text, nullptr, Qt::ToolTip | Qt::FramelessWindowHint);
    hint->setAttribute(Qt::WA_DeleteOnClose);
    hint->setObjectName(QStringLiteral("HintMessage"));
    hint->setWordWrap(true);
    hint->setMargin(8);
    hint->setMaximumWidth(360);
    hint->setAutoFillBackground(true);
    hint->setBackgroundRole(QPalette::ToolTipBase);
    hint->setForegroundRole(QPalette::ToolTipText);
    hint->setFrameShape(QFrame::Box);
    MoveToControl(hint, control);
    hint->show();
    QTimer::singleShot(ms, hint, &QWidget::close);
}

// --- Start screen ------------------------------------------------------------------

TStartScreen::TStartScreen(const QString& title, const QString& versionText, int ms)
    : QWidget(nullptr, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("StartScreen"));
    setAttribute(Qt::WA_DeleteOnClose);
    auto* logo = new QLabel(this);
    logo->setPixmap(TIconSet::Icon(QStringLiteral("logo")).pixmap(64, 64));
    logo->setAlignment(Qt::AlignCenter);
    auto* name = new QLabel(title, this);
    QFont big = name->font();
    big.setPointSizeF(big.pointSizeF() * 1.6);
    big.setBold(true);
    name->setFont(big);
    name->setAlignment(Qt::AlignCenter);
    FVersion = new QLabel(versionText, this);
    FVersion->setAlignment(Qt::AlignCenter);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(32, 24, 32, 24);
    layout->addWidget(logo);
    layout->addWidget(name);
    layout->addWidget(FVersion);
    setAutoFillBackground(true);
    adjustSize();
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(PlaceCentred(screen->availableGeometry(), size(), screen->availableGeometry()));
    QTimer::singleShot(ms, this, &QWidget::close);
}

QString TStartScreen::VersionText() const
{
    return FVersion->text();
}

} // namespace kes
