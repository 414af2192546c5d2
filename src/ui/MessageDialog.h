// The programs' message box: information that closes by itself after a
// number of seconds (with a visible countdown), errors and Yes/No
// confirmations that wait for the user.
//
// The countdown reads the time from a clock and looks again at every tick
// of a tick source (a one-second timer by default); tests pass a settable
// clock and ticks of their own, so no test waits in real time.
#pragma once

#include "frame/Clock.h"
#include "frame/MessageKind.h"

#include <QDialog>
#include <QString>
#include <functional>
#include <memory>

class QLabel;
class QPushButton;

namespace kes {

// Calls back about once a second while started.
class ITickSource {
public:
    virtual ~ITickSource() = default;
    virtual void Start(std::function<void()> tick) = 0;
    virtual void Stop() = 0;
};

// What an information message counts down with.
struct TCountdownSeam {
    TClockPtr Clock; // null: the system clock
    std::shared_ptr<ITickSource> Ticks; // null: a one-second timer
};

class TMessageDialog : public QDialog {
    Q_OBJECT
public:
    // autoCloseSeconds applies to information messages only: 0 closes the
    // message at once, a negative value keeps it open until the user closes
    // it. Line breaks may be "\n" or "\r\n".
    TMessageDialog(TMessageKind kind, const QString& title, const QString& text, int autoCloseSeconds = -1,
        QWidget* parent = nullptr, TCountdownSeam countdown = {});
    ~TMessageDialog() override;

    TMessageKind Kind() const { return FKind; }
    QString Text() const;
    // Seconds until the message closes by itself; -1 when it does not.
    int RemainingSeconds() const { return FRemaining; }
    // The countdown as shown below the text (empty when there is none).
    QString CountdownText() const;
    // Information and error: the OK button; confirmation: Yes and No.
    QPushButton* AcceptButton() const { return FAccept; }
    QPushButton* RejectButton() const { return FReject; }
    // The message closed because its time ran out.
    bool ClosedByItself() const { return FClosedByItself; }

    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void Tick();
    void CloseByItself();
    void UpdateCountdown();

    TMessageKind FKind;
    QLabel* FText = nullptr;
    QLabel* FCountdown = nullptr;
    QPushButton* FAccept = nullptr;
    QPushButton* FReject = nullptr;
    TClockPtr FClock;
    std::shared_ptr<ITickSource> FTicks; // information with a time only
    qint64 FDeadline = 0; // ms since the epoch, once shown
    int FSeconds = -1;
    int FRemaining = -1;
    bool FClosedByItself = false;
};

// Modal helpers. The information message returns true when it closed by
// itself.
bool ShowInformationMessage(const QString& title, const QString& text, int autoCloseSeconds,
    QWidget* parent = nullptr, TCountdownSeam countdown = {});
void ShowErrorMessage(const QString& title, const QString& text, QWidget* parent = nullptr);
// True when the user answers Yes. No is the default button.
bool ConfirmYesNo(const QString& title, const QString& text, QWidget* parent = nullptr);

} // namespace kes
