#include "platform/TaskUnits.h"

#include "platform/TaskSchedule.h"

#include <QCryptographicHash>
#include <algorithm>
#include <limits>

namespace kes::platform {

namespace {

// Longest unit name the manager accepts.
constexpr int kUnitNameMax = 255;
// Room for prefix and the longest suffix ("-NNNN.service" / ".timer").
constexpr int kBaseMax = kUnitNameMax - 8 - 14;

bool IsUnitNameChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ':' || c == '_'
        || c == '.';
}

QString HexByte(uchar b)
{
    return QStringLiteral("\\x%1").arg(b, 2, 16, QLatin1Char('0'));
}

// The text of a value in a unit file line: control characters become
// blanks, specifiers cannot expand.
QString PlainValue(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            out += QLatin1Char(' ');
        else if (c == QLatin1Char('%'))
            out += QStringLiteral("%%");
        else
            out += c;
    }
    return out;
}

QString Seconds(qint64 s)
{
    return QString::number(s);
}

// A program path the user manager can start: absolute, or a plain file
// name it looks up; none of the characters its parser refuses in a
// program name, and no leading character it reads as a prefix.
bool IsStartableProgram(const QString& path)
{
    if (path.isEmpty() || path == u";" || path.endsWith(QLatin1Char('/')))
        return false;
    for (QChar c : path)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F || c == QLatin1Char('"') || c == QLatin1Char('\'')
            || c == QLatin1Char('\\'))
            return false;
    if (path.startsWith(QLatin1Char('/')))
        return true;
    return !path.contains(QLatin1Char('/')) && !QStringView(u"-@:+!").contains(path.front());
}

bool IsMonotonicKind(int kind)
{
    return kind == tkLogon || kind == tkBoot || kind == tkRegistration;
}

struct TTimerLines {
    QStringList Lines;
    bool Enable = false;
    bool StartNow = false;
};

} // namespace

QString SystemdEscape(const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    QString out;
    for (qsizetype i = 0; i < utf8.size(); ++i) {
        const char c = utf8[i];
        if (c == '/')
            out += QLatin1Char('-');
        else if (!IsUnitNameChar(c) || (i == 0 && c == '.'))
            out += HexByte(uchar(c));
        else
            out += QLatin1Char(c);
    }
    return out;
}

QString SystemdUnescape(const QString& text)
{
    QByteArray bytes;
    const QByteArray in = text.toUtf8();
    for (qsizetype i = 0; i < in.size(); ++i) {
        if (in[i] == '-') {
            bytes += '/';
            continue;
        }
        if (in[i] == '\\' && i + 3 < in.size() && in[i + 1] == 'x') {
            bool ok = false;
            const int v = in.mid(i + 2, 2).toInt(&ok, 16);
            if (ok) {
                bytes += char(v);
                i += 3;
                continue;
            }
        }
        bytes += in[i];
    }
    return QString::fromUtf8(bytes);
}

QString TaskUnitBase(const QString& taskName)
{
    const QString escaped = SystemdEscape(taskName);
    if (escaped.size() <= kBaseMax)
        return escaped;
    const QByteArray hash
        = QCryptographicHash::hash(taskName.toUtf8(), QCryptographicHash::Sha256).toHex().left(16);
    qsizetype cut = kBaseMax - 17;
    // Not inside an escape sequence.
    for (qsizetype back = 1; back <= 3; ++back)
        if (cut - back >= 0 && escaped[cut - back] == QLatin1Char('\\'))
            cut -= back;
    return escaped.left(cut) + QLatin1Char('_') + QString::fromLatin1(hash);
}

QString QuoteUnitArgument(const QString& argument)
{
    QString out = QStringLiteral("\"");
    for (QChar c : argument) {
        const char16_t u = c.unicode();
        if (c == QLatin1Char('\\'))
            out += QStringLiteral("\\\\");
        else if (c == QLatin1Char('"'))
            out += QStringLiteral("\\\"");
        else if (c == QLatin1Char('%'))
            out += QStringLiteral("%%");
        else if (c == QLatin1Char('$'))
            out += QStringLiteral("$$");
        else if (u < 0x20 || u == 0x7F)
            out += HexByte(uchar(u));
        else
            out += c;
    }
    out += QLatin1Char('"');
    return out;
}

