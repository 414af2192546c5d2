// The shared message box: information closes by itself with a visible
// countdown; errors and confirmations wait for the user.
#include "ui/MessageDialog.h"

#include "common/TestSupport.h"

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace kes;

TEST(MessageDialog, InformationCountsDownAndClosesByItself)
{
    TMessageDialog dialog(TMessageKind::mkInformation, QStringLiteral("Marvick"),
        QStringLiteral("Backup started\r\nStep: 1"), 2);
    EXPECT_EQ(dialog.Text(), QStringLiteral("Backup started\nStep: 1"));
    EXPECT_EQ(dialog.CountdownText(), QStringLiteral("This message closes in 2 s."));
    dialog.show();
    ASSERT_TRUE(kestest::WaitUntil([&] { return dialog.RemainingSeconds() == 1; }, std::chrono::seconds(5)));
    EXPECT_EQ(dialog.CountdownText(), QStringLiteral("This message closes in 1 s."));
    EXPECT_TRUE(dialog.isVisible());
    ASSERT_TRUE(kestest::WaitUntil([&] { return !dialog.isVisible(); }, std::chrono::seconds(5)));
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST(MessageDialog, ModalInformationReturnsAfterItsTime)
{
    // Zero seconds closes at once; the modal loop must end by itself.
    ShowInformationMessage(QStringLiteral("Marvick"), QStringLiteral("now"), 0);
    ShowInformationMessage(QStringLiteral("Marvick"), QStringLiteral("soon"), 1);
    SUCCEED();
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
