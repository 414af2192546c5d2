#include "ui/CheckListModel.h"

namespace kes {

TCheckListModel::TCheckListModel(QObject* parent)
    : QAbstractListModel(parent)
{
}

void TCheckListModel::SetItems(const QStringList& texts)
{
    beginResetModel();
    FTexts = texts;
    FChecked = QList<bool>(texts.size(), false);
    endResetModel();
    emit CheckedChanged();
}

void TCheckListModel::SetChecked(int row, bool on)
{
    if (row < 0 || row >= FChecked.size() || FChecked[row] == on)
        return;
    FChecked[row] = on;
    emit dataChanged(index(row), index(row), {Qt::CheckStateRole});
    emit CheckedChanged();
}

bool TCheckListModel::IsChecked(int row) const
{
    return row >= 0 && row < FChecked.size() && FChecked[row];
}

quint64 TCheckListModel::CheckedMask() const
{
    quint64 mask = 0;
    for (int i = 0; i < FChecked.size() && i < 64; ++i)
        mask |= FChecked[i] ? quint64(1) << i : 0;
    return mask;
}

void TCheckListModel::SetCheckedMask(quint64 mask)
{
    for (int i = 0; i < FChecked.size(); ++i)
        SetChecked(i, i < 64 && (mask >> i) & 1);
}

QString TCheckListModel::Summary() const
{
    QStringList checked;
    for (int i = 0; i < FTexts.size(); ++i) {
        if (FChecked[i])
            checked << FTexts[i];
    }
    return checked.isEmpty() ? FEmptyText : checked.join(QStringLiteral(", "));
}

int TCheckListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(FTexts.size());
}

QVariant TCheckListModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    if (role == Qt::DisplayRole)
        return FTexts[index.row()];
    if (role == Qt::CheckStateRole)
        return FChecked[index.row()] ? Qt::Checked : Qt::Unchecked;
    return {};
}

bool TCheckListModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (role != Qt::CheckStateRole
        || !checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return false;
    SetChecked(index.row(), value.value<Qt::CheckState>() == Qt::Checked);
    return true;
}

Qt::ItemFlags TCheckListModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsUserCheckable | Qt::ItemNeverHasChildren;
}

} // namespace kes
