// The programs' message box: information that closes by itself after a
// number of seconds (with a visible countdown), errors and Yes/No
// confirmations that wait for the user.
#pragma once

#include "frame/MessageKind.h"

#include <QDialog>
#include <QString>

class QLabel;
class QPushButton;
class QTimer;

namespace kes {

class TMessageDialog : public QDialog {
    Q_OBJECT
public:
    // autoCloseSeconds applies to information messages only: 0 closes the
    // message at once, a negative value keeps it open until the user closes
    // it. Line breaks may be "\n" or "\r\n".
    TMessageDialog(TMessageKind kind, const QString& title, const QString& text, int autoCloseSeconds = -1,
        QWidget* parent = nullptr);

    TMessageKind Kind() const { return m_kind; }
    QString Text() const;
    // Seconds until the message closes by itself; -1 when it does not.
    int RemainingSeconds() const { return m_remaining; }
    // The countdown as shown below the text (empty when there is none).
    QString CountdownText() const;
    // Information and error: the OK button; confirmation: Yes and No.
    QPushButton* AcceptButton() const { return m_accept; }
    QPushButton* RejectButton() const { return m_reject; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void Tick();
    void UpdateCountdown();

    TMessageKind m_kind;
    QLabel* m_text = nullptr;
    QLabel* m_countdown = nullptr;
    QPushButton* m_accept = nullptr;
    QPushButton* m_reject = nullptr;
    QTimer* m_timer = nullptr;
    int m_remaining = -1;
};

// Modal helpers.
void ShowInformationMessage(
    const QString& title, const QString& text, int autoCloseSeconds, QWidget* parent = nullptr);
void ShowErrorMessage(const QString& title, const QString& text, QWidget* parent = nullptr);
// True when the user answers Yes. No is the default button.
bool ConfirmYesNo(const QString& title, const QString& text, QWidget* parent = nullptr);

} // namespace kes
