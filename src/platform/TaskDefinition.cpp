#include "platform/TaskDefinition.h"

#include <QXmlStreamReader>
#include <QXmlStreamWriter>
#include <array>

namespace kes::platform {

namespace {

const QString kNs = kTaskXmlNamespace.toString();

constexpr std::array<QStringView, 7> kDayNames {
    u"Sunday", u"Monday", u"Tuesday", u"Wednesday", u"Thursday", u"Friday", u"Saturday"};
constexpr std::array<QStringView, 12> kMonthNames {u"January", u"February", u"March", u"April", u"May",
    u"June", u"July", u"August", u"September", u"October", u"November", u"December"};

struct TNamedValue {
    QStringView Name;
    int Value;
};

constexpr std::array<TNamedValue, 7> kLogonTypes {{{u"None", lkNone}, {u"Password", lkPassword},
    {u"S4U", lkS4U}, {u"InteractiveToken", lkInteractiveToken}, {u"Group", lkGroup},
    {u"ServiceAccount", lkServiceAccount}, {u"InteractiveTokenOrPassword", lkInteractiveTokenOrPassword}}};
constexpr std::array<TNamedValue, 4> kInstancePolicies {{{u"Parallel", ipParallel}, {u"Queue", ipQueue},
    {u"IgnoreNew", ipIgnoreNew}, {u"StopExisting", ipStopExisting}}};
constexpr std::array<TNamedValue, 2> kRunLevels {{{u"LeastPrivilege", 0}, {u"HighestAvailable", 1}}};
constexpr std::array<TNamedValue, 6> kStateChanges {{{u"ConsoleConnect", 1}, {u"ConsoleDisconnect", 2},
    {u"RemoteConnect", 3}, {u"RemoteDisconnect", 4}, {u"SessionLock", 7}, {u"SessionUnlock", 8}}};

struct TTriggerElement {
    QStringView Name;
    int Kind;
};
// Calendar triggers are told apart by their schedule element.
constexpr std::array<TTriggerElement, 8> kTriggerElements {
    {{u"EventTrigger", tkEvent}, {u"TimeTrigger", tkTime}, {u"IdleTrigger", tkIdle},
        {u"RegistrationTrigger", tkRegistration}, {u"BootTrigger", tkBoot}, {u"LogonTrigger", tkLogon},
        {u"SessionStateChangeTrigger", tkSessionStateChange}, {u"CalendarTrigger", -1}}};

template <std::size_t N>
std::optional<int> ValueOfName(const std::array<TNamedValue, N>& table, QStringView name)
{
    for (const TNamedValue& e : table)
        if (e.Name.compare(name.trimmed(), Qt::CaseInsensitive) == 0)
            return e.Value;
    return std::nullopt;
}

template <std::size_t N> QString NameOfValue(const std::array<TNamedValue, N>& table, int value)
{
    for (const TNamedValue& e : table)
        if (e.Value == value)
            return e.Name.toString();
    return QString::number(value);
}

// ---------------------------------------------------------------- reading

class TReader {
public:
    TReader(QXmlStreamReader& reader, TTaskXmlError& error)
        : FReader(reader)
        , FError(error)
    {
    }

    bool Read(TTaskDefinition& d)
    {
        FReader.setNamespaceProcessing(true);
        if (!FReader.readNextStartElement())
            return FReader.hasError() ? Malformed() : Fail(kTaskXmlMissingNode, QStringLiteral("Task"));
        if (!InTaskNamespace() || FReader.name() != u"Task")
            return Fail(kTaskXmlUnexpectedNode, FReader.name().toString());
        for (const QXmlStreamAttribute& a : FReader.attributes()) {
            if (a.namespaceUri().isEmpty() && a.name() == u"version")
                ReadVersion(a.value(), d.Settings.Compatibility);
            else
                d.RootAttributes.append(a);
        }
        bool principalRead = false;
        while (!FFailed && FReader.readNextStartElement()) {
            const QStringView n = FReader.name();
            if (!InTaskNamespace())
                d.Unknown.append(ReadUnknown());
            else if (n == u"RegistrationInfo")
                ReadRegistrationInfo(d.RegistrationInfo);
            else if (n == u"Triggers")
                ReadTriggers(d.Triggers);
            else if (n == u"Settings")
                ReadSettings(d.Settings);
            else if (n == u"Data")
                d.Data = Text();
            else if (n == u"Principals")
                ReadPrincipals(d, principalRead);
            else if (n == u"Actions")
                ReadActions(d);
            else
                d.Unknown.append(ReadUnknown());
        }
        if (!FFailed && FReader.hasError())
            return Malformed();
        // Whatever follows the root element must still be well-formed.
        while (!FFailed && !FReader.atEnd()) {
            FReader.readNext();
            if (FReader.hasError())
                return Malformed();
        }
        return !FFailed;
    }

private:
    bool Fail(quint32 code, const QString& element, const QString& value = QString())
    {
        if (!FFailed) {
            FFailed = true;
            FError.Code = code;
            FError.Element = element;
            FError.Value = value;
            FError.Line = FReader.lineNumber();
            FError.Column = FReader.columnNumber();
        }
        return false;
    }

