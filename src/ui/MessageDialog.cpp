#include "ui/MessageDialog.h"

#include "frame/Format.h"
#include "frame/I18n.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

namespace kes {

namespace {

QStyle::StandardPixmap IconOf(TMessageKind kind)
{
    switch (kind) {
    case TMessageKind::mkError:
        return QStyle::SP_MessageBoxCritical;
    case TMessageKind::mkWarning:
        return QStyle::SP_MessageBoxWarning;
    case TMessageKind::mkConfirmation:
        return QStyle::SP_MessageBoxQuestion;
    case TMessageKind::mkInformation:
        break;
    }
    return QStyle::SP_MessageBoxInformation;
}

} // namespace

TMessageDialog::TMessageDialog(
    TMessageKind kind, const QString& title, const QString& text, int autoCloseSeconds, QWidget* parent)
    : QDialog(parent)
    , m_kind(kind)
{
    setWindowTitle(title);
    setModal(true);

    auto* icon = new QLabel(this);
    const int size = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
    icon->setPixmap(style()->standardIcon(IconOf(kind), nullptr, this).pixmap(size, size));
    icon->setAlignment(Qt::AlignTop);

    QString plain = text;
    plain.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    m_text = new QLabel(plain, this);
    m_text->setTextFormat(Qt::PlainText);
    m_text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_text->setWordWrap(false);

    m_countdown = new QLabel(this);
    m_countdown->setObjectName(QStringLiteral("countdown"));

    auto* buttons = new QDialogButtonBox(this);
    if (kind == TMessageKind::mkConfirmation) {
        m_accept = buttons->addButton(QDialogButtonBox::Yes);
        m_reject = buttons->addButton(QDialogButtonBox::No);
        m_accept->setText(U_("&Yes"));
        m_reject->setText(U_("&No"));
        m_reject->setDefault(true);
        m_reject->setFocus();
    } else {
        m_accept = buttons->addButton(QDialogButtonBox::Ok);
        m_accept->setText(U_("OK"));
        m_accept->setDefault(true);
    }
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* row = new QHBoxLayout;
    row->addWidget(icon);
    row->addSpacing(12);
    row->addWidget(m_text, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(m_countdown);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    if (kind == TMessageKind::mkInformation && autoCloseSeconds >= 0) {
        m_remaining = autoCloseSeconds;
        m_timer = new QTimer(this);
        m_timer->setInterval(1000);
        connect(m_timer, &QTimer::timeout, this, &TMessageDialog::Tick);
    }
    UpdateCountdown();
}

QString TMessageDialog::Text() const
{
    return m_text->text();
}

QString TMessageDialog::CountdownText() const
{
    return m_countdown->isHidden() ? QString() : m_countdown->text();
}

void TMessageDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!m_timer || event->spontaneous())
        return;
    if (m_remaining <= 0)
        QTimer::singleShot(0, this, &QDialog::accept);
    else
        m_timer->start();
}

void TMessageDialog::Tick()
{
    if (m_remaining > 0)
        --m_remaining;
    UpdateCountdown();
    if (m_remaining <= 0) {
        m_timer->stop();
        accept();
    }
}

void TMessageDialog::UpdateCountdown()
{
    if (m_remaining < 0) {
        m_countdown->hide();
        return;
    }
    m_countdown->setText(SafeFormat(U_("This message closes in %d s."), {m_remaining}));
    m_countdown->show();
}

void ShowInformationMessage(const QString& title, const QString& text, int autoCloseSeconds, QWidget* parent)
{
    TMessageDialog dialog(TMessageKind::mkInformation, title, text, autoCloseSeconds, parent);
    dialog.exec();
}

void ShowErrorMessage(const QString& title, const QString& text, QWidget* parent)
{
    TMessageDialog dialog(TMessageKind::mkError, title, text, -1, parent);
    dialog.exec();
}

bool ConfirmYesNo(const QString& title, const QString& text, QWidget* parent)
{
    TMessageDialog dialog(TMessageKind::mkConfirmation, title, text, -1, parent);
    return dialog.exec() == QDialog::Accepted;
}

} // namespace kes
