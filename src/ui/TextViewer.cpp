#include "ui/TextViewer.h"

#include "frame/Format.h"
#include "frame/I18n.h"
#include "ui/FileFilter.h"
#include "ui/IconSet.h"

#include <QCheckBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPageLayout>
#include <QPlainTextEdit>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QPushButton>
#include <QShortcut>
#include <QStringDecoder>
#include <QTextBlock>
#include <QToolButton>
#include <QVBoxLayout>

namespace kes {

TTextViewer::TTextViewer(TTextViewerOptions options, QWidget* parent)
    : QDialog(parent)
    , FOptions(std::move(options))
{
    setObjectName(QStringLiteral("TextViewer"));
    setWindowTitle(FOptions.Title);
    setWindowFlag(Qt::WindowMaximizeButtonHint);
    FText = new QPlainTextEdit(this);
    FText->setReadOnly(true);
    FText->setLineWrapMode(QPlainTextEdit::NoWrap);
    FText->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    FText->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    FText->setAccessibleName(U_("Text of the file"));
    connect(FText, &QPlainTextEdit::cursorPositionChanged, this, [this] { UpdateStatus(); });

    auto* tools = new QHBoxLayout;
    AddButton(tools, QStringLiteral("open"), U_("&Open..."), QKeySequence::Open, [this] { OpenFile(); });
    AddButton(tools, QStringLiteral("prev-error"), U_("Previous error"), QKeySequence(Qt::SHIFT | Qt::Key_F8),
        [this] { PreviousError(); });
    AddButton(tools, QStringLiteral("next-error"), U_("Next error"), QKeySequence(Qt::Key_F8),
        [this] { NextError(); });
    AddButton(tools, QStringLiteral("prev-section"), U_("Previous section"),
        QKeySequence(Qt::SHIFT | Qt::Key_F7), [this] { PreviousSection(); });
    AddButton(tools, QStringLiteral("next-section"), U_("Next section"), QKeySequence(Qt::Key_F7),
        [this] { NextSection(); });
    tools->addSpacing(12);
    auto* findLabel = new QLabel(U_("&Find:"), this);
    FFind = new QLineEdit(this);
    FFind->setClearButtonEnabled(true);
    FFind->setAccessibleName(U_("Find text"));
    findLabel->setBuddy(FFind);
    connect(FFind, &QLineEdit::returnPressed, this, [this] { FindText(FFind->text(), true); });
    FMatchCase = new QCheckBox(U_("Match &case"), this);
    tools->addWidget(findLabel);
    tools->addWidget(FFind, 1);
    AddButton(tools, QStringLiteral("find"), U_("Find next"), QKeySequence(Qt::Key_F3),
        [this] { FindText(FFind->text(), true); });
    auto* findBack = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F3), this);
    connect(findBack, &QShortcut::activated, this, [this] { FindText(FFind->text(), false); });
    tools->addWidget(FMatchCase);
    tools->addSpacing(12);
    AddButton(
        tools, QStringLiteral("print"), U_("&Print..."), QKeySequence::Print, [this] { ShowPrintPreview(); });
    FZip = AddButton(tools, QStringLiteral("zip"), U_("Save as &zip..."), QKeySequence(), [this] {
        if (FOptions.SaveAsZip)
            FOptions.SaveAsZip(this, FFileName);
    });
    FZip->setVisible(bool(FOptions.SaveAsZip));

    FStatus = new QLabel(this);
    FStatus->setObjectName(QStringLiteral("status"));
    auto* close = new QPushButton(TIconSet::Icon(QStringLiteral("close")), U_("&Close"), this);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(FStatus, 1);
    bottom->addWidget(close);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(tools);
    layout->addWidget(FText, 1);
    layout->addLayout(bottom);
    resize(900, 600);
    UpdateStatus();
}

QToolButton* TTextViewer::AddButton(QHBoxLayout* row, const QString& icon, const QString& text,
    const QKeySequence& key, std::function<void()> action)
{
    auto* button = new QToolButton(this);
    button->setIcon(TIconSet::Icon(icon));
    button->setText(text);
    QString tip = QString(text).remove(u'&');
    if (!key.isEmpty()) {
        button->setShortcut(key);
        tip += QStringLiteral(" (") + key.toString(QKeySequence::NativeText) + u')';
    }
    button->setToolTip(tip);
    button->setAccessibleName(QString(text).remove(u'&'));
    button->setToolButtonStyle(Qt::ToolButtonIconOnly);
    button->setAutoRaise(true);
    connect(button, &QToolButton::clicked, this, std::move(action));
    row->addWidget(button);
    return button;
}