    bool Malformed()
    {
        const bool first = !FFailed;
        Fail(kTaskXmlMalformed, QString());
        if (first)
            FError.ParserMessage = FReader.errorString();
        return false;
    }

    bool InTaskNamespace() const
    {
        const QStringView ns = FReader.namespaceUri();
        return ns.isEmpty() || ns == kTaskXmlNamespace;
    }

    void ReadVersion(QStringView text, int& compatibility)
    {
        const QStringView t = text.trimmed();
        bool ok = false;
        const int minor = t.startsWith(u"1.") ? t.mid(2).toInt(&ok) : 0;
        if (!ok || minor < 0)
            Fail(kTaskXmlInvalidValue, QStringLiteral("version"), t.toString());
        else
            compatibility = minor;
    }

    // At a start element: its text; child elements are skipped.
    QString Text()
    {
        const QString t = FReader.readElementText(QXmlStreamReader::SkipChildElements);
        if (FReader.hasError())
            Malformed();
        return t;
    }

    bool Bool()
    {
        const QString t = Text().trimmed();
        if (t == u"true" || t == u"1")
            return true;
        if (t == u"false" || t == u"0")
            return false;
        Fail(kTaskXmlInvalidValue, FLastName, t);
        return false;
    }

    int Int()
    {
        const QString t = Text().trimmed();
        bool ok = false;
        const int v = t.toInt(&ok);
        if (!ok)
            Fail(kTaskXmlInvalidValue, FLastName, t);
        return v;
    }

    template <std::size_t N> int Named(const std::array<TNamedValue, N>& table)
    {
        const QString t = Text();
        const std::optional<int> v = ValueOfName(table, t);
        if (!v)
            Fail(kTaskXmlInvalidValue, FLastName, t.trimmed());
        return v.value_or(table[0].Value);
    }

    // At a start element: the whole element as it is.
    TTaskXmlNode ReadUnknown()
    {
        TTaskXmlNode node;
        node.NamespaceUri = FReader.namespaceUri().isEmpty() ? kNs : FReader.namespaceUri().toString();
        node.Name = FReader.name().toString();
        node.Attributes = FReader.attributes();
        while (!FReader.atEnd()) {
            const QXmlStreamReader::TokenType t = FReader.readNext();
            if (t == QXmlStreamReader::StartElement) {
                node.Children.append(ReadUnknown());
            } else if (t == QXmlStreamReader::Characters) {
                if (FReader.isWhitespace())
                    continue;
                if (!node.Children.isEmpty() && node.Children.last().IsText) {
                    node.Children.last().Text += FReader.text();
                } else {
                    TTaskXmlNode text;
                    text.IsText = true;
                    text.Text = FReader.text().toString();
                    node.Children.append(text);
                }
            } else if (t == QXmlStreamReader::EndElement) {
                break;
            }
        }
        if (FReader.hasError())
            Malformed();
        return node;
    }

    // Runs over the children of the current element; known(name) reads a
    // known child and returns true, the others go to unknown.
    template <typename F> void Children(QList<TTaskXmlNode>& unknown, F known)
    {
        while (!FFailed && FReader.readNextStartElement()) {
            FLastName = FReader.name().toString();
            if (!InTaskNamespace() || !known(FReader.name()))
                unknown.append(ReadUnknown());
        }
    }

