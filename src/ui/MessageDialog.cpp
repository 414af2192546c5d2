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

#include <algorithm>

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

// A timer of one second. Qt never fires a precise timer early; the
// countdown reads the clock anyway, so a late tick costs nothing.
class TSecondTicks final : public ITickSource {
public:
    TSecondTicks()
    {
        FTimer.setInterval(1000);
        FTimer.setTimerType(Qt::PreciseTimer);
    }
    void Start(std::function<void()> tick) override
    {
        QObject::disconnect(&FTimer, nullptr, nullptr, nullptr);
        QObject::connect(&FTimer, &QTimer::timeout, &FTimer, std::move(tick));
        FTimer.start();
    }
    void Stop() override { FTimer.stop(); }

private:
    QTimer FTimer;
};

} // namespace

TMessageDialog::TMessageDialog(TMessageKind kind, const QString& title, const QString& text,
    int autoCloseSeconds, QWidget* parent, TCountdownSeam countdown)
    : QDialog(parent)
    , FKind(kind)
    , FClock(countdown.Clock ? std::move(countdown.Clock) : TClock::System())
{
    setWindowTitle(title);
    setModal(true);

    auto* icon = new QLabel(this);
    const int size = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
    icon->setPixmap(style()->standardIcon(IconOf(kind), nullptr, this).pixmap(size, size));
    icon->setAlignment(Qt::AlignTop);

    QString plain = text;
    plain.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    FText = new QLabel(plain, this);
    FText->setTextFormat(Qt::PlainText);
    FText->setTextInteractionFlags(Qt::TextSelectableByMouse);
    FText->setWordWrap(false);

    FCountdown = new QLabel(this);
    FCountdown->setObjectName(QStringLiteral("countdown"));

    auto* buttons = new QDialogButtonBox(this);
    if (kind == TMessageKind::mkConfirmation) {
        FAccept = buttons->addButton(QDialogButtonBox::Yes);
        FReject = buttons->addButton(QDialogButtonBox::No);
        FAccept->setText(U_("&Yes"));
        FReject->setText(U_("&No"));
        FReject->setDefault(true);
        FReject->setFocus();
    } else {
        FAccept = buttons->addButton(QDialogButtonBox::Ok);
        FAccept->setText(U_("OK"));
        FAccept->setDefault(true);
    }
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* row = new QHBoxLayout;
    row->addWidget(icon);
    row->addSpacing(12);
    row->addWidget(FText, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(FCountdown);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    if (kind == TMessageKind::mkInformation && autoCloseSeconds >= 0) {
        FSeconds = autoCloseSeconds;
        FRemaining = autoCloseSeconds;
        FTicks = countdown.Ticks ? std::move(countdown.Ticks) : std::make_shared<TSecondTicks>();
    }
    UpdateCountdown();
}

TMessageDialog::~TMessageDialog()
{
    if (FTicks)
        FTicks->Stop();
}

QString TMessageDialog::Text() const
{
    return FText->text();
}

QString TMessageDialog::CountdownText() const
{
    return FCountdown->isHidden() ? QString() : FCountdown->text();
}

void TMessageDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!FTicks || event->spontaneous())
        return;
    if (FSeconds <= 0) {
        QTimer::singleShot(0, this, &TMessageDialog::CloseByItself);
        return;
    }
    // The time counts from the moment the message is shown.
    FDeadline = FClock->CurrentMSecsSinceEpoch() + qint64(FSeconds) * 1000;
    FTicks->Start([this] { Tick(); });
}

void TMessageDialog::Tick()
{
    // Whole seconds left, to the nearest: a tick a little early or late
    // still shows the second it stands for.
    const qint64 left = FDeadline - FClock->CurrentMSecsSinceEpoch();
    FRemaining = int(std::clamp<qint64>((left + 500) / 1000, 0, FSeconds));
    UpdateCountdown();
    if (FRemaining <= 0)
        CloseByItself();
}

void TMessageDialog::CloseByItself()
{
    if (!isVisible())
        return;
    FRemaining = 0;
    FClosedByItself = true;
    accept();
}

void TMessageDialog::done(int result)
{
    if (FTicks)
        FTicks->Stop();
    QDialog::done(result);
}

void TMessageDialog::UpdateCountdown()
{
    if (FRemaining < 0) {
        FCountdown->hide();
        return;
    }
    FCountdown->setText(SafeFormat(U_("This message closes in %d s."), {FRemaining}));
    FCountdown->show();
}

bool ShowInformationMessage(const QString& title, const QString& text, int autoCloseSeconds, QWidget* parent,
    TCountdownSeam countdown)
{
    TMessageDialog dialog(
        TMessageKind::mkInformation, title, text, autoCloseSeconds, parent, std::move(countdown));
    dialog.exec();
    return dialog.ClosedByItself();
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
