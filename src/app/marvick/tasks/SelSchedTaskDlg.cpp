#include "app/marvick/tasks/SelSchedTaskDlg.h"

#include "frame/Help.h"
#include "frame/I18n.h"
#include "ui/IconSet.h"
#include "ui/MessageDialog.h"
#include "ui/PickerDialogs.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <array>

namespace kes {

namespace {

QLineEdit* ReadOnlyField(QWidget* parent)
{
    auto* e = new QLineEdit(parent);
    e->setReadOnly(true);
    return e;
}

// The ball beside a task's name: green when its last result is not
// negative, red when it is.
QIcon Ball(bool ok)
{
    QPixmap pixmap(14, 14);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(ok ? QColor(0, 160, 0) : QColor(220, 0, 0));
    painter.drawEllipse(QRectF(1, 1, 12, 12));
    return QIcon(pixmap);
}

// A path too wide for its field loses leading folders to ".../"; the
// full text is then the field's hint.
QString ShortenPath(const QString& text, const QFontMetrics& metrics, int width)
{
    QString shown = text;
    int from = 0;
    while (metrics.horizontalAdvance(shown) > width) {
        const int slash = int(text.indexOf(QLatin1Char('/'), from + 1));
        if (slash < 0)
            break;
        from = slash;
        shown = QStringLiteral("...") + text.mid(slash);
    }
    return shown;
}

void SetField(QLineEdit* field, const QString& text)
{
    field->setProperty("fullText", text);
    const int width = field->width() - 12;
    const QString shown = width > 0 ? ShortenPath(text, field->fontMetrics(), width) : text;
    field->setText(shown);
    field->setToolTip(shown == text ? QString() : text);
    field->setCursorPosition(0);
}

} // namespace

TSelectSchedTaskDialog::TSelectSchedTaskDialog(
    const QString& title, TWinTaskScheduler& scheduler, const QString& filter, QWidget* parent)
    : QDialog(parent)
{
    FModel = std::make_unique<TSelectSchedTaskModel>(
        scheduler, filter,
        [this](const QString& q) { return ConfirmYesNo(_("Select Scheduled Task"), q, this); },
        [this](const QString& m) { ShowErrorMessage(_("Select Scheduled Task"), m, this); });
    setWindowTitle(TSelectSchedTaskModel::Caption(title));
    setSizeGripEnabled(true);
    auto* top = new QVBoxLayout(this);
    FList = new QTreeWidget(this);
    FList->setRootIsDecorated(false);
    FList->setAllColumnsShowFocus(true);
    FList->setSelectionMode(QAbstractItemView::SingleSelection);
    FList->setHeaderLabels({_("Name"), _("Status"), _("Last run time"), _("Next run time")});
    FList->header()->setSectionsClickable(true);
    FList->setSortingEnabled(false);
    // Fixed widths for the status and the two times; the name takes the rest.
    const double scale = logicalDpiX() / 96.0;
    FList->header()->setStretchLastSection(false);
    FList->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    const std::array<int, 3> widths {81, 121, 121};
    for (int c = 1; c <= 3; ++c) {
        FList->header()->setSectionResizeMode(c, QHeaderView::Fixed);
        FList->header()->resizeSection(c, int(widths[std::size_t(c - 1)] * scale));
    }
    top->addWidget(FList, 1);

    FGroup = new QGroupBox(this);
    auto* form = new QFormLayout(FGroup);
    FApplication = ReadOnlyField(FGroup);
    FParameters = ReadOnlyField(FGroup);
    FStartIn = ReadOnlyField(FGroup);
    FDescription = ReadOnlyField(FGroup);
    FCreator = ReadOnlyField(FGroup);
    FCreated = ReadOnlyField(FGroup);
    FAccount = ReadOnlyField(FGroup);
    form->addRow(_("Application:"), FApplication);
    form->addRow(_("Command line parameters:"), FParameters);
    form->addRow(_("Start in (optional):"), FStartIn);
    form->addRow(_("Description:"), FDescription);
    form->addRow(_("Creator:"), FCreator);
    form->addRow(_("Created:"), FCreated);
    form->addRow(_("User account:"), FAccount);
    FEnabled = new QCheckBox(FGroup);
    form->addRow(_("Enabled:"), FEnabled);
    FTriggers = new QListWidget(FGroup);
    FTriggers->setMaximumHeight(90);
    form->addRow(_("Time schedule:"), FTriggers);
    top->addWidget(FGroup);

    auto* buttons = new QHBoxLayout;
    FEdit = new QPushButton(_("Edit task"), this);
    FDelete = new QPushButton(_("Delete task"), this);
    FRun = new QPushButton(this);
    FClose = new QPushButton(_("Close"), this);
    auto* help = new QPushButton(_("Help"), this);
    buttons->addWidget(FEdit);
    buttons->addWidget(FDelete);
    buttons->addWidget(FRun);
    buttons->addStretch();
    buttons->addWidget(help);
    buttons->addWidget(FClose);
    top->addLayout(buttons);
    FEdit->setDefault(true);

    FTimer = new QTimer(this);
    FTimer->setInterval(1000);
    connect(FTimer, &QTimer::timeout, this, [this] {
        if (FModel->Poll())
            ShowRows();
    });
    connect(FList, &QTreeWidget::currentItemChanged, this, [this] {
        if (FFilling || !FList->currentItem())
            return;
        FModel->SelectRow(FList->indexOfTopLevelItem(FList->currentItem()));
        ShowDetails();
    });
    connect(FList, &QTreeWidget::itemDoubleClicked, this, [this] { done(QDialog::Accepted); });
    connect(FList->header(), &QHeaderView::sectionClicked, this, [this](int column) {
        FModel->SortBy(TSelectColumn(column));
        ShowRows();
    });
    connect(FEnabled, &QCheckBox::clicked, this, [this](bool on) {
        FModel->SetEnabled(on);
        ShowRows();
    });
    connect(FRun, &QPushButton::clicked, this, [this] {
        FModel->RunOrStop();
        ShowRows();
    });
    connect(FDelete, &QPushButton::clicked, this, [this] {
        if (FModel->DeleteSelected()) {
            done(6);
            return;
        }
        ShowRows();
    });
    connect(FEdit, &QPushButton::clicked, this, [this] { done(QDialog::Accepted); });
    connect(FClose, &QPushButton::clicked, this, [this] { done(QDialog::Rejected); });
    connect(help, &QPushButton::clicked, this, [this] {
        ShowHelp(QStringLiteral("kestrup-sched.html#tasks"),
            [this](const QString& m) { ShowErrorMessage(windowTitle(), m, this); });
    });
    resize(640, 520);
}

TSelectSchedTaskDialog::~TSelectSchedTaskDialog() = default;

void TSelectSchedTaskDialog::ShowRows()
{
    FFilling = true;
    FList->clear();
    for (const TSelectRow& row : FModel->Rows()) {
        auto* item = new QTreeWidgetItem(FList, {row.Name, row.Status, row.LastRun, row.NextRun});
        item->setIcon(0, Ball(row.LastResult >= 0));
        if (row.LastResult != 0)
            item->setToolTip(0, TaskErrorText(quint32(row.LastResult)));
    }
    for (int c = 0; c < 4; ++c)
        FList->headerItem()->setIcon(c, QIcon());
    FList->header()->setSortIndicatorShown(true);
    FList->header()->setSortIndicator(
        int(FModel->SortColumn()), FModel->SortDescending() ? Qt::DescendingOrder : Qt::AscendingOrder);
    if (FModel->SelectedRow() >= 0)
        FList->setCurrentItem(FList->topLevelItem(FModel->SelectedRow()));
    FFilling = false;
    ShowDetails();
}

void TSelectSchedTaskDialog::ShowDetails()
{
    const TSelectDetails d = FModel->Details();
    FGroup->setTitle(d.Caption);
    SetField(FApplication, d.Application);
    SetField(FParameters, d.Parameters);
    SetField(FStartIn, d.WorkingDirectory);
    SetField(FDescription, d.Description);
    SetField(FCreator, d.Creator);
    SetField(FCreated, d.Created);
    SetField(FAccount, d.UserAccount);
    FTriggers->clear();
    FTriggers->addItems(d.Triggers);
    if (FTriggers->count() > 0)
        FTriggers->setCurrentRow(0);
    const TSelectStatusControls c = FModel->Controls();
    FEnabled->setEnabled(c.ToggleEnabled);
    FEnabled->setChecked(c.ToggleOn);
    FEnabled->setText(c.ToggleOn ? _("Yes") : _("No"));
    FEnabled->setStyleSheet(c.ToggleOn ? QStringLiteral("QCheckBox { color: rgb(0,128,0); }")
                                       : QStringLiteral("QCheckBox { color: rgb(255,0,0); }"));
    FRun->setEnabled(c.RunEnabled && FModel->SelectedTaskIndex() >= 0);
    FRun->setText(c.RunStops ? _("Stop task") : _("Run task"));
    FRun->setIcon(TIconSet::Icon(c.RunStops ? QStringLiteral("stop") : QStringLiteral("start")));
    FRun->setToolTip(FRun->text());
}

void TSelectSchedTaskDialog::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    for (QLineEdit* field : {FApplication, FParameters, FStartIn, FDescription, FCreator, FCreated, FAccount})
        SetField(field, field->property("fullText").toString());
}

void TSelectSchedTaskDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    FTimer->start();
}

void TSelectSchedTaskDialog::done(int result)
{
    if (result == QDialog::Accepted && FModel->KeepOpenOnOk())
        return;
    FTimer->stop();
    QDialog::done(result);
}

int TSelectSchedTaskDialog::Execute(const QString& title, TWinTaskScheduler& scheduler, const QString& filter,
    int& taskIndex, int& trgIndex, QWidget* parent)
{
    TSelectSchedTaskDialog dialog(title, scheduler, filter, parent);
    if (dialog.Model().Fill(true) == 0) {
        taskIndex = -1;
        return 7;
    }
    dialog.ShowRows();
    int result = dialog.exec();
    if (result == QDialog::Accepted)
        result = 1;
    else if (result == QDialog::Rejected)
        result = 2;
    dialog.FTimer->stop();
    return dialog.Model().Finish(result, dialog.Triggers()->currentRow(), taskIndex, trgIndex);
}

void TSelectSchedTaskDialog::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_F11) {
        if (QWidget* w = focusWidget()) {
            QString hint = w->toolTip();
            // A control without a hint: the text of its label.
            for (const QLabel* label : findChildren<QLabel*>())
                if (hint.isEmpty() && label->buddy() == w)
                    hint = label->text();
            if (!hint.isEmpty())
                ShowHint(w, hint);
        }
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace kes