    void ReadRegistrationInfo(TTaskRegistrationInfo& ri)
    {
        Children(ri.Unknown, [&](QStringView n) {
            if (n == u"Description")
                ri.Description = Text();
            else if (n == u"Author")
                ri.Author = Text();
            else if (n == u"Documentation")
                ri.Documentation = Text();
            else if (n == u"Date")
                ri.Date = Text();
            else if (n == u"URI")
                ri.Uri = Text();
            else if (n == u"Version")
                ri.Version = Text();
            else if (n == u"Source")
                ri.Source = Text();
            else if (n == u"SecurityDescriptor")
                ri.SecurityDescriptor = Text();
            else
                return false;
            return true;
        });
    }

    void ReadPrincipals(TTaskDefinition& d, bool& principalRead)
    {
        Children(d.Unknown, [&](QStringView n) {
            if (n != u"Principal")
                return false;
            if (principalRead) {
                d.UnknownPrincipals.append(ReadUnknown());
                return true;
            }
            principalRead = true;
            TTaskPrincipal& p = d.Principal;
            p.Id = FReader.attributes().value(QLatin1StringView("id")).toString();
            Children(p.Unknown, [&](QStringView c) {
                if (c == u"UserId")
                    p.UserId = Text();
                else if (c == u"GroupId")
                    p.GroupId = Text();
                else if (c == u"DisplayName")
                    p.DisplayName = Text();
                else if (c == u"LogonType")
                    p.LogonType = Named(kLogonTypes);
                else if (c == u"RunLevel")
                    p.RunLevel = Named(kRunLevels);
                else
                    return false;
                return true;
            });
            return true;
        });
    }

    void ReadSettings(TTaskSettings& s)
    {
        Children(s.Unknown, [&](QStringView n) {
            if (n == u"AllowStartOnDemand")
                s.AllowDemandStart = Bool();
            else if (n == u"AllowHardTerminate")
                s.AllowHardTerminate = Bool();
            else if (n == u"Enabled")
                s.Enabled = Bool();
            else if (n == u"Hidden")
                s.Hidden = Bool();
            else if (n == u"RunOnlyIfIdle")
                s.RunOnlyIfIdle = Bool();
            else if (n == u"DisallowStartIfOnBatteries")
                s.DisallowStartIfOnBatteries = Bool();
            else if (n == u"StopIfGoingOnBatteries")
                s.StopIfGoingOnBatteries = Bool();
            else if (n == u"StartWhenAvailable")
                s.StartWhenAvailable = Bool();
            else if (n == u"RunOnlyIfNetworkAvailable")
                s.RunOnlyIfNetworkAvailable = Bool();
            else if (n == u"WakeToRun")
                s.WakeToRun = Bool();
            else if (n == u"MultipleInstancesPolicy")
                s.MultipleInstances = Named(kInstancePolicies);
            else if (n == u"Priority")
                s.Priority = Int();
            else if (n == u"ExecutionTimeLimit")
                s.ExecutionTimeLimit = Text();
            else if (n == u"DeleteExpiredTaskAfter")
                s.DeleteExpiredTaskAfter = Text();
            else if (n == u"RestartOnFailure")
                ReadRestart(s);
            else if (n == u"IdleSettings")
                ReadIdle(s.IdleSettings);
            else
                return false;
            return true;
        });
    }

    void ReadRestart(TTaskSettings& s)
    {
        // RestartOnFailure has no place for unknown children in the
        // record; they go with the settings' unknown elements.
        QList<TTaskXmlNode> unknown;
        Children(unknown, [&](QStringView n) {
            if (n == u"Interval")
                s.RestartInterval = Text();
            else if (n == u"Count")
                s.RestartCount = Int();
            else
                return false;
            return true;
        });
        s.Unknown += unknown;
    }

    void ReadIdle(TTaskIdleSettings& i)
    {
        Children(i.Unknown, [&](QStringView n) {
            if (n == u"Duration")
                i.IdleDuration = Text();
            else if (n == u"WaitTimeout")
                i.WaitTimeout = Text();
            else if (n == u"StopOnIdleEnd")
                i.StopOnIdleEnd = Bool();
            else if (n == u"RestartOnIdle")
                i.RestartOnIdle = Bool();
            else
                return false;
            return true;
        });
    }

