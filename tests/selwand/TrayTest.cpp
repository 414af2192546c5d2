// Selwand's notification-area icon for real: the program runs on a private
// Xvfb display. With a tray host (trayer) its icon appears when it goes
// into the background; a left click opens the info panel, the panel's
// "Edit monitoring" brings the window back, the right-click menu's "Quit
// monitoring" ends the program - clicked with xdotool. Without a tray host
// the window is minimised instead of hidden and the balloon's text reaches
// the notification server (dunst on a private D-Bus session).
#include "common/TestSupport.h"
#include "watchdog/SelwandTestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <csignal>
#include <memory>

using kestest::WaitUntil;

namespace {

struct TXWindow {
    QString Id;
    QString Name;
    int Width = 0;
    int Height = 0;
};

class TrayTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        root = tmp.path();
        data = root + QStringLiteral("/data");
        QDir().mkpath(data);
        QDir().mkpath(root + QStringLiteral("/cfg/Kesmo6"));
        const QString task = root + QStringLiteral("/task.buj");
        selwandtest::WriteTaskFile(task, root + QStringLiteral("/dest"), data);
        const QString ini
            = QStringLiteral("[Config]\nInterval=-1\nCount=1\n[Monitor00]\nBackupTask=%1\nDirectory=%2\n"
                             "Enabled=1\n")
                  .arg(task, data);
        kestest::WriteBytes(IniName(), kestest::Utf16LeWithBom(ini));
    }
    void TearDown() override
    {
        if (selwand.state() != QProcess::NotRunning) {
            selwand.kill();
            selwand.waitForFinished(5000);
        }
        for (auto it = helpers.rbegin(); it != helpers.rend(); ++it) {
            (*it)->terminate();
            if (!(*it)->waitForFinished(3000))
                (*it)->kill();
            (*it)->waitForFinished(3000);
        }
    }
    QString IniName() const { return root + QStringLiteral("/cfg/Kesmo6/Selwand.ini"); }

    // The tools a test needs; false (the test skipped or failed) when one
    // is missing.
    bool Need(const QStringList& tools)
    {
        for (const QString& tool : tools) {
            if (!kestest::HaveTool(tool)) {
                missing = tool;
                return false;
            }
        }
        return true;
    }

    QProcess* Helper(const QString& program, const QStringList& args)
    {
        auto process = std::make_unique<QProcess>();
        process->setProcessEnvironment(Environment());
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process->setStandardOutputFile(QProcess::nullDevice());
        process->start(program, args);
        process->waitForStarted();
        helpers.push_back(std::move(process));
        return helpers.back().get();
    }

    // Xvfb on a display number it chooses itself (-displayfd: it names the
    // number on standard output once it accepts connections), so tests
    // running side by side never share a display.
    bool StartDisplay()
    {
        auto xvfb = std::make_unique<QProcess>();
        xvfb->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        xvfb->start(QStringLiteral("Xvfb"),
            {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                QStringLiteral("0"), QStringLiteral("1024x768x24"), QStringLiteral("-nolisten"),
                QStringLiteral("tcp"), QStringLiteral("-noreset")});
        if (!xvfb->waitForStarted())
            return false;
        QProcess* server = xvfb.get();
        helpers.push_back(std::move(xvfb));
        WaitUntil([&] { return server->canReadLine() || server->state() == QProcess::NotRunning; },
            std::chrono::seconds(20));
        const QByteArray number = server->readLine().trimmed();
        if (number.isEmpty())
            return false;
        display = u':' + QString::fromLatin1(number);
        return true;
    }

    QProcessEnvironment Environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        env.insert(QStringLiteral("DISPLAY"), display);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), root + QStringLiteral("/cfg"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), root);
        // No session bus unless the test starts one: the tray is the X one.
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
            bus.isEmpty() ? QStringLiteral("unix:path=") + root + QStringLiteral("/no-bus") : bus);
        env.insert(QStringLiteral("LANGUAGE"), QString());
        env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
        return env;
    }

    kestest::ProcessResult Run(const QString& program, const QStringList& args)
    {
        QStringList env = {QStringLiteral("DISPLAY=") + display};
        if (!bus.isEmpty())
            env << QStringLiteral("DBUS_SESSION_BUS_ADDRESS=") + bus;
        return kestest::Run(program, args, env, {}, 20000);
    }

    QList<TXWindow> VisibleWindows(const QString& classOrName, bool byName = false)
    {
        QList<TXWindow> windows;
        const kestest::ProcessResult found = Run(QStringLiteral("xdotool"),
            {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                byName ? QStringLiteral("--name") : QStringLiteral("--class"), classOrName});
        for (const QByteArray& id : found.out.split('\n')) {
            if (id.trimmed().isEmpty())
                continue;
            TXWindow w;
            w.Id = QString::fromLatin1(id.trimmed());
            w.Name = QString::fromUtf8(
                Run(QStringLiteral("xdotool"), {QStringLiteral("getwindowname"), w.Id}).out)
                         .trimmed();
            const QString geometry = QString::fromUtf8(
                Run(QStringLiteral("xdotool"), {QStringLiteral("getwindowgeometry"), w.Id}).out);
            const QRegularExpressionMatch m
                = QRegularExpression(QStringLiteral("Geometry: (\\d+)x(\\d+)")).match(geometry);
            if (m.hasMatch()) {
                w.Width = m.captured(1).toInt();
                w.Height = m.captured(2).toInt();
            }
            windows << w;
        }
        return windows;
    }
    // Waits for a visible window of Selwand that pred accepts.
    TXWindow WaitForWindow(const std::function<bool(const TXWindow&)>& pred)
    {
        TXWindow result;
        WaitUntil(
            [&] {
                for (const TXWindow& w : VisibleWindows(QStringLiteral("Selwand"))) {
                    if (pred(w)) {
                        result = w;
                        return true;
                    }
                }
                return selwand.state() == QProcess::NotRunning;
            },
            std::chrono::seconds(20));
        return result;
    }
    static bool IsIcon(const TXWindow& w) { return w.Width > 0 && w.Width <= 64 && w.Height <= 64; }
    static bool IsMainWindow(const TXWindow& w)
    {
        return w.Name.startsWith(QStringLiteral("File change monitoring with direct backup"));
    }
    static bool IsInfoPanel(const TXWindow& w)
    {
        return w.Name.startsWith(QStringLiteral("Selwand (Version"));
    }

    void StartSelwand()
    {
        selwand.setProcessEnvironment(Environment());
        selwand.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        selwand.start(kestest::BuiltProgram(QStringLiteral("Selwand")),
            {QStringLiteral("/force"), QStringLiteral("/hide")});
        ASSERT_TRUE(selwand.waitForStarted());
    }
    void Xdo(const QStringList& args)
    {
        const kestest::ProcessResult r = Run(QStringLiteral("xdotool"), args);
        EXPECT_EQ(r.exitCode, 0) << args.join(u' ').toStdString() << r.err.toStdString();
    }

    QTemporaryDir tmp;
    QString root, data, display, bus, missing;
    QProcess selwand;
    std::vector<std::unique_ptr<QProcess>> helpers;
};

