// The small shared dialogs: a list window and a selection dialog placed at
// a control, a Yes/No question placed at a control, a text input, a
// directory picker, a hint message shown beside a control for a moment,
// and the start screen that closes by itself.
#pragma once

#include <QDialog>
#include <QStringList>

class QLabel;
class QListWidget;
class QTimer;
class QPushButton;

namespace kes {

// Moves a top-level window next to a control (below it, or above when
// there is no room), inside the control's screen.
void MoveToControl(QWidget* window, const QWidget* control);

// A window that shows lines of text, placed at a control; closed by its
// button or Escape.
class TListWindow : public QDialog {
    Q_OBJECT
public:
    TListWindow(const QString& title, const QStringList& lines, QWidget* parent = nullptr);
    QStringList Lines() const;
    void SetLines(const QStringList& lines);

private:
    QListWidget* FList = nullptr;
};
// Shows the lines modally at the control.
void ShowListAt(const QString& title, const QStringList& lines, QWidget* control);

// TSelectListItemDialog: choose one item of a list (title, description,
// the items; OK is enabled when an item is selected; a double click
// chooses).
class TSelectListItemDialog : public QDialog {
    Q_OBJECT
public:
    TSelectListItemDialog(const QString& title, const QString& description, const QStringList& items,
        QWidget* parent = nullptr);
    int SelectedIndex() const;
    void SetSelectedIndex(int index);
    QListWidget* List() const { return FList; }

private:
    QListWidget* FList = nullptr;
    QPushButton* FOk = nullptr;
};
// The chosen index, or -1 when cancelled; placed at the control when one
// is given.
int SelectListItem(const QString& title, const QString& description, const QStringList& items,
    QWidget* control = nullptr, int preselected = 0);

// Yes/No (No is the default) placed at a control.
bool ConfirmYesNoAt(const QString& title, const QString& text, QWidget* control);

// A text input: false when cancelled. With password the text is hidden.
bool InputText(
    QWidget* parent, const QString& title, const QString& prompt, QString& value, bool password = false);

// A directory picker; empty when cancelled.
QString SelectDirectory(QWidget* parent, const QString& title, const QString& start);

// A small hint beside a control that closes by itself after `ms` (or on a
// click).
void ShowHint(QWidget* control, const QString& text, int ms = 4000);

// The start screen: logo, program name and version text; closes and frees
// itself after `ms`.
class TStartScreen : public QWidget {
    Q_OBJECT
public:
    TStartScreen(const QString& title, const QString& versionText, int ms = 3000);
    QString VersionText() const;

private:
    QLabel* FVersion = nullptr;
};

} // namespace kes