    void ReadTriggers(QList<TTaskTrigger>& triggers)
    {
        // A trigger of a kind this service does not know keeps its place
        // and its whole element.
        while (!FFailed && FReader.readNextStartElement()) {
            int kind = tkCustom;
            if (InTaskNamespace())
                for (const TTriggerElement& e : kTriggerElements)
                    if (e.Name == FReader.name())
                        kind = e.Kind;
            if (kind != tkCustom) {
                triggers.append(ReadTrigger(kind));
                continue;
            }
            TTaskTrigger t;
            t.Type = tkCustom;
            t.Custom = ReadUnknown();
            triggers.append(t);
        }
    }

    // kind -1: a calendar trigger, whose kind its schedule element gives.
    TTaskTrigger ReadTrigger(int kind)
    {
        TTaskTrigger t;
        t.Type = kind;
        const QXmlStreamAttributes attributes = FReader.attributes();
        t.Id = attributes.value(QLatin1StringView("id")).toString();
        bool scheduleRead = false;
        Children(t.Unknown, [&](QStringView n) {
            if (n == u"Enabled")
                t.Enabled = Bool();
            else if (n == u"StartBoundary")
                t.StartBoundary = Text();
            else if (n == u"EndBoundary")
                t.EndBoundary = Text();
            else if (n == u"ExecutionTimeLimit")
                t.ExecutionTimeLimit = Text();
            else if (n == u"Repetition")
                ReadRepetition(t);
            else if (n == u"RandomDelay" && (kind == tkTime || kind == -1))
                t.RandomDelay = Text();
            else if (n == u"Delay"
                && (kind == tkEvent || kind == tkBoot || kind == tkLogon || kind == tkRegistration
                    || kind == tkSessionStateChange))
                t.Delay = Text();
            else if (n == u"UserId" && (kind == tkLogon || kind == tkSessionStateChange))
                t.UserId = Text();
            else if (n == u"Subscription" && kind == tkEvent)
                t.Subscription = Text();
            else if (n == u"StateChange" && kind == tkSessionStateChange)
                t.StateChange = Named(kStateChanges);
            else if (kind == -1 && !scheduleRead && ScheduleKind(n) != 0)
                scheduleRead = ReadSchedule(t, ScheduleKind(n));
            else
                return false;
            return true;
        });
        if (t.Type == -1 && !FFailed)
            Fail(kTaskXmlMissingNode, QStringLiteral("CalendarTrigger"));
        return t;
    }

    void ReadRepetition(TTaskTrigger& t)
    {
        QList<TTaskXmlNode> unknown;
        Children(unknown, [&](QStringView n) {
            if (n == u"Interval")
                t.RepetitionInterval = Text();
            else if (n == u"Duration")
                t.RepetitionDuration = Text();
            else if (n == u"StopAtDurationEnd")
                t.StopAtDurationEnd = Bool();
            else
                return false;
            return true;
        });
        t.Unknown += unknown;
    }

    static int ScheduleKind(QStringView n)
    {
        if (n == u"ScheduleByDay")
            return tkDaily;
        if (n == u"ScheduleByWeek")
            return tkWeekly;
        if (n == u"ScheduleByMonth")
            return tkMonthly;
        if (n == u"ScheduleByMonthDayOfWeek")
            return tkMonthlyDow;
        return 0;
    }

    bool ReadSchedule(TTaskTrigger& t, int kind)
    {
        t.Type = kind;
        Children(t.ScheduleUnknown, [&](QStringView c) {
            if (c == u"DaysInterval" && t.Type == tkDaily)
                t.DaysInterval = Int();
            else if (c == u"WeeksInterval" && t.Type == tkWeekly)
                t.WeeksInterval = Int();
            else if (c == u"DaysOfWeek" && (t.Type == tkWeekly || t.Type == tkMonthlyDow))
                t.DaysOfWeek = NameMask(kDayNames);
            else if (c == u"Months" && (t.Type == tkMonthly || t.Type == tkMonthlyDow))
                t.MonthsOfYear = NameMask(kMonthNames);
            else if (c == u"DaysOfMonth" && t.Type == tkMonthly)
                t.DaysOfMonth = NumberMask(u"Day", 31, kLastDayOfMonthBit);
            else if (c == u"Weeks" && t.Type == tkMonthlyDow)
                t.WeeksOfMonth = NumberMask(u"Week", 4, kLastWeekOfMonthBit);
            else
                return false;
            return true;
        });
        return true;
    }

