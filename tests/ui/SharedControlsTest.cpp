// The widget-free logic of the shared controls: placement at a control and
// at the taskbar, the clock face, the multi-check list (model tester), the
// file-dialog filters; and the info panel's texts kept while it is open.
#include "ui/CheckListModel.h"
#include "ui/ClockFace.h"
#include "ui/FileFilter.h"
#include "ui/InfoPanel.h"
#include "ui/Placement.h"

#include <QAbstractItemModelTester>
#include <QPushButton>
#include <QSignalSpy>
#include <gtest/gtest.h>

using namespace kes;

namespace {

TEST(PlacementTest, AtAControlBelowOrAboveAndInsideTheWorkArea)
{
    const QRect work(0, 0, 1280, 1000);
    struct Case {
        const char* name;
        QRect control;
        QSize window;
        QPoint expected;
    } cases[] = {
        {"below", QRect(100, 100, 80, 30), QSize(300, 200), QPoint(100, 130)},
        {"no room below: above", QRect(100, 900, 80, 30), QSize(300, 200), QPoint(100, 700)},
        {"near the right edge", QRect(1200, 100, 80, 30), QSize(300, 200), QPoint(980, 130)},
        {"taller than both sides: kept inside", QRect(100, 400, 80, 30), QSize(300, 990), QPoint(100, 10)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(PlaceAtControl(c.control, c.window, work), c.expected);
    }
}

TEST(PlacementTest, AtTheCornerNextToTheTaskbar)
{
    const QRect screen(0, 0, 1280, 1024);
    const QSize panel(400, 300);
    struct Case {
        const char* name;
        QRect available;
        QPoint expected;
    } cases[] = {
        {"taskbar at the bottom", QRect(0, 0, 1280, 984), QPoint(872, 676)},
        {"taskbar on top", QRect(0, 40, 1280, 984), QPoint(872, 48)},
        {"taskbar on the left", QRect(60, 0, 1220, 1024), QPoint(68, 716)},
        {"no taskbar", QRect(0, 0, 1280, 1024), QPoint(872, 716)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(PlaceAtTaskbarCorner(screen, c.available, panel), c.expected);
    }
}

TEST(ClockFaceTest, TheHandGoesRoundOncePerIntervalAndTurnsRedWithFiles)
{
    TClockFace face;
    face.SetInterval(1800);
    struct Case {
        int position;
        double angle;
    } cases[] = {{0, 0.0}, {450, 90.0}, {900, 180.0}, {1800, 360.0}, {5000, 360.0}, {-5, 0.0}};
    for (const Case& c : cases) {
        face.SetPosition(c.position);
        EXPECT_DOUBLE_EQ(face.HandAngle(), c.angle) << c.position;
    }
    // Without an interval (periodic backups off) the hand stays up.
    face.SetInterval(0);
    EXPECT_DOUBLE_EQ(face.HandAngle(), 0.0);
    EXPECT_EQ(face.HandColor().green() > face.HandColor().red(), true);
    face.SetHasFiles(true);
    EXPECT_EQ(face.HandColor().red() > face.HandColor().green(), true);
    EXPECT_EQ(face.FaceColor(false), QColor(Qt::white));
}

TEST(CheckListModelTest, ChecksAndSummary)
{
    TCheckListModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    model.SetEmptyText(QStringLiteral("none"));
    model.SetItems({QStringLiteral("Mon"), QStringLiteral("Tue"), QStringLiteral("Wed")});
    EXPECT_EQ(model.Summary(), QStringLiteral("none"));
    QSignalSpy changed(&model, &TCheckListModel::CheckedChanged);
    EXPECT_TRUE(model.setData(model.index(2), Qt::Checked, Qt::CheckStateRole));
    EXPECT_TRUE(model.setData(model.index(0), Qt::Checked, Qt::CheckStateRole));
    EXPECT_EQ(changed.count(), 2);
    EXPECT_EQ(model.Summary(), QStringLiteral("Mon, Wed"));
    EXPECT_EQ(model.CheckedMask(), 0b101u);
    model.SetCheckedMask(0b010);
    EXPECT_EQ(model.Summary(), QStringLiteral("Tue"));
    EXPECT_EQ(model.data(model.index(1), Qt::CheckStateRole).value<Qt::CheckState>(), Qt::Checked);
}

TEST(FileFilterTest, PairsBecomeQtFilters)
{
    EXPECT_EQ(QtFileFilter(QStringLiteral("Backup tasks|*.buj|all|*.*")),
        QStringLiteral("Backup tasks (*.buj);;all (*.*)"));
    EXPECT_EQ(QtFileFilter(QStringLiteral("Pictures|*.png;*.jpg")), QStringLiteral("Pictures (*.png *.jpg)"));
    EXPECT_EQ(QtFileFilter(QStringLiteral("odd|")), QStringLiteral("odd ()"));
    EXPECT_EQ(QtFileFilter(QString()), QString());
}

TEST(InfoPanelTest, TextsChangeWhileOpenAndButtonsTellTheirResult)
{
    TInfoPanel panel;
    panel.SetText(QStringLiteral("Directories to be monitored\r\n1st Directory: /a"));
    EXPECT_EQ(panel.Text(), QStringLiteral("Directories to be monitored\n1st Directory: /a"));
    panel.show();
    panel.SetStatus(QStringLiteral("Next backup: 29 m"), QStringLiteral("4 files"));
    panel.SetFiles({QStringLiteral("01: a.txt")});
    EXPECT_EQ(panel.NextBackupText(), QStringLiteral("Next backup: 29 m"));
    EXPECT_EQ(panel.Files(), QStringList({QStringLiteral("01: a.txt")}));
    QSignalSpy chosen(&panel, &TInfoPanel::Chosen);
    panel.SetKeepsOpen(TInfoPanel::irShowFiles, true);
    panel.Button(TInfoPanel::irShowFiles)->click();
    EXPECT_TRUE(panel.isVisible());
    panel.Button(TInfoPanel::irEdit)->click();
    EXPECT_FALSE(panel.isVisible());
    EXPECT_EQ(panel.Result(), TInfoPanel::irEdit);
    ASSERT_EQ(chosen.count(), 2);
    EXPECT_EQ(chosen[0][0].value<TInfoPanel::TResult>(), TInfoPanel::irShowFiles);
}

} // namespace
