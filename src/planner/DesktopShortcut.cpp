#include "planner/DesktopShortcut.h"

#include "frame/Format.h"
#include "frame/I18n.h"
#include "frame/MainProgram.h"
#include "frame/Switches.h"
#include "frame/WinExecute.h"
#include "planner/ErrorActions.h"
#include "platform/ErrorText.h"

#include <array>

namespace kes {

namespace {

constexpr std::array<const char*, 5> kStatusValues {"quiet", "delay", "wait", "error", "silent"};

constexpr std::array<const char*, 5> kStatusTexts {N_("Not visible"), N_("Close automatically"),
    N_("Always wait for prompt"), N_("Wait for prompt only on errors"), N_("Show only on errors")};

constexpr std::array<const char*, saActionCount> kActionTexts {N_("None"), N_("Standby"), N_("Hibernate"),
    N_("Logoff"), N_("Restart"), N_("Shutdown"), N_("Lock and shutdown"), N_("Hybrid shutdown")};

// The switch and value of each action (none for "None").
struct TActionSwitch {
    const char* Keyword;
    const char* Value;
};
constexpr std::array<TActionSwitch, saActionCount> kActionSwitches {
    {{nullptr, nullptr}, {"suspend", "standby"}, {"suspend", "hibernate"}, {"end", "logoff"},
        {"end", "restart"}, {"end", "shutdown"}, {"end", "lockdown"}, {"end", "hybrid"}}};

QString L1(const char* text)
{
    return QString::fromLatin1(text);
}

// Split at blanks outside double quotes; a part in double quotes loses
// them.
QStringList SplitAtBlanks(const QString& text)
{
    QStringList parts;
    QString part;
    bool quoted = false;
    bool any = false;
    for (QChar c : text) {
        if (c == u'"') {
            quoted = !quoted;
            any = true;
        } else if (c == u' ' && !quoted) {
            if (any)
                parts.append(part);
            part.clear();
            any = false;
        } else {
            part += c;
            any = true;
        }
    }
    if (any)
        parts.append(part);
    return parts;
}

} // namespace

QString TDesktopIconModel::StatusText(int status)
{
    return status >= 0 && status < int(kStatusTexts.size()) ? Tr(kStatusTexts[std::size_t(status)])
                                                            : QString();
}

QString TDesktopIconModel::ActionCaption(int action)
{
    return action >= 0 && action < saActionCount ? Tr(kActionTexts[std::size_t(action)]) : QString();
}

void TDesktopIconModel::Init(const QString& tasks, int runAs, const QString& options,
    const QString& description, const QString& shortcutName)
{
    ShortcutName = shortcutName;
    Description = description;
    FTask = tasks;
    FTaskParts = SplitAtBlanks(tasks);
    ActErr = 0;
    FAction = saNone;
    Status = ssCloseAutomatically;
    NoSplash = true;
    ActionChangeable = true;
    Parallel = false;
    RunAs = false;
    FRunAsVisible = runAs >= 0;
    FOpt.clear();

    for (const QString& part : SplitAtBlanks(options)) {
        QString word;
        if (!IsSwitch(part, word))
            continue;
        QString value = word;
        if (ReadOptionValue(value, QStringLiteral("end"))) {
            for (int a = saLogoff; a < saActionCount; ++a) {
                if (value.compare(L1(kActionSwitches[std::size_t(a)].Value), Qt::CaseInsensitive) == 0)
                    FAction = a;
            }
        } else if (ReadOptionValue(value, QStringLiteral("suspend"))) {
            if (value.compare(QStringLiteral("standby"), Qt::CaseInsensitive) == 0)
                FAction = saStandby;
            else if (value.compare(QStringLiteral("hibernate"), Qt::CaseInsensitive) == 0)
                FAction = saHibernate;
        } else if (ReadOptionValue(value, QStringLiteral("prompt"))) {
            // "silent" has no place in the choice and is not passed on.
            static const std::array<std::pair<const char*, int>, 4> kPrompt {{{"quiet", ssNotVisible},
                {"wait", ssAlwaysWait}, {"error", ssWaitOnErrors}, {"delay", ssCloseAutomatically}}};
            for (const auto& [text, status] : kPrompt) {
                if (value.compare(L1(text), Qt::CaseInsensitive) == 0)
                    Status = status;
            }
        } else if (MatchOption(word, QStringLiteral("hide"))) {
            NoSplash = true;
        } else {
            // Quoted whole, as OptValue quotes: one argument again.
            FOpt += u' ' + QuoteIfNeeded(u'/' + word);
        }
    }
}

QString TDesktopIconModel::TasksText() const
{
    if (FTaskParts.size() > 1)
        return SafeFormat(_("%u selected tasks"), {FTaskParts.size()});
    return FTask;
}

QString TDesktopIconModel::TasksHint() const
{
    return FTaskParts.size() > 1 ? FTaskParts.join(QLatin1Char('\n')) : QString();
}

void TDesktopIconModel::SetAction(int action)
{
    FAction = action >= 0 && action < saActionCount ? action : saNone;
}

QString TDesktopIconModel::ActionText() const
{
    return FAction == saNone ? QString() : ActionCaption(FAction);
}

QString TDesktopIconModel::ErrorActionHint() const
{
    return kes::ErrorActionHint(ActionText());
}

QString TDesktopIconModel::Options() const
{
    QString options
        = OptValue(QStringLiteral("prompt"), L1(kStatusValues[std::size_t(qBound(0, Status, 4))]));
    if (Parallel && ParallelVisible())
        options += OptFlag(QStringLiteral("parallel"));
    if (NoSplash)
        options += OptFlag(QStringLiteral("hide"));
    if (!ActionChangeable && !(Parallel && ParallelVisible()))
        options += OptFlag(QStringLiteral("noaction"));
    if (FAction != saNone) {
        const TActionSwitch& sw = kActionSwitches[std::size_t(FAction)];
        options += OptValue(L1(sw.Keyword), L1(sw.Value));
    }
    if (ActErr > 0)
        options += OptInt(QStringLiteral("erractions"), ActErr);
    return options + FOpt;
}

QString ShortcutBaseName(const QString& scheduleName)
{
    QString base = scheduleName;
    const qsizetype delimiter = std::max(base.lastIndexOf(u'/'), base.lastIndexOf(u'\\'));
    base = base.mid(delimiter + 1);
    const qsizetype dot = base.lastIndexOf(u'.');
    if (dot >= 0)
        base.truncate(dot);
    return base;
}

QString ShortcutArguments(const QString& scheduleName, const QString& options)
{
    QString quoted = scheduleName;
    quoted.replace(u'"', QStringLiteral("\"\""));
    return u'"' + quoted + u'"' + options + OptFlag(QStringLiteral("interactive"));
}

QString ShortcutNameError(const QString& shortcutName)
{
    bool bad = shortcutName.isEmpty() || shortcutName == QStringLiteral(".")
        || shortcutName == QStringLiteral("..");
    for (QChar c : shortcutName)
        bad = bad || c == u'/' || c.category() == QChar::Other_Control;
    return bad ? SafeFormat(_("Invalid name of desktop shortcut: \"%s\""), {shortcutName}) : QString();
}

TShortcutLink MakeShortcutLink(const QString& desktopFolder, const QString& shortcutName,
    const QString& programPath, const QString& scheduleName, const QString& options,
    const QString& description, const QString& jobDir, bool runAsAdministrator)
{
    TShortcutLink link;
    QString folder = desktopFolder;
    while (folder.size() > 1 && folder.endsWith(u'/'))
        folder.chop(1);
    link.File = folder + u'/' + shortcutName + QStringLiteral(".desktop");
    platform::TDesktopEntry& e = link.Entry;
    e.Name = shortcutName;
    e.Comment = description;
    if (runAsAdministrator)
        e.Exec.append(QStringLiteral("pkexec"));
    e.Exec.append(programPath);
    // Marvick splits the line as the arguments of its own start would be.
    e.Exec += SplitCommandLine(ShortcutArguments(scheduleName, options));
    e.Icon = QStringLiteral("org.kestrup.Marvick"); // the installed theme icon
    if (!jobDir.isEmpty())
        e.ExtraKeys.append(QStringLiteral("Path=") + platform::EscapeDesktopValue(jobDir));
    return link;
}

QString WriteShortcutLink(const TShortcutLink& link)
{
    const int err = platform::WriteDesktopShortcut(link.File, link.Entry);
    if (err == 0)
        return QString();
    return _("Error creating desktop shortcut!") + QLatin1Char('\n') + platform::SystemErrorText(err) + u' '
        + SafeFormat(QStringLiteral("(0x%.8x)"), {quint32(err)});
}

} // namespace kes