    // <DaysOfWeek><Monday/>...</DaysOfWeek>: bit i for name i.
    template <std::size_t N> int NameMask(const std::array<QStringView, N>& names)
    {
        int mask = 0;
        while (!FFailed && FReader.readNextStartElement()) {
            bool known = false;
            for (std::size_t i = 0; i < N; ++i) {
                if (InTaskNamespace() && FReader.name() == names[i]) {
                    mask |= 1 << i;
                    known = true;
                }
            }
            if (!known)
                Fail(kTaskXmlUnexpectedNode, FReader.name().toString());
            FReader.skipCurrentElement();
        }
        return mask;
    }

    // <DaysOfMonth><Day>1</Day><Day>Last</Day></DaysOfMonth>: bit n-1 for n,
    // lastBit for "Last".
    int NumberMask(QStringView item, int highest, int lastBit)
    {
        int mask = 0;
        while (!FFailed && FReader.readNextStartElement()) {
            if (!InTaskNamespace() || FReader.name() != item) {
                Fail(kTaskXmlUnexpectedNode, FReader.name().toString());
                break;
            }
            const QString t = Text().trimmed();
            bool ok = false;
            const int n = t.toInt(&ok);
            if (t.compare(u"Last", Qt::CaseInsensitive) == 0)
                mask |= lastBit;
            else if (ok && n >= 1 && n <= highest)
                mask |= 1 << (n - 1);
            else
                Fail(kTaskXmlInvalidValue, item.toString(), t);
        }
        return mask;
    }

    void ReadActions(TTaskDefinition& d)
    {
        const QString context = FReader.attributes().value(QLatin1StringView("Context")).toString();
        d.ActionsContext = context;
        Children(d.Unknown, [&](QStringView n) {
            TTaskAction a;
            if (n == u"Exec")
                a.Type = akExec;
            else if (n == u"ComHandler")
                a.Type = akComHandler;
            else if (n == u"SendEmail")
                a.Type = akSendEmail;
            else if (n == u"ShowMessage")
                a.Type = akShowMessage;
            else
                return false;
            a.Id = FReader.attributes().value(QLatin1StringView("id")).toString();
            Children(a.Unknown, [&](QStringView c) {
                if (a.Type == akExec && c == u"Command")
                    a.Path = Text();
                else if (a.Type == akExec && c == u"Arguments")
                    a.Arguments = Text();
                else if (a.Type == akExec && c == u"WorkingDirectory")
                    a.WorkingDirectory = Text();
                else if (a.Type == akComHandler && c == u"ClassId")
                    a.ClassId = Text();
                else if (a.Type == akComHandler && c == u"Data")
                    a.Data = Text();
                else
                    return false;
                return true;
            });
            d.Actions.append(a);
            return true;
        });
    }

    QXmlStreamReader& FReader;
    TTaskXmlError& FError;
    bool FFailed = false;
    QString FLastName;
};

// ---------------------------------------------------------------- writing

class TWriter {
public:
    explicit TWriter(QXmlStreamWriter& writer)
        : FWriter(writer)
    {
        FWriter.setAutoFormatting(true);
        FWriter.setAutoFormattingIndent(2);
    }

