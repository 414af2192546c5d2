#include "ui/DisplayStyle.h"

#include <QApplication>
#include <QStyle>
#include <QStyleFactory>

namespace kes {

namespace {

struct TStyleState {
    QString StartName;
    QString ActiveName;
};

TStyleState& State()
{
    static TStyleState state;
    if (state.StartName.isEmpty() && QApplication::style()) {
        state.StartName = QApplication::style()->name();
        state.ActiveName = state.StartName;
    }
    return state;
}

} // namespace

QString DarkStyleName()
{
    return QStringLiteral("Fusion Dark");
}

QPalette DarkPalette()
{
    const QColor window(45, 45, 48);
    const QColor base(30, 30, 30);
    const QColor text(230, 230, 230);
    const QColor disabledText(128, 128, 128);
    const QColor highlight(0, 120, 215);
    QPalette p;
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, window);
    p.setColor(QPalette::ToolTipBase, window);
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, disabledText);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, window);
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, Qt::red);
    p.setColor(QPalette::Light, QColor(70, 70, 74));
    p.setColor(QPalette::Midlight, QColor(60, 60, 64));
    p.setColor(QPalette::Mid, QColor(40, 40, 42));
    p.setColor(QPalette::Dark, QColor(25, 25, 26));
    p.setColor(QPalette::Shadow, Qt::black);
    p.setColor(QPalette::Link, QColor(80, 160, 255));
    p.setColor(QPalette::LinkVisited, QColor(160, 120, 255));
    p.setColor(QPalette::Highlight, highlight);
    p.setColor(QPalette::HighlightedText, Qt::white);
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, disabledText);
    p.setColor(QPalette::Disabled, QPalette::Highlight, QColor(70, 70, 74));
    return p;
}

QString ActiveStyleName()
{
    return State().ActiveName;
}

bool ApplyDisplayStyle(TDisplayStyle style)
{
    TStyleState& state = State();
    const bool dark = style == TDisplayStyle::dsDark;
    const QString wanted = dark ? DarkStyleName() : state.StartName;
    if (!StyleSwitchNeeded(state.ActiveName, wanted))
        return false;
    QStyle* qstyle = QStyleFactory::create(dark ? QStringLiteral("Fusion") : state.StartName);
    if (!qstyle)
        return false;
    QApplication::setStyle(qstyle);
    QApplication::setPalette(dark ? DarkPalette() : qstyle->standardPalette());
    state.ActiveName = wanted;
    return true;
}

} // namespace kes
