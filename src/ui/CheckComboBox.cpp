#include "ui/CheckComboBox.h"

#include <QAbstractItemView>
#include <QMouseEvent>
#include <QStylePainter>

namespace kes {

TCheckComboBox::TCheckComboBox(QWidget* parent)
    : QComboBox(parent)
{
    setModel(&FModel);
    view()->viewport()->installEventFilter(this);
    view()->installEventFilter(this);
    connect(&FModel, &TCheckListModel::CheckedChanged, this, [this] {
        setAccessibleDescription(FModel.Summary());
        update();
    });
}

void TCheckComboBox::paintEvent(QPaintEvent*)
{
    QStylePainter painter(this);
    QStyleOptionComboBox option;
    initStyleOption(&option);
    option.currentText = FModel.Summary();
    option.currentIcon = QIcon();
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    painter.drawControl(QStyle::CE_ComboBoxLabel, option);
}

bool TCheckComboBox::eventFilter(QObject* watched, QEvent* event)
{
    // A click or Space in the list toggles the item and keeps the list open.
    if (watched == view()->viewport() && event->type() == QEvent::MouseButtonRelease) {
        const QModelIndex index = view()->indexAt(static_cast<QMouseEvent*>(event)->position().toPoint());
        if (index.isValid())
            FModel.SetChecked(index.row(), !FModel.IsChecked(index.row()));
        return true;
    }
    if (watched == view() && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Space) {
            const int row = view()->currentIndex().row();
            FModel.SetChecked(row, !FModel.IsChecked(row));
            return true;
        }
    }
    return QComboBox::eventFilter(watched, event);
}

} // namespace kes
