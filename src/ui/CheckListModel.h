// TCheckListModel: the items of a multi-check combo box, without widgets.
// Each item has a text and a check mark; the summary is the checked texts
// joined with ", " (or the empty text when none is checked).
#pragma once

#include <QAbstractListModel>
#include <QList>
#include <QStringList>

namespace kes {

class TCheckListModel : public QAbstractListModel {
    Q_OBJECT
public:
    explicit TCheckListModel(QObject* parent = nullptr);

    void SetItems(const QStringList& texts);
    QStringList Items() const { return FTexts; }
    void SetChecked(int row, bool on);
    bool IsChecked(int row) const;
    // The checked rows as bits (row 0 = bit 0), for up to 64 items.
    quint64 CheckedMask() const;
    void SetCheckedMask(quint64 mask);
    QString Summary() const;
    void SetEmptyText(const QString& text) { FEmptyText = text; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

signals:
    void CheckedChanged();

private:
    QStringList FTexts;
    QList<bool> FChecked;
    QString FEmptyText;
};

} // namespace kes
