// TTextViewer: the viewer for log files. Read-only text in a fixed-pitch
// font without wrapping; buttons for the next and previous line holding
// the error marker and the section marker, a find field (F3 / Shift+F3),
// opening another file, printing through a print preview, and "Save as
// zip" when a handler is given. Navigation is TTextNavigator's.
#pragma once

#include "ui/TextNavigator.h"

#include <QDialog>
#include <functional>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPrinter;
class QPushButton;
class QToolButton;
class QCheckBox;
class QHBoxLayout;

namespace kes {

struct TPrintSettings {
    QString PrinterName; // empty: the default printer
    bool Landscape = false;
};

struct TTextViewerOptions {
    QString Title;
    QString ErrorMarker; // e.g. "  *** "
    QString SectionMarker; // e.g. "Kestrup -"
    QString FileFilter; // "Log files|*.log|all|*.*"
    TPrintSettings Print;
    // "Save as zip": given the shown file; the button is hidden without it.
    std::function<void(QWidget* parent, const QString& fileName)> SaveAsZip;
};

class TTextViewer : public QDialog {
    Q_OBJECT
public:
    explicit TTextViewer(TTextViewerOptions options, QWidget* parent = nullptr);

    // Reads a file (UTF-8, a byte order mark optional; other bytes as
    // Latin-1); false with the reason shown in the viewer when it cannot.
    bool LoadFile(const QString& fileName);
    void SetText(const QString& text);
    QString FileName() const { return FFileName; }

    // The navigation commands; false when there is no further marker.
    bool NextError() { return GoToMarker(FOptions.ErrorMarker, true); }
    bool PreviousError() { return GoToMarker(FOptions.ErrorMarker, false); }
    bool NextSection() { return GoToMarker(FOptions.SectionMarker, true); }
    bool PreviousSection() { return GoToMarker(FOptions.SectionMarker, false); }
    bool FindText(const QString& what, bool forward);
    int CurrentLine() const;
    void GoToLine(int line);
    QString StatusText() const;
    const TTextNavigator& Navigator() const { return FNavigator; }
    QPlainTextEdit* Editor() const { return FText; }
    // Prints the text on a printer (the preview's paint request).
    void PrintTo(QPrinter* printer);
    void ShowPrintPreview();

private:
    bool GoToMarker(const QString& marker, bool forward);
    void OpenFile();
    void UpdateStatus(const QString& note = QString());
    QToolButton* AddButton(QHBoxLayout* row, const QString& icon, const QString& text,
        const QKeySequence& key, std::function<void()> action);

    TTextViewerOptions FOptions;
    TTextNavigator FNavigator;
    QString FFileName;
    QPlainTextEdit* FText = nullptr;
    QLineEdit* FFind = nullptr;
    QCheckBox* FMatchCase = nullptr;
    QLabel* FStatus = nullptr;
    QToolButton* FZip = nullptr;
};

} // namespace kes
