// TCheckComboBox: a combo box whose drop-down list has a check box per item
// (several can be checked); the closed box shows the checked items (see
// TCheckListModel).
#pragma once

#include "ui/CheckListModel.h"

#include <QComboBox>

namespace kes {

class TCheckComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit TCheckComboBox(QWidget* parent = nullptr);
    TCheckListModel& Items() { return FModel; }

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    TCheckListModel FModel;
};

} // namespace kes