    void Write(const TTaskDefinition& d)
    {
        FWriter.writeStartDocument();
        FWriter.writeDefaultNamespace(kNs);
        FWriter.writeStartElement(kNs, QStringLiteral("Task"));
        FWriter.writeAttribute(
            QStringLiteral("version"), QStringLiteral("1.%1").arg(d.Settings.Compatibility));
        for (const QXmlStreamAttribute& a : d.RootAttributes)
            Attribute(a);
        WriteRegistrationInfo(d.RegistrationInfo);
        WriteTriggers(d.Triggers);
        WritePrincipals(d);
        WriteSettings(d.Settings);
        if (!d.Data.isEmpty())
            Text(u"Data", d.Data);
        WriteActions(d);
        Nodes(d.Unknown);
        FWriter.writeEndElement();
        FWriter.writeEndDocument();
    }

private:
    void Start(QStringView name) { FWriter.writeStartElement(kNs, name.toString()); }
    void End() { FWriter.writeEndElement(); }
    void Text(QStringView name, const QString& value)
    {
        FWriter.writeTextElement(kNs, name.toString(), value);
    }
    void TextIfSet(QStringView name, const QString& value)
    {
        if (!value.isEmpty())
            Text(name, value);
    }
    void Bool(QStringView name, bool value)
    {
        Text(name, value ? QStringLiteral("true") : QStringLiteral("false"));
    }
    void Int(QStringView name, int value) { Text(name, QString::number(value)); }

    void Attribute(const QXmlStreamAttribute& a)
    {
        if (a.namespaceUri().isEmpty())
            FWriter.writeAttribute(a.qualifiedName().toString(), a.value().toString());
        else
            FWriter.writeAttribute(a.namespaceUri().toString(), a.name().toString(), a.value().toString());
    }

    void Node(const TTaskXmlNode& node)
    {
        if (node.IsText) {
            FWriter.writeCharacters(node.Text);
            return;
        }
        FWriter.writeStartElement(node.NamespaceUri, node.Name);
        for (const QXmlStreamAttribute& a : node.Attributes)
            Attribute(a);
        for (const TTaskXmlNode& child : node.Children)
            Node(child);
        FWriter.writeEndElement();
    }

    void Nodes(const QList<TTaskXmlNode>& nodes)
    {
        for (const TTaskXmlNode& n : nodes)
            Node(n);
    }

    void WriteRegistrationInfo(const TTaskRegistrationInfo& ri)
    {
        Start(u"RegistrationInfo");
        TextIfSet(u"Date", ri.Date);
        TextIfSet(u"Author", ri.Author);
        TextIfSet(u"Version", ri.Version);
        TextIfSet(u"Description", ri.Description);
        TextIfSet(u"URI", ri.Uri);
        TextIfSet(u"Source", ri.Source);
        TextIfSet(u"Documentation", ri.Documentation);
        TextIfSet(u"SecurityDescriptor", ri.SecurityDescriptor);
        Nodes(ri.Unknown);
        End();
    }

    void WriteTriggers(const QList<TTaskTrigger>& triggers)
    {
        Start(u"Triggers");
        for (const TTaskTrigger& t : triggers)
            WriteTrigger(t);
        End();
    }

    void WriteTrigger(const TTaskTrigger& t)
    {
        if (t.Type == tkCustom) {
            if (t.Custom)
                Node(*t.Custom);
            return;
        }
        QStringView element = u"CalendarTrigger";
        for (const TTriggerElement& e : kTriggerElements)
            if (e.Kind == t.Type)
                element = e.Name;
        Start(element);
        if (!t.Id.isEmpty())
            FWriter.writeAttribute(QStringLiteral("id"), t.Id);
        if (!t.RepetitionInterval.isEmpty() || !t.RepetitionDuration.isEmpty() || t.StopAtDurationEnd) {
            Start(u"Repetition");
            TextIfSet(u"Interval", t.RepetitionInterval);
            TextIfSet(u"Duration", t.RepetitionDuration);
            Bool(u"StopAtDurationEnd", t.StopAtDurationEnd);
            End();
        }
        TextIfSet(u"StartBoundary", t.StartBoundary);
        TextIfSet(u"EndBoundary", t.EndBoundary);
        TextIfSet(u"ExecutionTimeLimit", t.ExecutionTimeLimit);
        Bool(u"Enabled", t.Enabled);
        switch (t.Type) {
        case tkTime:
            TextIfSet(u"RandomDelay", t.RandomDelay);
            break;
        case tkEvent:
            TextIfSet(u"Subscription", t.Subscription);
            TextIfSet(u"Delay", t.Delay);
            break;
        case tkLogon:
            TextIfSet(u"UserId", t.UserId);
            TextIfSet(u"Delay", t.Delay);
            break;
        case tkBoot:
        case tkRegistration:
            TextIfSet(u"Delay", t.Delay);
            break;
        case tkSessionStateChange:
            TextIfSet(u"Delay", t.Delay);
            TextIfSet(u"UserId", t.UserId);
            if (t.StateChange != 0)
                Text(u"StateChange", NameOfValue(kStateChanges, t.StateChange));
            break;
        case tkDaily:
        case tkWeekly:
        case tkMonthly:
        case tkMonthlyDow:
            TextIfSet(u"RandomDelay", t.RandomDelay);
            WriteSchedule(t);
            break;
        default:
            break;
        }
        Nodes(t.Unknown);
        End();
    }