QString UnquotedActionPath(const QString& path)
{
    if (path.size() >= 2 && path.startsWith(QLatin1Char('"')) && path.endsWith(QLatin1Char('"'))) {
        QString inner = path.mid(1, path.size() - 2);
        inner.replace(QStringLiteral("\"\""), QStringLiteral("\""));
        return inner;
    }
    return path;
}

QString TaskServiceUnit(const TTaskDefinition& definition, const QString& unitBase)
{
    const bool runs = std::any_of(definition.Actions.begin(), definition.Actions.end(),
        [](const TTaskAction& a) { return a.Type == akExec; });
    return runs ? kTaskUnitPrefix.toString() + unitBase + QStringLiteral(".service") : QString();
}

QString TaskTimerUnit(const QString& unitBase, int position)
{
    return kTaskUnitPrefix.toString() + unitBase + QLatin1Char('-') + QString::number(position)
        + QStringLiteral(".timer");
}

TTaskUnits GenerateTaskUnits(const TTaskDefinition& d, const TTaskUnitContext& c)
{
    TTaskUnits units;
    const QString unitBase = c.UnitBase.isEmpty() ? TaskUnitBase(c.TaskName) : c.UnitBase;
    const QString base = kTaskUnitPrefix.toString() + unitBase;
    const QString title = PlainValue(c.TaskName);

    // The commands: one per exec action.
    QStringList commands;
    QString workingDirectory;
    for (const TTaskAction& a : d.Actions) {
        if (a.Type != akExec)
            continue;
        const QString program = UnquotedActionPath(a.Path);
        if (!IsStartableProgram(program)) {
            units.Error = program;
            return units;
        }
        QStringList words {QuoteUnitArgument(program)};
        const QStringList arguments = c.SplitArguments ? c.SplitArguments(a.Arguments) : QStringList();
        for (const QString& w : arguments)
            words << QuoteUnitArgument(w);
        commands << words.join(QLatin1Char(' '));
        if (commands.size() == 1) {
            const QString dir = UnquotedActionPath(a.WorkingDirectory);
            bool plain = dir.startsWith(QLatin1Char('/'));
            for (QChar ch : dir)
                plain = plain && ch.unicode() >= 0x20 && ch.unicode() != 0x7F;
            if (plain)
                workingDirectory = dir;
        }
    }
    if (commands.isEmpty())
        return units; // nothing to run

    // The timers, and whether the calendar needs the start check.
    bool needsCheck = d.Settings.RunOnlyIfNetworkAvailable;
    QList<TTimerLines> timers;
    QList<int> positions;
    qint64 triggerLimit = 0; // the largest limit of a trigger that runs the task
    bool anyTriggerWithoutLimit = false;
    if (d.Settings.Enabled) {
        for (qsizetype i = 0; i < d.Triggers.size(); ++i) {
            const TTaskTrigger& t = d.Triggers[i];
            if (!t.Enabled)
                continue;
            TTimerLines timer;
            const TTriggerTimes times(t, c.Zone);
            if (times.IsTimeBased()) {
                if (!times.CanFire() || !times.NextAtOrAfter(c.Now).isValid())
                    continue;
                for (const QString& e : times.CalendarExpressions())
                    timer.Lines << QStringLiteral("OnCalendar=") + e;
                timer.Lines << QStringLiteral("AccuracySec=1s");
                const qint64 random = ServiceDurationSeconds(t.RandomDelay).value_or(0);
                if (random > 0)
                    timer.Lines << QStringLiteral("RandomizedDelaySec=") + Seconds(random);
                if (d.Settings.StartWhenAvailable)
                    timer.Lines << QStringLiteral("Persistent=true");
                if (d.Settings.WakeToRun && c.CanWakeSystem)
                    timer.Lines << QStringLiteral("WakeSystem=true");
                timer.Enable = true;
                timer.StartNow = true;
                if (!times.CalendarIsExact(c.Now))
                    needsCheck = true;
            } else if (IsMonotonicKind(t.Type)) {
                if (t.Type == tkLogon && !t.UserId.isEmpty()) {
                    // The user manager sees only its own user's sessions.
                    if (t.UserId.section(QLatin1Char('\\'), -1) != c.UserName)
                        continue;
                }
                const qint64 delay = ServiceDurationSeconds(t.Delay).value_or(0);
                if (t.Type == tkRegistration) {
                    timer.Lines << QStringLiteral("OnActiveSec=") + Seconds(delay)
                                << QStringLiteral("RemainAfterElapse=false");
                    timer.StartNow = true;
                } else {
                    timer.Lines << QStringLiteral("OnStartupSec=") + Seconds(delay);
                    timer.Enable = true;
                }
                timer.Lines << QStringLiteral("AccuracySec=1s");
                if (d.Settings.WakeToRun && c.CanWakeSystem)
                    timer.Lines << QStringLiteral("WakeSystem=true");
            } else {
                continue; // kept, not carried out
            }
            const qint64 limit = ServiceDurationSeconds(t.ExecutionTimeLimit).value_or(0);
            if (limit > 0)
                triggerLimit = std::max(triggerLimit, limit);
            else
                anyTriggerWithoutLimit = true;
            timers << timer;
            positions << int(i + 1);
        }
    }

    // The run-time limit: the task's, and the trigger's when every trigger
    // that starts the task has a smaller one.
    qint64 limit = ServiceDurationSeconds(d.Settings.ExecutionTimeLimit).value_or(0);
    if (!anyTriggerWithoutLimit && triggerLimit > 0 && (limit == 0 || triggerLimit < limit))
        limit = triggerLimit;

    QStringList service;
    service << QStringLiteral("# Scheduled task \"%1\" of Kestrup, generated from %2.")
                   .arg(title, PlainValue(c.DefinitionFile))
            << QStringLiteral("# Changes made here are replaced when the task is saved.") << QString()
            << QStringLiteral("[Unit]")
            << QStringLiteral("Description=Kestrup scheduled task \"%1\"").arg(title);
    if (d.Settings.DisallowStartIfOnBatteries)
        service << QStringLiteral("ConditionACPower=true");
    service << QString() << QStringLiteral("[Service]") << QStringLiteral("Type=oneshot");
    if (needsCheck)
        service << QStringLiteral("ExecCondition=") + QuoteUnitArgument(c.CheckProgram)
                + QStringLiteral(" \"check\" ") + QuoteUnitArgument(c.DefinitionFile);
    for (const QString& command : commands)
        service << QStringLiteral("ExecStart=") + command;
    if (!workingDirectory.isEmpty())
        service << QStringLiteral("WorkingDirectory=") + PlainValue(workingDirectory);
    service << QStringLiteral("UnsetEnvironment=DISPLAY WAYLAND_DISPLAY")
            << QStringLiteral("KillMode=process")
            << QStringLiteral("TimeoutStartSec=") + (limit > 0 ? Seconds(limit) : QStringLiteral("infinity"));

    units.Service = TaskServiceUnit(d, unitBase);
    units.NeedsCheck = needsCheck;
    units.Files << TTaskUnitFile {
        units.Service, (service.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8(), false, false};
    for (qsizetype i = 0; i < timers.size(); ++i) {
        const TTimerLines& t = timers[i];
        QStringList lines;
        lines << QStringLiteral("# Trigger %1 of the scheduled task \"%2\" of Kestrup.")
                     .arg(positions[i])
                     .arg(title)
              << QString() << QStringLiteral("[Unit]")
              << QStringLiteral("Description=Kestrup scheduled task \"%1\", trigger %2")
                     .arg(title)
                     .arg(positions[i])
              << QString() << QStringLiteral("[Timer]") << QStringLiteral("Unit=") + units.Service;
        lines += t.Lines;
        if (t.Enable)
            lines << QString() << QStringLiteral("[Install]") << QStringLiteral("WantedBy=timers.target");
        units.Files << TTaskUnitFile {
            base + QLatin1Char('-') + QString::number(positions[i]) + QStringLiteral(".timer"),
            (lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8(), t.Enable, t.StartNow};
    }
    return units;
}

} // namespace kes::platform
