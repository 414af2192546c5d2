// Applying the light and dark display styles to a real application.
#include "ui/DisplayStyle.h"

#include <QApplication>
#include <QStyle>

#include <gtest/gtest.h>

using namespace kes;

TEST(DisplayStyle, DarkAndBackToTheStartStyle)
{
    const QString start = QApplication::style()->name();
    const QColor lightWindow = QApplication::palette().color(QPalette::Window);
    EXPECT_EQ(ActiveStyleName(), start);
    EXPECT_FALSE(ApplyDisplayStyle(TDisplayStyle::dsLight)) << "already active";

    EXPECT_TRUE(ApplyDisplayStyle(TDisplayStyle::dsDark));
    EXPECT_EQ(QApplication::style()->name().toLower(), "fusion");
    EXPECT_EQ(ActiveStyleName(), DarkStyleName());
    EXPECT_LT(QApplication::palette().color(QPalette::Window).lightness(), 100);
    EXPECT_GT(QApplication::palette().color(QPalette::WindowText).lightness(), 180);
    EXPECT_FALSE(ApplyDisplayStyle(TDisplayStyle::dsDark)) << "same name: no switch";

    EXPECT_TRUE(ApplyDisplayStyle(TDisplayStyle::dsLight));
    EXPECT_EQ(QApplication::style()->name().toLower(), start.toLower());
    EXPECT_EQ(QApplication::palette().color(QPalette::Window), lightWindow);
}