    template <std::size_t N>
    void NameMask(QStringView element, const std::array<QStringView, N>& names, int mask)
    {
        Start(element);
        for (std::size_t i = 0; i < N; ++i)
            if (mask & (1 << i))
                FWriter.writeEmptyElement(kNs, names[i].toString());
        End();
    }

    void NumberMask(QStringView element, QStringView item, int highest, int lastBit, int mask)
    {
        Start(element);
        for (int n = 1; n <= highest; ++n)
            if (mask & (1 << (n - 1)))
                Text(item, QString::number(n));
        if (mask & lastBit)
            Text(item, QStringLiteral("Last"));
        End();
    }

    void WriteSchedule(const TTaskTrigger& t)
    {
        switch (t.Type) {
        case tkDaily:
            Start(u"ScheduleByDay");
            Int(u"DaysInterval", t.DaysInterval);
            break;
        case tkWeekly:
            Start(u"ScheduleByWeek");
            Int(u"WeeksInterval", t.WeeksInterval);
            NameMask(u"DaysOfWeek", kDayNames, t.DaysOfWeek);
            break;
        case tkMonthly:
            Start(u"ScheduleByMonth");
            NumberMask(u"DaysOfMonth", u"Day", 31, kLastDayOfMonthBit, t.DaysOfMonth);
            NameMask(u"Months", kMonthNames, t.MonthsOfYear);
            break;
        default:
            Start(u"ScheduleByMonthDayOfWeek");
            NumberMask(u"Weeks", u"Week", 4, kLastWeekOfMonthBit, t.WeeksOfMonth);
            NameMask(u"DaysOfWeek", kDayNames, t.DaysOfWeek);
            NameMask(u"Months", kMonthNames, t.MonthsOfYear);
            break;
        }
        Nodes(t.ScheduleUnknown);
        End();
    }

    void WritePrincipals(const TTaskDefinition& d)
    {
        const TTaskPrincipal& p = d.Principal;
        Start(u"Principals");
        Start(u"Principal");
        if (!p.Id.isEmpty())
            FWriter.writeAttribute(QStringLiteral("id"), p.Id);
        TextIfSet(u"UserId", p.UserId);
        TextIfSet(u"GroupId", p.GroupId);
        TextIfSet(u"DisplayName", p.DisplayName);
        if (p.LogonType != lkNone)
            Text(u"LogonType", NameOfValue(kLogonTypes, p.LogonType));
        Text(u"RunLevel", NameOfValue(kRunLevels, p.RunLevel));
        Nodes(p.Unknown);
        End();
        Nodes(d.UnknownPrincipals);
        End();
    }

