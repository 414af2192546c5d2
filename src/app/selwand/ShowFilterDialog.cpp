#include "app/selwand/ShowFilterDialog.h"

#include "app/selwand/UiText.h"
#include "ui_ShowFilterDialog.h"

#include <QHeaderView>

namespace kes {

TShowFilterDialog::TShowFilterDialog(QWidget* parent)
    : QDialog(parent)
    , FUi(std::make_unique<Ui::TShowFilterDialog>())
{
    FUi->setupUi(this);
    FUi->tbExts->setColumnCount(5);
    FUi->tbExts->horizontalHeader()->hide();
    FUi->tbExts->verticalHeader()->hide();
    FUi->tbExts->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    FUi->tbExts->setEditTriggers(QAbstractItemView::NoEditTriggers);
    FUi->tbExts->setShowGrid(false);
    connect(FUi->btClose, &QPushButton::clicked, this, &QDialog::accept);
    FUi->btClose->setDefault(true);
}

TShowFilterDialog::~TShowFilterDialog() = default;

void TShowFilterDialog::Show(const TFilterDisplay& d)
{
    setWindowTitle(d.Caption);
    FUi->gbSubDirs->setTitle(d.SubDirGroup);
    FUi->laSubDirs->setText(d.SubDirLabel);
    FUi->lbSubDirs->clear();
    FUi->lbSubDirs->addItems(d.SubDirs);
    FUi->laDirFilter->setText(d.DirFilterLabel);
    FUi->lbDirFilter->clear();
    FUi->lbDirFilter->addItems(d.DirFilterItems);
    FUi->gbFiles->setTitle(d.FileGroup);
    FUi->laExts->setText(d.ExtLabel);
    const QList<QStringList> rows = InColumns(d.Exts);
    FUi->tbExts->clearContents();
    FUi->tbExts->setRowCount(int(rows.size()));
    for (int r = 0; r < rows.size(); ++r) {
        for (int c = 0; c < rows[r].size(); ++c)
            FUi->tbExts->setItem(r, c, new QTableWidgetItem(rows[r][c]));
    }
    FUi->laRegular->setText(d.RegularLabel);
    FUi->laRegular->setVisible(d.RegularVisible);
    FUi->lbFileFilter->clear();
    FUi->lbFileFilter->addItems(d.FileFilterLines);
}

void TShowFilterDialog::Execute(const TMonFilter& filter, QWidget* parent)
{
    TShowFilterDialog dialog(parent);
    dialog.Show(DescribeFilter(filter));
    dialog.exec();
}

} // namespace kes
