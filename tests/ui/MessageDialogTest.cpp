// The shared message box: information closes by itself with a visible
// countdown (driven by a settable clock and ticks of the test, never by
// real time); errors and confirmations wait for the user.
#include "ui/MessageDialog.h"

#include "common/TestSupport.h"

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace kes;

namespace {

// Ticks the test gives by hand.
class TManualTicks final : public ITickSource {
public:
    void Start(std::function<void()> tick) override
    {
        FTick = std::move(tick);
        ++Starts;
    }
    void Stop() override { FTick = nullptr; }
    bool Running() const { return bool(FTick); }
    void Tick()
    {
        // A copy: the tick may stop the source, which drops FTick.
        if (const auto tick = FTick)
            tick();
    }
    int Starts = 0;

private:
    std::function<void()> FTick;
};

// Ticks that move the clock on by a second each and tick at once, from the
// event loop of a modal message; they note the countdown each time.
class TModalTicks final : public ITickSource {
public:
    explicit TModalTicks(std::shared_ptr<TSettableClock> clock)
        : FClock(std::move(clock))
    {
    }
    void Start(std::function<void()> tick) override
    {
        FTick = std::move(tick);
        Next();
    }
    void Stop() override { FTick = nullptr; }
    QStringList Seen;

private:
    void Next()
    {
        QTimer::singleShot(0, qApp, [this] {
            if (!FTick)
                return;
            if (auto* d = qobject_cast<TMessageDialog*>(QApplication::activeModalWidget()))
                Seen.append(d->CountdownText());
            FClock->Advance(1000);
            const auto tick = FTick; // the tick may stop the source
            tick();
            if (FTick)
                Next();
        });
    }
    std::shared_ptr<TSettableClock> FClock;
    std::function<void()> FTick;
};

} // namespace

TEST(MessageDialog, InformationCountsDownByTheClockAndClosesByItself)
{
    auto clock = std::make_shared<TSettableClock>();
    auto ticks = std::make_shared<TManualTicks>();
    TMessageDialog dialog(TMessageKind::mkInformation, QStringLiteral("Marvick"),
        QStringLiteral("Backup started\r\nStep: 1"), 3, nullptr, {clock, ticks});
    EXPECT_EQ(dialog.Text(), QStringLiteral("Backup started\nStep: 1"));
    EXPECT_EQ(dialog.CountdownText(), QStringLiteral("This message closes in 3 s."));
    EXPECT_EQ(ticks->Starts, 0); // the time counts from the showing
    clock->Advance(60000);
    dialog.show();
    ASSERT_EQ(ticks->Starts, 1);
    // A tick early or late still shows the second it stands for.
    const struct {
        qint64 advanceMs;
        int remaining;
        bool visible;
    } steps[] = {{1000, 2, true}, {1400, 1, true}, {0, 1, true}, {350, 0, false}};
    for (const auto& step : steps) {
        SCOPED_TRACE(step.advanceMs);
        clock->Advance(step.advanceMs);
        ticks->Tick();
        EXPECT_EQ(dialog.RemainingSeconds(), step.remaining);
        EXPECT_EQ(dialog.CountdownText(), QStringLiteral("This message closes in %1 s.").arg(step.remaining));
        EXPECT_EQ(dialog.isVisible(), step.visible);
    }
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_TRUE(dialog.ClosedByItself());
    EXPECT_FALSE(ticks->Running());
}

TEST(MessageDialog, InformationClosedByTheUserStopsCounting)
{
    auto clock = std::make_shared<TSettableClock>();
    auto ticks = std::make_shared<TManualTicks>();
    TMessageDialog dialog(TMessageKind::mkInformation, QStringLiteral("Marvick"), QStringLiteral("soon"), 5,
        nullptr, {clock, ticks});
    dialog.show();
    clock->Advance(1000);
    ticks->Tick();
    EXPECT_EQ(dialog.RemainingSeconds(), 4);
    dialog.AcceptButton()->click();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_FALSE(dialog.ClosedByItself());
    EXPECT_FALSE(ticks->Running());
}

TEST(MessageDialog, ModalInformationReturnsWhenItsTimeRunsOut)
{
    const struct {
        int seconds;
        QStringList seen; // countdown at each tick
    } cases[] = {
        {0, {}},
        {1, {QStringLiteral("This message closes in 1 s.")}},
        {2, {QStringLiteral("This message closes in 2 s."), QStringLiteral("This message closes in 1 s.")}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.seconds);
        auto clock = std::make_shared<TSettableClock>();
        const qint64 start = clock->CurrentMSecsSinceEpoch();
        auto ticks = std::make_shared<TModalTicks>(clock);
        EXPECT_TRUE(ShowInformationMessage(
            QStringLiteral("Marvick"), QStringLiteral("done"), c.seconds, nullptr, {clock, ticks}));
        EXPECT_EQ(ticks->Seen, c.seen);
        EXPECT_EQ(clock->CurrentMSecsSinceEpoch() - start, qint64(c.seconds) * 1000);
    }
}

TEST(MessageDialog, ErrorsAndConfirmationsWaitForTheUser)
{
    const struct {
        const char* name;
        TMessageKind kind;
        bool pressAccept;
        bool pressReturn;
        int expected;
    } cases[] = {
        {"error, OK", TMessageKind::mkError, true, false, QDialog::Accepted},
        {"confirmation, Yes", TMessageKind::mkConfirmation, true, false, QDialog::Accepted},
        {"confirmation, No", TMessageKind::mkConfirmation, false, false, QDialog::Rejected},
        {"confirmation, Return takes the default No", TMessageKind::mkConfirmation, false, true,
            QDialog::Rejected},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // An auto-close time is ignored for anything but information.
        TMessageDialog dialog(c.kind, QStringLiteral("Marvick"), QStringLiteral("Run again?"), 0);
        EXPECT_EQ(dialog.RemainingSeconds(), -1);
        EXPECT_EQ(dialog.CountdownText(), QString());
        EXPECT_EQ(dialog.RejectButton() != nullptr, c.kind == TMessageKind::mkConfirmation);
        dialog.show();
        QCoreApplication::processEvents();
        ASSERT_TRUE(dialog.isVisible());
        if (c.pressReturn)
            QTest::keyClick(&dialog, Qt::Key_Return);
        else
            (c.pressAccept ? dialog.AcceptButton() : dialog.RejectButton())->click();
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(dialog.result(), c.expected);
    }
}

TEST(MessageDialog, ModalConfirmationGivesTheAnswer)
{
    for (bool yes : {true, false}) {
        SCOPED_TRACE(yes);
        // Answers as soon as the modal box is up.
        QTimer answer;
        answer.setInterval(10);
        QObject::connect(&answer, &QTimer::timeout, [&answer, yes] {
            if (auto* d = qobject_cast<TMessageDialog*>(QApplication::activeModalWidget())) {
                answer.stop();
                (yes ? d->AcceptButton() : d->RejectButton())->click();
            }
        });
        answer.start();
        EXPECT_EQ(ConfirmYesNo(QStringLiteral("Marvick"), QStringLiteral("Run again?")), yes);
    }
}
