#include "ui/InfoPanel.h"

#include "frame/I18n.h"
#include "ui/IconSet.h"
#include "ui/Placement.h"

#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QScreen>
#include <QStringListModel>
#include <QVBoxLayout>

namespace kes {

TInfoPanel::TInfoPanel(QWidget* parent)
    : QDialog(parent, Qt::Tool | Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("InfoPanel"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    FTitle = new QLabel(this);
    QFont bold = FTitle->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.15);
    FTitle->setFont(bold);
    auto* logo = new QLabel(this);
    logo->setPixmap(TIconSet::Icon(QStringLiteral("logo")).pixmap(32, 32));
    FText = new QLabel(this);
    FText->setTextFormat(Qt::PlainText);
    FText->setWordWrap(true);
    FNextBackup = new QLabel(this);
    FNextBackup->setObjectName(QStringLiteral("nextBackup"));
    FFileCount = new QLabel(this);
    FFileCount->setObjectName(QStringLiteral("fileCount"));
    FFiles = new QStringListModel(this);
    FList = new QListView(this);
    FList->setModel(FFiles);
    FList->setUniformItemSizes(true);
    FList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    FList->setAccessibleName(U_("Changed files"));
    FList->setMinimumHeight(110);

    const char* icons[4] = {"close", "edit", "show-files", "instant"};
    auto* buttons = new QHBoxLayout;
    for (int i = 0; i < 4; ++i) {
        FButtons[i] = new QPushButton(TIconSet::Icon(QString::fromLatin1(icons[i])), QString(), this);
        connect(FButtons[i], &QPushButton::clicked, this, [this, i] { Choose(TResult(i)); });
        buttons->addWidget(FButtons[i]);
    }
    FButtons[irClose]->setDefault(true);

    auto* head = new QHBoxLayout;
    head->addWidget(logo);
    head->addWidget(FTitle, 1);
    auto* status = new QHBoxLayout;
    status->addWidget(FNextBackup, 1);
    status->addWidget(FFileCount);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(head);
    layout->addWidget(FText);
    layout->addLayout(status);
    layout->addWidget(FList, 1);
    layout->addLayout(buttons);
    resize(440, 320);
}

void TInfoPanel::SetTitle(const QString& title)
{
    FTitle->setText(title);
    setWindowTitle(title);
}

void TInfoPanel::SetText(const QString& text)
{
    QString plain = text;
    plain.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    FText->setText(plain);
}

void TInfoPanel::SetStatus(const QString& nextBackup, const QString& fileCount)
{
    FNextBackup->setText(nextBackup);
    FFileCount->setText(fileCount);
}

void TInfoPanel::SetFiles(const QStringList& lines)
{
    if (FFiles->stringList() != lines)
        FFiles->setStringList(lines);
}

void TInfoPanel::SetButtonTexts(
    const QString& close, const QString& edit, const QString& showFiles, const QString& instant)
{
    const QString texts[4] = {close, edit, showFiles, instant};
    for (int i = 0; i < 4; ++i)
        FButtons[i]->setText(texts[i]);
}

void TInfoPanel::SetInstantEnabled(bool on)
{
    FButtons[irInstantBackup]->setEnabled(on);
}

void TInfoPanel::PlaceAtTaskbar()
{
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    adjustSize();
    move(PlaceAtTaskbarCorner(screen->geometry(), screen->availableGeometry(), frameGeometry().size()));
}

QString TInfoPanel::Text() const
{
    return FText->text();
}

QStringList TInfoPanel::Files() const
{
    return FFiles->stringList();
}

QString TInfoPanel::NextBackupText() const
{
    return FNextBackup->text();
}

QString TInfoPanel::FileCountText() const
{
    return FFileCount->text();
}

QPushButton* TInfoPanel::Button(TResult which) const
{
    return FButtons[which];
}

void TInfoPanel::Choose(TResult result)
{
    emit Chosen(result);
    if (FKeepsOpen[result])
        return;
    FResult = result;
    if (result == irClose)
        reject();
    else
        accept();
}

} // namespace kes