    void WriteSettings(const TTaskSettings& s)
    {
        Start(u"Settings");
        Text(u"MultipleInstancesPolicy", NameOfValue(kInstancePolicies, s.MultipleInstances));
        Bool(u"DisallowStartIfOnBatteries", s.DisallowStartIfOnBatteries);
        Bool(u"StopIfGoingOnBatteries", s.StopIfGoingOnBatteries);
        Bool(u"AllowHardTerminate", s.AllowHardTerminate);
        Bool(u"StartWhenAvailable", s.StartWhenAvailable);
        Bool(u"RunOnlyIfNetworkAvailable", s.RunOnlyIfNetworkAvailable);
        Start(u"IdleSettings");
        TextIfSet(u"Duration", s.IdleSettings.IdleDuration);
        TextIfSet(u"WaitTimeout", s.IdleSettings.WaitTimeout);
        Bool(u"StopOnIdleEnd", s.IdleSettings.StopOnIdleEnd);
        Bool(u"RestartOnIdle", s.IdleSettings.RestartOnIdle);
        Nodes(s.IdleSettings.Unknown);
        End();
        Bool(u"AllowStartOnDemand", s.AllowDemandStart);
        Bool(u"Enabled", s.Enabled);
        Bool(u"Hidden", s.Hidden);
        Bool(u"RunOnlyIfIdle", s.RunOnlyIfIdle);
        Bool(u"WakeToRun", s.WakeToRun);
        TextIfSet(u"ExecutionTimeLimit", s.ExecutionTimeLimit);
        TextIfSet(u"DeleteExpiredTaskAfter", s.DeleteExpiredTaskAfter);
        Int(u"Priority", s.Priority);
        if (!s.RestartInterval.isEmpty() || s.RestartCount != 0) {
            Start(u"RestartOnFailure");
            TextIfSet(u"Interval", s.RestartInterval);
            Int(u"Count", s.RestartCount);
            End();
        }
        Nodes(s.Unknown);
        End();
    }

    void WriteActions(const TTaskDefinition& d)
    {
        Start(u"Actions");
        if (!d.ActionsContext.isEmpty())
            FWriter.writeAttribute(QStringLiteral("Context"), d.ActionsContext);
        for (const TTaskAction& a : d.Actions) {
            QStringView element = u"Exec";
            if (a.Type == akComHandler)
                element = u"ComHandler";
            else if (a.Type == akSendEmail)
                element = u"SendEmail";
            else if (a.Type == akShowMessage)
                element = u"ShowMessage";
            Start(element);
            if (!a.Id.isEmpty())
                FWriter.writeAttribute(QStringLiteral("id"), a.Id);
            if (a.Type == akExec) {
                Text(u"Command", a.Path);
                TextIfSet(u"Arguments", a.Arguments);
                TextIfSet(u"WorkingDirectory", a.WorkingDirectory);
            } else if (a.Type == akComHandler) {
                Text(u"ClassId", a.ClassId);
                TextIfSet(u"Data", a.Data);
            }
            Nodes(a.Unknown);
            End();
        }
        End();
    }

    QXmlStreamWriter& FWriter;
};

} // namespace

bool operator==(const TTaskXmlNode& a, const TTaskXmlNode& b)
{
    if (a.IsText != b.IsText || a.NamespaceUri != b.NamespaceUri || a.Name != b.Name
        || a.Attributes != b.Attributes || a.Text != b.Text || a.Children.size() != b.Children.size())
        return false;
    for (qsizetype i = 0; i < a.Children.size(); ++i)
        if (!(a.Children[i] == b.Children[i]))
            return false;
    return true;
}

QString TaskXmlErrorDetail(const TTaskXmlError& error)
{
    QString text = QStringLiteral("(%1,%2):").arg(error.Line).arg(error.Column);
    if (!error.ParserMessage.isEmpty())
        return text + error.ParserMessage;
    text += error.Element;
    if (!error.Value.isEmpty())
        text += QLatin1Char(':') + error.Value;
    return text;
}

bool ReadTaskXml(const QString& xml, TTaskDefinition& definition, TTaskXmlError& error)
{
    QXmlStreamReader reader(xml);
    TTaskDefinition d;
    if (!TReader(reader, error).Read(d))
        return false;
    definition = std::move(d);
    return true;
}

bool ReadTaskXml(const QByteArray& bytes, TTaskDefinition& definition, TTaskXmlError& error)
{
    QXmlStreamReader reader(bytes);
    TTaskDefinition d;
    if (!TReader(reader, error).Read(d))
        return false;
    definition = std::move(d);
    return true;
}

QString WriteTaskXml(const TTaskDefinition& definition)
{
    QString text;
    QXmlStreamWriter writer(&text);
    TWriter(writer).Write(definition);
    return text;
}

QByteArray WriteTaskXmlFile(const TTaskDefinition& definition)
{
    QByteArray bytes;
    QXmlStreamWriter writer(&bytes);
    TWriter(writer).Write(definition);
    return bytes;
}

} // namespace kes::platform