TEST_F(TrayTest, TheIconLeadsToTheInfoPanelTheWindowAndTheMenu)
{
    if (!Need({QStringLiteral("Xvfb"), QStringLiteral("trayer"), QStringLiteral("xdotool")}))
        KESTEST_SKIP_OR_FAIL(missing.toStdString() + " is needed for the tray test (xvfb, trayer, xdotool)");
    ASSERT_TRUE(StartDisplay());
    Helper(QStringLiteral("trayer"),
        {QStringLiteral("--edge"), QStringLiteral("bottom"), QStringLiteral("--align"),
            QStringLiteral("right"), QStringLiteral("--widthtype"), QStringLiteral("pixel"),
            QStringLiteral("--width"), QStringLiteral("120"), QStringLiteral("--height"),
            QStringLiteral("32")});
    ASSERT_TRUE(WaitUntil([&] { return !VisibleWindows(QStringLiteral("panel"), true).isEmpty(); }));
    StartSelwand();

    // Started with force and hide: monitoring runs, the window is hidden,
    // the icon sits in the tray.
    const TXWindow icon = WaitForWindow(IsIcon);
    ASSERT_FALSE(icon.Id.isEmpty()) << "no tray icon appeared";
    for (const TXWindow& w : VisibleWindows(QStringLiteral("Selwand")))
        EXPECT_FALSE(IsMainWindow(w)) << "the main window should be hidden";

    // Left click: the info panel.
    Xdo({QStringLiteral("mousemove"), QStringLiteral("--window"), icon.Id, QStringLiteral("8"),
        QStringLiteral("8"), QStringLiteral("click"), QStringLiteral("1")});
    const TXWindow panel = WaitForWindow(IsInfoPanel);
    ASSERT_FALSE(panel.Id.isEmpty()) << "a left click showed no info panel";

    // Its "Edit monitoring" (Alt+E) brings the main window.
    Xdo({QStringLiteral("windowfocus"), panel.Id});
    Xdo({QStringLiteral("key"), QStringLiteral("--window"), panel.Id, QStringLiteral("alt+e")});
    ASSERT_FALSE(WaitForWindow(IsMainWindow).Id.isEmpty()) << "Edit monitoring did not show the window";

    // Right click: the menu; its "Quit monitoring" (the second from the
    // end) ends the program after the final pass.
    const QStringList before = [&] {
        QStringList ids;
        for (const TXWindow& w : VisibleWindows(QStringLiteral("Selwand")))
            ids << w.Id;
        return ids;
    }();
    Xdo({QStringLiteral("mousemove"), QStringLiteral("--window"), icon.Id, QStringLiteral("8"),
        QStringLiteral("8"), QStringLiteral("click"), QStringLiteral("3")});
    const TXWindow menu
        = WaitForWindow([&](const TXWindow& w) { return !before.contains(w.Id) && !IsIcon(w); });
    ASSERT_FALSE(menu.Id.isEmpty()) << "a right click showed no menu";
    Xdo({QStringLiteral("mousemove"), QStringLiteral("--window"), menu.Id, QStringLiteral("30"),
        QStringLiteral("8")});
    Xdo({QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("150"), QStringLiteral("Up"),
        QStringLiteral("Up"), QStringLiteral("Return")});
    ASSERT_TRUE(selwand.waitForFinished(30000)) << "Quit monitoring did not end the program";
    EXPECT_EQ(selwand.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(selwand.exitCode(), 0);
    EXPECT_TRUE(selwandtest::ReadIniText(IniName()).contains(QStringLiteral("[Monitor00]")));
}

TEST_F(TrayTest, WithoutATrayTheWindowStaysReachableAndANotificationTellsIt)
{
    if (!Need({QStringLiteral("Xvfb"), QStringLiteral("xdotool"), QStringLiteral("dbus-daemon"),
            QStringLiteral("dunst"), QStringLiteral("dunstctl")}))
        KESTEST_SKIP_OR_FAIL(
            missing.toStdString() + " is needed for the tray fallback test (xvfb, xdotool, dunst, dbus)");
    ASSERT_TRUE(StartDisplay());
    // A private session bus; its address comes on standard output.
    auto busProcess = std::make_unique<QProcess>();
    busProcess->start(QStringLiteral("dbus-daemon"),
        {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
    ASSERT_TRUE(busProcess->waitForStarted());
    ASSERT_TRUE(WaitUntil([&] { return busProcess->canReadLine(); }));
    bus = QString::fromUtf8(busProcess->readLine()).trimmed();
    helpers.push_back(std::move(busProcess));
    Helper(QStringLiteral("dunst"), {});
    ASSERT_TRUE(WaitUntil([&] {
        return Run(QStringLiteral("dunstctl"), {QStringLiteral("count")}).exitCode == 0;
    })) << "dunst did not come up";
    StartSelwand();

    const TXWindow window = WaitForWindow(IsMainWindow);
    ASSERT_FALSE(window.Id.isEmpty()) << "without a tray the window must stay reachable";
    for (const TXWindow& w : VisibleWindows(QStringLiteral("Selwand")))
        EXPECT_FALSE(IsIcon(w)) << "no tray host: there is no icon to show";
    ASSERT_TRUE(WaitUntil([&] {
        return Run(QStringLiteral("dunstctl"), {QStringLiteral("count"), QStringLiteral("displayed")})
                   .out.trimmed()
            != "0";
    }));
    Run(QStringLiteral("dunstctl"), {QStringLiteral("close-all")});
    QByteArray history;
    WaitUntil([&] {
        history = Run(QStringLiteral("dunstctl"), {QStringLiteral("history")}).out;
        return history.contains("monitors selected directories");
    });
    EXPECT_TRUE(history.contains("monitors selected directories and backs up changed files automatically!"))
        << history.toStdString();
    EXPECT_TRUE(history.contains("Selwand (Version")) << history.toStdString();

    ::kill(pid_t(selwand.processId()), SIGTERM);
    ASSERT_TRUE(selwand.waitForFinished(30000));
    EXPECT_EQ(selwand.exitCode(), 0);
}

} // namespace
