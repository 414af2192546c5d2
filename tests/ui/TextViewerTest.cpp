// The text viewer: marker navigation and find (TTextNavigator, a table per
// behaviour), the viewer bound to it on a real log file, and printing into
// a real PDF.
#include "ui/TextViewer.h"
#include "common/TestSupport.h"
#include "ui/TextNavigator.h"

#include <QPlainTextEdit>
#include <QPrinter>
#include <QTemporaryDir>
#include <QToolButton>

using namespace kes;

namespace {

const char* const kLog = "Kestrup - pass 1\r\n"
                         "a copied\r\n"
                         "  *** disk full\r\n"
                         " *** 01: Drive \"x\" not ready!\r\n"
                         "Kestrup - pass 2\r\n"
                         "b copied\r\n"
                         "  *** access denied\r\n";

TEST(TextNavigatorTest, MarkersAreFoundLineByLineWithoutWrapping)
{
    TTextNavigator nav;
    nav.SetText(QString::fromUtf8(kLog));
    ASSERT_EQ(nav.LineCount(), 7);
    const QString error = QStringLiteral("  *** ");
    const QString section = QStringLiteral("Kestrup -");
    struct Case {
        const QString* marker;
        int from;
        bool forward;
        int expected;
    } cases[] = {
        {&error, -1, true, 2}, // from before the first line
        {&error, 2, true, 6}, // the one-blank " *** " line is not an error
        {&error, 6, true, -1}, // no wrap at the end
        {&error, 7, false, 6}, // from after the last line
        {&error, 6, false, 2},
        {&error, 2, false, -1},
        {&section, 0, true, 4},
        {&section, 4, false, 0},
        {&section, 3, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.marker->toStdString() + " from " + std::to_string(c.from));
        EXPECT_EQ(nav.FindMarker(*c.marker, c.from, c.forward), c.expected);
    }
    EXPECT_EQ(nav.CountMarker(error), 2);
    EXPECT_EQ(nav.FindMarker(QString(), 0, true), -1);
}

TEST(TextNavigatorTest, FindWrapsOnceAndHonoursCase)
{
    TTextNavigator nav;
    nav.SetText(QStringLiteral("Alpha beta\nBETA gamma\nbeta"));
    struct Case {
        qsizetype from;
        bool forward, caseSensitive;
        qsizetype expected;
    } cases[] = {
        {0, true, false, 6},
        {7, true, false, 11}, // "BETA" without regard to case
        {7, true, true, 22}, // only the exact "beta" of the last line
        {23, true, true, 6}, // wraps to the first
        {6, false, false, 22}, // backwards from the first wraps to the last
        {22, false, true, 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.from);
        EXPECT_EQ(nav.Find(QStringLiteral("beta"), c.from, c.forward, c.caseSensitive), c.expected);
    }
    EXPECT_EQ(nav.Find(QStringLiteral("delta"), 0, true, false), -1);
    EXPECT_EQ(nav.LineOf(11), 1);
    EXPECT_EQ(nav.LineOf(22), 2);
    EXPECT_EQ(nav.LineStart(2), 22);
}

TEST(TextViewerTest, NavigatesAFileAndPrintsIt)
{
    QTemporaryDir tmp;
    const QString file = tmp.path() + QStringLiteral("/Selwand 2026-06-01.log");
    kestest::WriteBytes(file, QByteArray("\xEF\xBB\xBF") + kLog);
    TTextViewerOptions options;
    options.Title = QStringLiteral("Selwand");
    options.ErrorMarker = QStringLiteral("  *** ");
    options.SectionMarker = QStringLiteral("Kestrup -");
    TTextViewer viewer(options);
    ASSERT_TRUE(viewer.LoadFile(file));
    // The byte order mark is no character of the text.
    EXPECT_TRUE(viewer.Editor()->toPlainText().startsWith(QStringLiteral("Kestrup - pass 1\n")));
    EXPECT_EQ(viewer.CurrentLine(), 0);
    EXPECT_TRUE(viewer.NextError());
    EXPECT_EQ(viewer.CurrentLine(), 2);
    EXPECT_TRUE(viewer.NextError());
    EXPECT_EQ(viewer.CurrentLine(), 6);
    EXPECT_FALSE(viewer.NextError());
    EXPECT_EQ(viewer.CurrentLine(), 6);
    EXPECT_TRUE(viewer.StatusText().contains(QStringLiteral("No further line below.")))
        << viewer.StatusText().toStdString();
    EXPECT_TRUE(viewer.PreviousSection());
    EXPECT_EQ(viewer.CurrentLine(), 4);
    EXPECT_TRUE(viewer.PreviousError());
    EXPECT_EQ(viewer.CurrentLine(), 2);
    EXPECT_TRUE(viewer.FindText(QStringLiteral("ACCESS"), true));
    EXPECT_EQ(viewer.CurrentLine(), 6);
    EXPECT_EQ(viewer.Editor()->textCursor().selectedText(), QStringLiteral("access"));
    EXPECT_FALSE(viewer.FindText(QStringLiteral("nowhere"), true));
    EXPECT_EQ(viewer.CurrentLine(), 6);

    // A missing file is said in the viewer; the text shown stays.
    EXPECT_FALSE(viewer.LoadFile(tmp.path() + QStringLiteral("/missing.log")));
    EXPECT_TRUE(viewer.StatusText().contains(QStringLiteral("cannot be read")))
        << viewer.StatusText().toStdString();
    EXPECT_EQ(viewer.FileName(), file);

    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    const QString pdf = tmp.path() + QStringLiteral("/log.pdf");
    printer.setOutputFileName(pdf);
    viewer.PrintTo(&printer);
    const QByteArray bytes = kestest::ReadBytes(pdf);
    EXPECT_TRUE(bytes.startsWith("%PDF-"));
    EXPECT_TRUE(bytes.contains("/Type /Page") || bytes.contains("/Type/Page"));
}

TEST(TextViewerTest, SaveAsZipIsOfferedOnlyWithAHandler)
{
    TTextViewerOptions options;
    TTextViewer without(options);
    QString saved;
    options.SaveAsZip = [&](QWidget*, const QString& name) { saved = name; };
    TTextViewer with(options);
    auto zipButton = [](TTextViewer& v) {
        for (QToolButton* b : v.findChildren<QToolButton*>()) {
            if (b->text().contains(QStringLiteral("zip")))
                return b;
        }
        return static_cast<QToolButton*>(nullptr);
    };
    ASSERT_NE(zipButton(without), nullptr);
    EXPECT_TRUE(zipButton(without)->isHidden());
    ASSERT_NE(zipButton(with), nullptr);
    EXPECT_FALSE(zipButton(with)->isHidden());
    with.SetText(QStringLiteral("x"));
    zipButton(with)->click();
    EXPECT_EQ(saved, with.FileName());
}

} // namespace
