// Takes the screenshots of the README: Selwand's main window, the info
// panel of the notification area, the filter dialog and the log viewer, on
// an example tree (three monitored folders, pending files, a log file),
// grabbed from the X server it runs on (scripts/screenshots.sh starts
// Xvfb).
//
//   selwand_screenshots <output folder> light|dark
#include "app/selwand/MainWindow.h"
#include "app/selwand/ShowFilterDialog.h"
#include "app/selwand/Tray.h"
#include "frame/StartUp.h"
#include "ui/DisplayStyle.h"
#include "ui/IconSet.h"
#include "ui/InfoPanel.h"
#include "ui/TextViewer.h"
#include "watchdog/MainWindowController.h"
#include "watchdog/MonTask.h"
#include "watchdog/MonitorController.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPixmap>
#include <QScreen>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <cstdio>

namespace {

void Write(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(bytes);
}

QByteArray Utf16(const QString& text)
{
    QByteArray bytes("\xFF\xFE", 2);
    QString crlf = text;
    crlf.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    bytes.append(reinterpret_cast<const char*>(crlf.utf16()), crlf.size() * 2);
    return bytes;
}

void Settle(int ms = 300)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
}

bool Grab(QWidget* widget, const QString& file)
{
    widget->raise();
    Settle();
    QPixmap shot = widget->screen()->grabWindow(widget->winId());
    if (shot.isNull())
        shot = widget->grab();
    const bool ok = shot.save(file);
    std::printf("%s %s\n", ok ? "wrote" : "could not write", qPrintable(file));
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: selwand_screenshots <output folder> light|dark\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    const bool dark = QString::fromLocal8Bit(argv[2]) == QStringLiteral("dark");
    const QString variant = dark ? QStringLiteral("dark") : QStringLiteral("light");
    kes::StartProgramFrame(argc, argv, QStringLiteral("selwand"));

    // The example: three folders of a user, their task files, a few
    // pending files and a log file with two passes and one error.
    // Short paths read better in a picture: the tree is /tmp/ann.
    const QString home = QStringLiteral("/tmp/ann");
    QDir(home).removeRecursively();
    struct TCleanUp {
        QString Dir;
        ~TCleanUp() { QDir(Dir).removeRecursively(); }
    } cleanUp {home};
    QTemporaryDir tmp;
    const QString docs = home + QStringLiteral("/Documents");
    const QString photos = home + QStringLiteral("/Pictures/Holidays");
    const QString mail = home + QStringLiteral("/Mail");
    const QString dest = home + QStringLiteral("/Backup");
    const QString jobs = home + QStringLiteral("/Documents/Kesmo");
    const struct {
        QString dir, file, keys;
    } tasks[] = {
        {docs, jobs + QStringLiteral("/Documents.buj"),
            QStringLiteral(
                "Compress=1\nDirCount=1\n[Dir000]\nSource=%1\nBackupMode=1\nExclude=tmp,bak\nFilterMode=2\n"
                "Filter=~*|*.part\nIncludeDirs=0\nSubCount=1\nSubDir000=\"Old "
                "stuff\"\nDirFilter=cache,.git\n")},
        {photos, jobs + QStringLiteral("/Photos.buj"),
            QStringLiteral("DirCount=1\n[Dir000]\nSource=%1\nBackupMode=0\nInclude=jpg,png,raw,heic\n")},
        {mail, jobs + QStringLiteral("/Mail.buj"),
            QStringLiteral("Compress=1\nCompressAsZip=1\nDirCount=1\n[Dir000]\nSource=%1\nBackupMode=1\n")},
    };
    QString ini
        = QStringLiteral("[Config]\nTop=40\nLeft=40\nInterval=1800\nSysTray=1\nWriteLog=1\nCount=3\n");
    for (int i = 0; i < 3; ++i) {
        QDir().mkpath(tasks[i].dir);
        Write(tasks[i].file,
            Utf16(QStringLiteral("[Global]\nDestination=%1\nDestMode=1\n").arg(dest)
                + tasks[i].keys.arg(tasks[i].dir)));
        ini += QStringLiteral("[Monitor%1]\nBackupTask=%2\nDirectory=%3\nRetainBak=%4\nEnabled=%5\n")
                   .arg(i, 2, 10, QChar(u'0'))
                   .arg(tasks[i].file, tasks[i].dir)
                   .arg(i == 0 ? 3 : 1)
                   .arg(i == 2 ? 0 : 1);
    }
    const QString settings = home + QStringLiteral("/.config/Kesmo6/");
    Write(settings + QStringLiteral("Selwand.ini"), Utf16(ini));
    const QString logFile = settings + QStringLiteral("Selwand 2026-06-01.log");
    QString log;
    for (int pass = 0; pass < 2; ++pass) {
        log += QStringLiteral("Kestrup - Selwand (Version 1.1.0) - %1:00\n").arg(9 + pass);
        for (int f = 0; f < 6; ++f)
            log += QStringLiteral("01.06.26 %1:00:%2 - 01: %3/Report %4.odt => %5%3/\n")
                       .arg(9 + pass)
                       .arg(f * 7, 2, 10, QChar(u'0'))
                       .arg(docs)
                       .arg(f + 1)
                       .arg(dest);
        if (pass == 1)
            log += QStringLiteral("  *** The file is locked by another process (0x00000021)\n");
        log += QStringLiteral("01.06.26 %1:01:10 - 02: %2/Beach.jpg => %3%2/ (+1)\n")
                   .arg(9 + pass)
                   .arg(photos, dest);
    }
    Write(logFile, QByteArray("\xEF\xBB\xBF") + log.toUtf8());

    kes::ApplyDisplayStyle(dark ? kes::TDisplayStyle::dsDark : kes::TDisplayStyle::dsLight);
    kes::TIconSet::Load(kes::TIconStyle::isOwn, dark);

    kes::TSelwandSetup setup;
    setup.Location.AppPath = settings;
    setup.Location.SettingsDir = settings;
    setup.Location.IniName = settings + QStringLiteral("Selwand.ini");
    setup.Location.KesmoIni = settings + QStringLiteral("Kesmo.ini");
    setup.Location.JobDir = jobs + u'/';
    setup.LanguageCode = kes::LanguageCode();
    kes::TMonitorController monitor(setup);
    monitor.SetAutoTick(false);
    monitor.Load();
    kes::TMainWindowController controller(monitor);
    controller.SetAutostartPath(tmp.path() + QStringLiteral("/autostart/Selwand.desktop"));
    kes::TMainWindow window(controller);
    window.ShowMainWindow();
    monitor.StartMonitoring();
    // Changes arrive while monitoring runs; one pass backs them up, then
    // more changes wait for the next one.
    for (const char* name : {"Minutes.odt", "Budget 2026.ods"})
        Write(docs + u'/' + QString::fromUtf8(name), "text");
    Write(photos + QStringLiteral("/Harbour.jpg"), "jpg");
    Settle(800);
    monitor.RequestInstantBackup();
    monitor.Tick();
    for (int i = 0; i < 100 && monitor.RunningBackups() > 0; ++i)
        Settle(50);
    monitor.Tick();
    for (const char* name : {"Letter to the bank.odt", "Tax 2025/receipts.pdf", "Notes.txt"})
        Write(docs + u'/' + QString::fromUtf8(name), "text");
    Write(photos + QStringLiteral("/Beach.jpg"), "jpg");
    Settle(800);
    for (int i = 0; i < 42; ++i)
        monitor.Tick();
    window.resize(kes::TMainWindowController::DesignSize() + QSize(64, 40));
    bool ok = Grab(&window, out + QStringLiteral("/selwand-main-") + variant + QStringLiteral(".png"));

    window.Tray().ShowMonitorInfo();
    ok = Grab(window.Tray().InfoPanel(),
             out + QStringLiteral("/selwand-info-panel-") + variant + QStringLiteral(".png"))
        && ok;
    window.Tray().InfoPanel()->close();

    kes::TShowFilterDialog filter(&window);
    filter.Show(kes::DescribeFilter(monitor.Tasks()[0]->MonFilter));
    filter.show();
    ok = Grab(&filter, out + QStringLiteral("/selwand-filter-") + variant + QStringLiteral(".png")) && ok;
    filter.close();

    kes::TTextViewerOptions options;
    options.Title = monitor.ProgVersName();
    options.ErrorMarker = QStringLiteral("  *** ");
    options.SectionMarker = QStringLiteral("Kestrup -");
    options.FileFilter = QStringLiteral("Log files|*.log|all|*.*");
    kes::TTextViewer viewer(options, &window);
    viewer.LoadFile(logFile);
    viewer.resize(900, 420);
    viewer.show();
    viewer.NextError();
    ok = Grab(&viewer, out + QStringLiteral("/selwand-log-viewer-") + variant + QStringLiteral(".png")) && ok;
    viewer.close();

    monitor.StopMonitoring();
    return ok ? 0 : 1;
}