bool TTextViewer::LoadFile(const QString& fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        UpdateStatus(SafeFormat(U_("The file \"%s\" cannot be read: %s"), {fileName, file.errorString()}));
        return false;
    }
    QByteArray bytes = file.readAll();
    QString text;
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    text = utf8.decode(bytes);
    if (utf8.hasError())
        text = QString::fromLatin1(bytes);
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    FFileName = fileName;
    setWindowTitle(FOptions.Title.isEmpty()
            ? QFileInfo(fileName).fileName()
            : FOptions.Title + QStringLiteral(" - ") + QFileInfo(fileName).fileName());
    SetText(text);
    return true;
}

void TTextViewer::SetText(const QString& text)
{
    FNavigator.SetText(text);
    FText->setPlainText(FNavigator.Lines().join(u'\n'));
    FText->moveCursor(QTextCursor::Start);
    UpdateStatus();
}

int TTextViewer::CurrentLine() const
{
    return FText->textCursor().blockNumber();
}

void TTextViewer::GoToLine(int line)
{
    const QTextBlock block = FText->document()->findBlockByNumber(line);
    if (!block.isValid())
        return;
    QTextCursor cursor(block);
    cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    FText->setTextCursor(cursor);
    FText->centerCursor();
}

bool TTextViewer::GoToMarker(const QString& marker, bool forward)
{
    const int line = FNavigator.FindMarker(marker, CurrentLine(), forward);
    if (line < 0) {
        UpdateStatus(forward ? U_("No further line below.") : U_("No further line above."));
        return false;
    }
    GoToLine(line);
    return true;
}

bool TTextViewer::FindText(const QString& what, bool forward)
{
    const QTextCursor cursor = FText->textCursor();
    const qsizetype from = forward ? cursor.selectionEnd() : cursor.selectionStart();
    const qsizetype at = FNavigator.Find(what, from, forward, FMatchCase->isChecked());
    if (at < 0) {
        UpdateStatus(SafeFormat(U_("\"%s\" was not found."), {what}));
        return false;
    }
    QTextCursor found(FText->document());
    found.setPosition(int(at));
    found.setPosition(int(at + what.size()), QTextCursor::KeepAnchor);
    FText->setTextCursor(found);
    FText->centerCursor();
    return true;
}

QString TTextViewer::StatusText() const
{
    return FStatus->text();
}

void TTextViewer::UpdateStatus(const QString& note)
{
    QString text = SafeFormat(U_("Line %d of %d"), {CurrentLine() + 1, FNavigator.LineCount()});
    if (!FOptions.ErrorMarker.isEmpty())
        text += QStringLiteral(" - ")
            + SafeFormat(U_("Errors: %d"), {FNavigator.CountMarker(FOptions.ErrorMarker)});
    if (!note.isEmpty())
        text += QStringLiteral(" - ") + note;
    FStatus->setText(text);
}

void TTextViewer::OpenFile()
{
    const QString start = FFileName.isEmpty() ? QString() : QFileInfo(FFileName).absolutePath();
    const QString name
        = QFileDialog::getOpenFileName(this, U_("Open file"), start, QtFileFilter(FOptions.FileFilter));
    if (!name.isEmpty())
        LoadFile(name);
}

void TTextViewer::PrintTo(QPrinter* printer)
{
    FText->document()->print(printer);
}

void TTextViewer::ShowPrintPreview()
{
    QPrinter printer(QPrinter::HighResolution);
    if (!FOptions.Print.PrinterName.isEmpty())
        printer.setPrinterName(FOptions.Print.PrinterName);
    printer.setPageOrientation(FOptions.Print.Landscape ? QPageLayout::Landscape : QPageLayout::Portrait);
    printer.setDocName(QFileInfo(FFileName).fileName());
    QPrintPreviewDialog preview(&printer, this);
    preview.setWindowTitle(U_("Print preview"));
    connect(&preview, &QPrintPreviewDialog::paintRequested, this, &TTextViewer::PrintTo);
    preview.exec();
}

} // namespace kes
