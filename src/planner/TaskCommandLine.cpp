#include "planner/TaskCommandLine.h"

#include "frame/I18n.h"
#include "frame/MainProgram.h"
#include "frame/Switches.h"
#include "frame/WinExecute.h"

#include <array>

namespace kes {

namespace {

constexpr std::array<const char*, 5> kStatusWindows {N_("Wait for prompt"), N_("Close automatically"),
    N_("Not visible"), N_("Wait only on errors"), N_("Not visible except on errors")};
constexpr std::array<const char*, 3> kPriorities {N_("Normal"), N_("Low"), N_("High")};
constexpr std::array<const char*, 4> kLogModes {N_("As in task"), N_("Short"), N_("Long"), N_("Verbose")};
constexpr std::array<const char*, 6> kSubActions {
    N_("None"), N_("Standby"), N_("Hibernate"), N_("Logoff"), N_("Shutdown"), N_("Restart")};

// The switch values of the status window, in its order.
constexpr std::array<const char*, 5> kPromptValues {"wait", "delay", "quiet", "error", "silent"};

QString L(const char* text)
{
    return QString::fromLatin1(text);
}

// The value of an option with a value, when the part before its first
// colon matches the keyword.
bool OptionValue(const QString& name, const char* keyword, QString& value)
{
    QString v = name;
    if (!ReadOptionValue(v, L(keyword)))
        return false;
    value = v;
    return true;
}

// A word that begins with "/" or "-" is an option, except, with POSIX paths,
// an absolute file name: one with a further "/" before its first colon
// ("/home/u/Kesmo/Daily.buj", while "/ini:/home/u/x.ini" is an option).
bool IsTaskOption(const QString& word, QString& name, PathStyle style)
{
    if (!IsSwitch(word, name))
        return false;
    return style != PathStyle::Posix || !word.startsWith(QLatin1Char('/'))
        || !name.section(QLatin1Char(':'), 0, 0).contains(QLatin1Char('/'));
}

} // namespace

QString StatusWindowText(TStatusWindow value)
{
    return Tr(kStatusWindows[std::size_t(value)]);
}
QString ProcessPriorityText(TProcessPriority value)
{
    return Tr(kPriorities[std::size_t(value)]);
}
QString LogModeText(TLogMode value)
{
    return Tr(kLogModes[std::size_t(value)]);
}
QString SubsequentActionText(TSubsequentAction value)
{
    return Tr(kSubActions[std::size_t(value)]);
}

QString BuildTaskOptions(const TTaskCommandValues& v, bool withIniFile)
{
    QString out;
    switch (v.Kind) {
    case TKesAction::paBackup:
    case TKesAction::paTavisk:
        out += OptFlag(L("force")) + OptValue(L("startapp"), L("scheduler"));
        break;
    case TKesAction::paRestore:
        out += OptFlag(L("restore"));
        break;
    case TKesAction::paCleanup:
        out += OptFlag(L("clean"));
        break;
    case TKesAction::paVerify:
        out += OptFlag(L("verify"));
        break;
    case TKesAction::paSchedule:
    case TKesAction::paStarter:
        out += QLatin1Char(' ');
        break;
    }
    if (v.NoSplash)
        out += OptFlag(L("hide"));
    if (v.Parallel)
        out += OptFlag(L("parallel"));
    out += OptValue(L("prompt"), L(kPromptValues[std::size_t(v.StatusWindow)]));
    if (v.StatusWindow == TStatusWindow::swCloseAutomatically
        || v.StatusWindow == TStatusWindow::swWaitOnErrors)
        out += OptInt(L("wait"), v.CloseAfter);
    if (v.ActErr > 0)
        out += OptInt(L("erractions"), v.ActErr);
    if (v.Priority == TProcessPriority::ppLow)
        out += OptValue(L("speed"), L("slow"));
    else if (v.Priority == TProcessPriority::ppHigh)
        out += OptValue(L("speed"), L("fast"));
    if (withIniFile && !v.IniFile.isEmpty())
        out += OptValue(L("ini"), v.IniFile);
    if (v.LogMode != TLogMode::lmAsInTask)
        out += OptInt(L("logmode"), int(v.LogMode));
    switch (v.SubAction) {
    case TSubsequentAction::saStandby:
        out += OptValue(L("suspend"), L("standby"));
        break;
    case TSubsequentAction::saHibernate:
        out += OptValue(L("suspend"), L("hibernate"));
        break;
    case TSubsequentAction::saLogoff:
        out += OptValue(L("end"), L("logoff"));
        break;
    case TSubsequentAction::saShutdown:
        out += OptValue(L("end"), L("shutdown"));
        break;
    case TSubsequentAction::saRestart:
        out += OptValue(L("end"), L("restart"));
        break;
    case TSubsequentAction::saNone:
        break;
    }
    return out;
}

QStringList SplitTaskWords(const QString& text)
{
    QStringList words;
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n) {
        while (i < n && text[i] == QLatin1Char(' '))
            ++i;
        if (i >= n)
            break;
        QString word;
        if (text[i] == QLatin1Char('"')) {
            ++i;
            while (i < n) {
                if (text[i] == QLatin1Char('"')) {
                    if (i + 1 < n && text[i + 1] == QLatin1Char('"')) {
                        word += QLatin1Char('"');
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                word += text[i++];
            }
        } else {
            while (i < n && text[i] != QLatin1Char(' '))
                word += text[i++];
        }
        words << word;
    }
    return words;
}

QStringList SplitTaskList(const QString& list)
{
    QStringList entries;
    const qsizetype n = list.size();
    qsizetype i = 0;
    while (i < n) {
        while (i < n && list[i] == QLatin1Char(' '))
            ++i;
        QString entry;
        if (i < n && list[i] == QLatin1Char('"')) {
            ++i;
            while (i < n) {
                if (list[i] == QLatin1Char('"')) {
                    if (i + 1 < n && list[i + 1] == QLatin1Char('"')) {
                        entry += QLatin1Char('"');
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                entry += list[i++];
            }
            while (i < n && list[i] != QLatin1Char(','))
                ++i;
        } else {
            while (i < n && list[i] != QLatin1Char(','))
                entry += list[i++];
            entry = entry.trimmed();
        }
        ++i; // the comma
        if (!entry.isEmpty())
            entries << entry;
    }
    return entries;
}

QString QuoteTaskEntry(const QString& entry)
{
    return QuoteIfNeeded(entry, QStringLiteral(" ,"));
}

QString MakeRelativeToTaskDir(const QString& name, const QString& taskDir)
{
    if (taskDir.isEmpty())
        return name;
    if (name.compare(taskDir, Qt::CaseInsensitive) == 0)
        return QString();
    if (name.startsWith(taskDir, Qt::CaseInsensitive))
        return name.mid(taskDir.size());
    return name;
}

QString TakeInTaskDir(const QString& name, const QString& taskDir, PathStyle style)
{
    const bool absolute = style == PathStyle::Windows
        ? name.startsWith(QLatin1Char('\\')) || name.contains(QLatin1Char(':'))
        : name.startsWith(QLatin1Char('/'));
    return absolute ? name : taskDir + name;
}

void ReadTaskCommandLine(
    const QString& arguments, const QString& taskDir, TTaskCommandValues& v, PathStyle style)
{
    v.TaskList.clear();
    v.UserOptions.clear();
    const QString dir = SetDirName(taskDir, style);
    for (const QString& word : SplitTaskWords(arguments)) {
        QString name;
        if (!IsTaskOption(word, name, style)) {
            const QString entry = QuoteTaskEntry(MakeRelativeToTaskDir(word, dir));
            if (!entry.isEmpty())
                v.TaskList += (v.TaskList.isEmpty() ? QString() : QStringLiteral(",")) + entry;
            continue;
        }
        QString value;
        if (OptionValue(name, "end", value)) {
            if (MatchOption(value, L("logoff")))
                v.SubAction = TSubsequentAction::saLogoff;
            else if (MatchOption(value, L("restart")))
                v.SubAction = TSubsequentAction::saRestart;
            else if (MatchOption(value, L("poweroff")) || MatchOption(value, L("shutdown")))
                v.SubAction = TSubsequentAction::saShutdown;
        } else if (OptionValue(name, "suspend", value)) {
            if (MatchOption(value, L("standby")))
                v.SubAction = TSubsequentAction::saStandby;
            else if (MatchOption(value, L("hibernate")))
                v.SubAction = TSubsequentAction::saHibernate;
        } else if (OptionValue(name, "erractions", value)) {
            v.ActErr = int(ReadNextInt(value, QLatin1Char(' '), 0));
        } else if (OptionValue(name, "speed", value)) {
            if (MatchOption(value, L("fast")))
                v.Priority = TProcessPriority::ppHigh;
            else if (MatchOption(value, L("slow")))
                v.Priority = TProcessPriority::ppLow;
        } else if (OptionValue(name, "ini", value)) {
            v.IniFile = value;
        } else if (OptionValue(name, "wait", value)) {
            v.CloseAfter = int(std::clamp<qint64>(ReadNextInt(value, QLatin1Char(' '), 5), 1, 99));
        } else if (OptionValue(name, "logmode", value)) {
            const qint64 mode = ReadNextInt(value, QLatin1Char(' '), 0);
            if (mode >= 0 && mode <= 3)
                v.LogMode = TLogMode(mode);
        } else if (OptionValue(name, "prompt", value)) {
            if (MatchOption(value, L("wait")))
                v.StatusWindow = TStatusWindow::swWaitForPrompt;
            else if (MatchOption(value, L("delay")))
                v.StatusWindow = TStatusWindow::swCloseAutomatically;
            else if (MatchOption(value, L("error")))
                v.StatusWindow = TStatusWindow::swWaitOnErrors;
            else if (MatchOption(value, L("quiet")))
                v.StatusWindow = TStatusWindow::swNotVisible;
            else if (MatchOption(value, L("silent")))
                v.StatusWindow = TStatusWindow::swNotVisibleExceptErrors;
        } else if (MatchOption(name, L("quiet"))) {
            v.StatusWindow = TStatusWindow::swNotVisible;
        } else if (MatchOption(name, L("hide"))) {
            v.NoSplash = true;
        } else if (MatchOption(name, L("parallel"))) {
            v.Parallel = true;
        } else if (MatchOption(name, L("force"))) {
            if (v.Kind != TKesAction::paTavisk)
                v.Kind = TKesAction::paBackup;
        } else if (MatchOption(name, L("clean"))) {
            v.Kind = TKesAction::paCleanup;
        } else if (MatchOption(name, L("restore"))) {
            v.Kind = TKesAction::paRestore;
        } else if (MatchOption(name, L("verify"))) {
            v.Kind = TKesAction::paVerify;
        } else if (MatchOption(name, L("mode"))) {
            v.Kind = TKesAction::paSchedule;
        } else if (MatchOption(name, L("sched"))
            || MatchOption(name.section(QLatin1Char(':'), 0, 0), L("startapp"))) {
            // Written again by the kind's fixed parameters.
        } else {
            // Kept as the user wrote it, one word when written back.
            v.UserOptions += QLatin1Char(' ') + QuoteIfNeeded(QLatin1Char('/') + name);
        }
    }
    v.UserOptions = v.UserOptions.trimmed();
}

} // namespace kes
