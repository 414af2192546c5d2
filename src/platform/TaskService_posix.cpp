#include "platform/TaskService.h"

#include "platform/AtomicFile.h"
#include "platform/Environment.h"
#include "platform/ErrorText.h"
#include "platform/FileName.h"
#include "platform/FileSystem.h"
#include "platform/Network.h"
#include "platform/Paths.h"
#include "platform/TaskSchedule.h"
#include "platform/TaskUnits.h"

#include <QAtomicInteger>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <QThread>
#include <algorithm>
#include <optional>
#include <unistd.h>

namespace kes::platform {

ETaskServiceError::ETaskServiceError(quint32 code, const QString& detail)
    : std::runtime_error(
        QStringLiteral("0x%1 %2").arg(code, 8, 16, QLatin1Char('0')).arg(detail).toStdString())
    , FCode(code)
    , FDetail(detail)
{
}

namespace {

constexpr qint64 kMaxDefinitionSize = 4 << 20;
constexpr int kCapWakeAlarm = 35;
constexpr int kTimerStartWaitMs = 3000;

const QString kSystemd = QStringLiteral("org.freedesktop.systemd1");
const QString kManagerPath = QStringLiteral("/org/freedesktop/systemd1");
const QString kManagerInterface = QStringLiteral("org.freedesktop.systemd1.Manager");
const QString kUnitInterface = QStringLiteral("org.freedesktop.systemd1.Unit");
const QString kServiceInterface = QStringLiteral("org.freedesktop.systemd1.Service");
const QString kTimerInterface = QStringLiteral("org.freedesktop.systemd1.Timer");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kLogin = QStringLiteral("org.freedesktop.login1");

// Exit codes the user manager reports in ExecMainCode.
constexpr int kChildExited = 1;

[[noreturn]] void RaiseSystem(int errnoValue, const QString& path)
{
    throw ETaskServiceError(
        TaskSystemError(errnoValue), path + QStringLiteral(": ") + SystemErrorText(errnoValue));
}

// sd-bus's escaping of a unit name for its object path.
QString BusLabel(const QString& name)
{
    const QByteArray bytes = name.toUtf8();
    if (bytes.isEmpty())
        return QStringLiteral("_");
    QString out;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        const bool digit = c >= '0' && c <= '9';
        if (letter || (digit && i > 0))
            out += QLatin1Char(c);
        else
            out += QStringLiteral("_%1").arg(uchar(c), 2, 16, QLatin1Char('0'));
    }
    return out;
}

quint32 CodeOf(const QDBusError& error)
{
    // A bus that tried to start the manager for the call, or has no one
    // under its name.
    if (error.name().startsWith(QStringLiteral("org.freedesktop.DBus.Error.Spawn."))
        || error.name() == u"org.freedesktop.DBus.Error.NameHasNoOwner")
        return kTaskServiceNotRunning;
    switch (error.type()) {
    case QDBusError::ServiceUnknown:
    case QDBusError::NoReply:
    case QDBusError::Disconnected:
    case QDBusError::NoServer:
    case QDBusError::Timeout:
    case QDBusError::TimedOut:
        return kTaskServiceNotRunning;
    case QDBusError::AccessDenied:
        return kTaskAccessDenied;
    default:
        return kTaskFailed;
    }
}

bool HasWakeAlarmCapability()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (!line.startsWith("CapEff:"))
            continue;
        bool ok = false;
        const quint64 caps = line.mid(7).trimmed().toULongLong(&ok, 16);
        return ok && (caps & (quint64(1) << kCapWakeAlarm));
    }
    return false;
}

QString FolderOfProgram()
{
    const QString exe = ExecutablePath();
    return exe.left(exe.lastIndexOf(QLatin1Char('/')) + 1);
}

// --------------------------------------------------------- the manager

class TManager {
public:
    explicit TManager(const TSystemdTaskServiceOptions& options)
        : FOptions(options)
        , FName(QStringLiteral("kes-tasks-%1").arg(NextId()))
    {
    }
    ~TManager()
    {
        if (FConnected)
            QDBusConnection::disconnectFromBus(FName);
        if (FSystemConnected)
            QDBusConnection::disconnectFromBus(FName + QStringLiteral("-system"));
    }
    TManager(const TManager&) = delete;
    TManager& operator=(const TManager&) = delete;

    bool Ping()
    {
        try {
            Property(kManagerPath, kManagerInterface, QStringLiteral("Version"));
            return true;
        } catch (const ETaskServiceError&) {
            return false;
        }
    }

    void Reload() { Call(ManagerCall(QStringLiteral("Reload"))); }
    void Start(const QString& unit)
    {
        Call(ManagerCall(QStringLiteral("StartUnit")) << unit << QStringLiteral("replace"));
    }
    void Restart(const QString& unit)
    {
        Call(ManagerCall(QStringLiteral("RestartUnit")) << unit << QStringLiteral("replace"));
    }
    void Stop(const QString& unit)
    {
        Call(ManagerCall(QStringLiteral("StopUnit")) << unit << QStringLiteral("replace"));
    }
    void Enable(const QStringList& units)
    {
        if (!units.isEmpty())
            Call(ManagerCall(QStringLiteral("EnableUnitFiles")) << units << false << true);
    }
    void Disable(const QStringList& units)
    {
        if (!units.isEmpty())
            Call(ManagerCall(QStringLiteral("DisableUnitFiles")) << units << false);
    }

    // Properties of a unit, asked for together; the manager loads the unit
    // when it is asked.
    QVariantList Properties(const QString& unit, const QList<std::pair<QString, QString>>& names)
    {
        const QString path = kManagerPath + QStringLiteral("/unit/") + BusLabel(unit);
        QDBusConnection bus = Bus();
        QList<QDBusPendingCall> calls;
        for (const auto& [interface, name] : names) {
            QDBusMessage m
                = QDBusMessage::createMethodCall(kSystemd, path, kProperties, QStringLiteral("Get"));
            m.setAutoStartService(false);
            m << interface << name;
            calls << bus.asyncCall(m, FOptions.CallTimeoutMs);
        }
        QVariantList values;
        for (QDBusPendingCall& c : calls) {
            c.waitForFinished();
            const QDBusMessage reply = c.reply();
            if (reply.type() != QDBusMessage::ReplyMessage)
                throw ETaskServiceError(CodeOf(c.error()), c.error().message());
            values << reply.arguments().value(0).value<QDBusVariant>().variant();
        }
        return values;
    }

    QVariant Property(const QString& path, const QString& interface, const QString& name)
    {
        QDBusMessage m = QDBusMessage::createMethodCall(kSystemd, path, kProperties, QStringLiteral("Get"));
        m.setAutoStartService(false);
        m << interface << name;
        return Call(m).arguments().value(0).value<QDBusVariant>().variant();
    }

    // logind: lets the user manager run without a session.
    void EnableLingering()
    {
        const QString name = FName + QStringLiteral("-system");
        if (!FSystemConnected) {
            const QDBusConnection c = FOptions.SystemBusAddress.isEmpty()
                ? QDBusConnection::connectToBus(QDBusConnection::SystemBus, name)
                : QDBusConnection::connectToBus(FOptions.SystemBusAddress, name);
            FSystemConnected = true;
            Q_UNUSED(c);
        }
        QDBusConnection bus(name);
        if (!bus.isConnected())
            throw ETaskServiceError(kTaskAccessDenied, bus.lastError().message());
        QDBusMessage m = QDBusMessage::createMethodCall(kLogin, QStringLiteral("/org/freedesktop/login1"),
            kLogin + QStringLiteral(".Manager"), QStringLiteral("SetUserLinger"));
        m << uint(::getuid()) << true << false;
        const QDBusMessage reply = bus.call(m, QDBus::Block, FOptions.CallTimeoutMs);
        if (reply.type() != QDBusMessage::ReplyMessage)
            throw ETaskServiceError(kTaskAccessDenied, reply.errorMessage());
    }

private:
    static int NextId()
    {
        static QAtomicInteger<int> id;
        return id.fetchAndAddRelaxed(1);
    }

    // Calls never ask the bus to start a manager: one that is not running
    // is not started behind the user's back.
    static QDBusMessage ManagerCall(const QString& method)
    {
        QDBusMessage m = QDBusMessage::createMethodCall(kSystemd, kManagerPath, kManagerInterface, method);
        m.setAutoStartService(false);
        return m;
    }

    QDBusConnection Bus()
    {
        if (FConnected && QDBusConnection(FName).isConnected())
            return QDBusConnection(FName);
        if (FConnected)
            QDBusConnection::disconnectFromBus(FName);
        FConnected = true;
        QString address = FOptions.BusAddress;
        if (address.isEmpty())
            address = GetEnvironmentValue(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
        const QString runtime = GetEnvironmentValue(QStringLiteral("XDG_RUNTIME_DIR"));
        if (address.isEmpty() && !runtime.isEmpty() && QFile::exists(runtime + QStringLiteral("/bus")))
            address = QStringLiteral("unix:path=") + runtime + QStringLiteral("/bus");
        if (!address.isEmpty())
            return QDBusConnection::connectToBus(address, FName);
        // No session bus: the manager's own socket.
        return QDBusConnection::connectToPeer(
            QStringLiteral("unix:path=") + runtime + QStringLiteral("/systemd/private"), FName);
    }

    QDBusMessage Call(const QDBusMessage& message)
    {
        QDBusConnection bus = Bus();
        if (!bus.isConnected())
            throw ETaskServiceError(kTaskServiceNotRunning, bus.lastError().message());
        const QDBusMessage reply = bus.call(message, QDBus::Block, FOptions.CallTimeoutMs);
        if (reply.type() != QDBusMessage::ReplyMessage)
            throw ETaskServiceError(CodeOf(QDBusError(reply)), reply.errorMessage());
        return reply;
    }

    const TSystemdTaskServiceOptions& FOptions;
    QString FName;
    bool FConnected = false;
    bool FSystemConnected = false;
};

// ----------------------------------------------------------- the store

struct TStored {
    QString Name;
    QString Base;
    QString File;
    QByteArray Bytes;
    bool Readable = false;
    TTaskDefinition Definition;
    TTaskXmlError Error;
};

struct TUnitFileState {
    QString Name;
    QByteArray Text;
};

bool IsValidTaskName(const QString& name)
{
    if (name.trimmed().isEmpty())
        return false;
    for (QChar c : name)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F || QStringView(u"\\/:*?\"<>|").contains(c))
            return false;
    return true;
}

bool RunsWithoutSession(int logonType)
{
    return logonType == lkPassword || logonType == lkS4U || logonType == lkServiceAccount
        || logonType == lkInteractiveTokenOrPassword;
}

class TSystemdTaskService final : public ITaskService {
public:
    explicit TSystemdTaskService(TSystemdTaskServiceOptions options)
        : FOptions(std::move(options))
        , FManager(FOptions)
    {
        if (FOptions.TaskFolder.isEmpty())
            FOptions.TaskFolder = DefaultTaskFolder();
        if (FOptions.UnitFolder.isEmpty())
            FOptions.UnitFolder = DefaultUnitFolder();
        if (FOptions.CheckProgram.isEmpty())
            FOptions.CheckProgram = FolderOfProgram() + QStringLiteral("kestask");
        if (!FOptions.Now)
            FOptions.Now = [] { return QDateTime::currentDateTime(); };
        FCanWake = HasWakeAlarmCapability();
    }

    bool IsRunning() override { return FManager.Ping(); }

    quint32 Connect() override
    {
        if (!FManager.Ping())
            return kTaskServiceNotRunning;
        Reconcile();
        return 0;
    }

    QStringList ListTasks() override
    {
        QStringList names;
        for (const TStored& s : Scan())
            if (!s.Readable || !s.Definition.Settings.Hidden)
                names << s.Name;
        std::sort(names.begin(), names.end(),
            [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
        return names;
    }

    QStringList ListFolders() override { return {}; }

    TTaskDefinition Definition(const QString& name) override { return Readable(name).Definition; }

    QString Xml(const QString& name) override
    {
        const TStored s = Require(name);
        return s.Readable ? WriteTaskXml(s.Definition) : QString::fromUtf8(s.Bytes);
    }

    QString Path(const QString& name) override { return QStringLiteral("\\") + Require(name).Name; }

    int State(const QString& name) override
    {
        const TStored s = Require(name);
        if (!s.Readable)
            return skUnknown;
        if (!s.Definition.Settings.Enabled)
            return skDisabled;
        const QString unit = TaskServiceUnit(s.Definition, s.Base);
        if (unit.isEmpty())
            return skReady;
        const QVariantList v = FManager.Properties(unit,
            {{kUnitInterface, QStringLiteral("LoadState")}, {kUnitInterface, QStringLiteral("ActiveState")},
                {kUnitInterface, QStringLiteral("SubState")}});
        const QString load = v[0].toString();
        const QString active = v[1].toString();
        const QString sub = v[2].toString();
        if (load != u"loaded")
            return skUnknown;
        if (active == u"activating" && sub == u"condition")
            return skQueued;
        if (active == u"activating" || active == u"active" || active == u"deactivating"
            || active == u"reloading")
            return skRunning;
        return skReady;
    }

    bool Enabled(const QString& name) override
    {
        const TStored s = Require(name);
        return s.Readable && s.Definition.Settings.Enabled;
    }

    void SetEnabled(const QString& name, bool enabled) override
    {
        const TStored s = Readable(name);
        TTaskDefinition d = s.Definition;
        d.Settings.Enabled = enabled;
        Save(s.Name, s.Base, d, &s);
    }

    QDateTime LastRunTime(const QString& name) override
    {
        const TStored s = Readable(name);
        const QString unit = TaskServiceUnit(s.Definition, s.Base);
        if (unit.isEmpty())
            return QDateTime();
        const qulonglong us
            = FManager.Properties(unit, {{kServiceInterface, QStringLiteral("ExecMainStartTimestamp")}})
                  .value(0)
                  .toULongLong();
        return us == 0 ? QDateTime() : QDateTime::fromMSecsSinceEpoch(qint64(us / 1000)).toLocalTime();
    }

    QDateTime NextRunTime(const QString& name) override
    {
        const TStored s = Readable(name);
        const QDateTime now = FOptions.Now();
        QDateTime best;
        if (!s.Definition.Settings.Enabled || TaskServiceUnit(s.Definition, s.Base).isEmpty())
            return best;
        for (qsizetype i = 0; i < s.Definition.Triggers.size(); ++i) {
            const TTaskTrigger& trigger = s.Definition.Triggers[i];
            const TTriggerTimes times(trigger, QTimeZone::systemTimeZone());
            if (!trigger.Enabled || !times.IsTimeBased())
                continue;
            // A timer the units do not have is not active.
            const QVariantList v = FManager.Properties(TaskTimerUnit(s.Base, int(i + 1)),
                {{kUnitInterface, QStringLiteral("ActiveState")},
                    {kTimerInterface, QStringLiteral("NextElapseUSecRealtime")}});
            const qulonglong us = v[1].toULongLong();
            if (v[0].toString() != u"active" || us == 0 || us == std::numeric_limits<qulonglong>::max())
                continue;
            QDateTime next = QDateTime::fromMSecsSinceEpoch(qint64(us / 1000)).toLocalTime();
            if (!times.CalendarIsExact(now)) {
                // The calendar wakes the start check at more times than the
                // trigger has; the trigger's own next time is the answer.
                const qint64 random = ServiceDurationSeconds(trigger.RandomDelay).value_or(0);
                next = times.NextAtOrAfter(next.addSecs(-random));
            }
            if (next.isValid() && (!best.isValid() || next < best))
                best = next.toLocalTime();
        }
        return best;
    }

    qint32 LastTaskResult(const QString& name) override
    {
        const TStored s = Readable(name);
        const QString unit = TaskServiceUnit(s.Definition, s.Base);
        if (unit.isEmpty())
            return qint32(kTaskHasNotRun);
        const QVariantList v = FManager.Properties(unit,
            {{kUnitInterface, QStringLiteral("ActiveState")}, {kUnitInterface, QStringLiteral("SubState")},
                {kServiceInterface, QStringLiteral("ExecMainStartTimestamp")},
                {kServiceInterface, QStringLiteral("ExecMainCode")},
                {kServiceInterface, QStringLiteral("ExecMainStatus")}});
        const QString active = v[0].toString();
        if ((active == u"activating" && v[1].toString() != u"condition") || active == u"active"
            || active == u"deactivating")
            return qint32(kTaskIsRunning);
        if (v[2].toULongLong() == 0)
            return qint32(kTaskHasNotRun);
        if (v[3].toInt() == kChildExited)
            return v[4].toInt();
        return qint32(kTaskTerminated);
    }

    int NumberOfMissedRuns(const QString& name) override
    {
        Require(name);
        return 0;
    }

    void Run(const QString& name) override
    {
        const TStored s = Readable(name);
        if (!s.Definition.Settings.Enabled)
            throw ETaskServiceError(kTaskDisabled, s.Name);
        if (!s.Definition.Settings.AllowDemandStart)
            throw ETaskServiceError(kTaskNoDemandStart, s.Name);
        const TTaskUnits units = Units(s);
        if (units.Service.isEmpty())
            throw ETaskServiceError(kTaskNotSupported, s.Name);
        // A task that runs already is not started a second time (the
        // manager runs one instance of a unit); no request is left behind
        // for a later start.
        const QString active
            = FManager.Properties(units.Service, {{kUnitInterface, QStringLiteral("ActiveState")}})
                  .value(0)
                  .toString();
        if (active == u"activating" || active == u"active" || active == u"deactivating")
            return;
        if (units.NeedsCheck) {
            const QString request = RunRequestFile(s.Base);
            int rc = MakeDirectories(StateFolder());
            if (rc == 0)
                rc = WriteFileAtomically(request, QByteArray());
            if (rc != 0)
                RaiseSystem(rc, request);
        }
        FManager.Start(units.Service);
    }

    void Stop(const QString& name) override
    {
        const TStored s = Readable(name);
        const QString unit = TaskServiceUnit(s.Definition, s.Base);
        if (!unit.isEmpty())
            FManager.Stop(unit);
    }

    QString Register(const QString& name, const TTaskDefinition& definition, const QString& user,
        const QString& password, int logonType) override
    {
        Q_UNUSED(password); // never stored: the user manager runs as the user already
        if (!IsValidTaskName(name))
            throw ETaskServiceError(kTaskInvalidName, name);
        if (!user.isEmpty() && !IsOwnAccount(user))
            throw ETaskServiceError(kTaskUnknownAccount, user);
        if (logonType < lkNone || logonType > lkInteractiveTokenOrPassword)
            throw ETaskServiceError(kTaskInvalidArgument, QStringLiteral("LogonType:%1").arg(logonType));
        Validate(definition);

        const std::optional<TStored> existing = Find(name);
        const QString storedName = existing ? existing->Name : name;
        const QString base = existing ? existing->Base : TaskUnitBase(storedName);
        TTaskDefinition d = definition;
        d.RegistrationInfo.Uri = QStringLiteral("\\") + storedName;
        d.Principal.LogonType = logonType;
        if (!user.isEmpty())
            d.Principal.UserId = user;
        else if (d.Principal.UserId.isEmpty())
            d.Principal.UserId = UserName();
        if (!FManager.Ping())
            throw ETaskServiceError(kTaskServiceNotRunning, QString());
        if (RunsWithoutSession(logonType)
            && !QFile::exists(QStringLiteral("/var/lib/systemd/linger/") + UserName()))
            FManager.EnableLingering();
        Save(storedName, base, d, existing ? &*existing : nullptr);
        return storedName;
    }

    void Delete(const QString& name) override
    {
        const TStored s = Require(name);
        if (!FManager.Ping())
            throw ETaskServiceError(kTaskServiceNotRunning, QString());
        const QList<TUnitFileState> units = UnitFilesOf(s.Base);
        QStringList timers;
        for (const TUnitFileState& u : units)
            if (u.Name.endsWith(QStringLiteral(".timer")))
                timers << u.Name;
        for (const QString& t : timers)
            StopQuietly(t);
        FManager.Disable(timers);
        for (qsizetype i = 0; i < units.size(); ++i) {
            const QString file = UnitFile(units[i].Name);
            const int rc = RemoveFileIfPresent(file);
            if (rc != 0) {
                for (qsizetype j = 0; j < i; ++j)
                    WriteFileAtomically(UnitFile(units[j].Name), units[j].Text);
                ReloadQuietly();
                RaiseSystem(rc, file);
            }
        }
        ReloadQuietly();
        const int rc = RemoveFileIfPresent(s.File);
        if (rc != 0) {
            for (const TUnitFileState& u : units)
                WriteFileAtomically(UnitFile(u.Name), u.Text);
            ReloadQuietly();
            RaiseSystem(rc, s.File);
        }
        RemoveFileIfPresent(CheckStampFile(s.Base));
        RemoveFileIfPresent(RunRequestFile(s.Base));
    }

    TTaskDefinition NewDefinition() override
    {
        TTaskDefinition d;
        d.Principal.UserId = UserName();
        return d;
    }

private:
    QString StateFolder() const { return FOptions.TaskFolder + QStringLiteral("/state"); }
    QString CheckStampFile(const QString& base) const
    {
        return StateFolder() + QLatin1Char('/') + base + QStringLiteral(".check");
    }
    QString RunRequestFile(const QString& base) const
    {
        return StateFolder() + QLatin1Char('/') + base + QStringLiteral(".run");
    }
    QString DefinitionFile(const QString& base) const
    {
        return FOptions.TaskFolder + QLatin1Char('/') + base + QStringLiteral(".xml");
    }
    QString UnitFile(const QString& unit) const { return FOptions.UnitFolder + QLatin1Char('/') + unit; }

    // The task base a unit file of ours belongs to; empty when it is none.
    static QString OwnerOf(const QString& unit)
    {
        static const QRegularExpression re(QStringLiteral("^kestask-(.+?)(?:\\.service|-\\d+\\.timer)$"));
        const QRegularExpressionMatch m = re.match(unit);
        return m.hasMatch() ? m.captured(1) : QString();
    }

    // A definition file, read and parsed again only when it changed (the
    // listing reads every file several times).
    TStored ReadStored(const QString& base) const
    {
        const QString file = DefinitionFile(base);
        FileStatus status;
        const bool known = GetFileStatus(file, true, status) == 0 && status.isRegular;
        if (known) {
            const auto it = FCache.constFind(base);
            if (it != FCache.cend() && it->ModificationTime == status.modificationTime
                && it->Size == status.size && it->Inode == status.inode && it->Device == status.device)
                return it->Stored;
        }
        TStored s = ReadFile(base, file);
        if (known && !s.Bytes.isEmpty())
            FCache.insert(
                base, TCached {status.modificationTime, status.size, status.inode, status.device, s});
        else
            FCache.remove(base);
        return s;
    }

    TStored ReadFile(const QString& base, const QString& file) const
    {
        TStored s;
        s.Base = base;
        s.File = file;
        s.Name = SystemdUnescape(base);
        const int rc = ReadWholeFile(s.File, s.Bytes, kMaxDefinitionSize);
        if (rc != 0) {
            s.Error.Code = TaskSystemError(rc);
            s.Error.ParserMessage = SystemErrorText(rc);
            return s;
        }
        s.Readable = ReadTaskXml(s.Bytes, s.Definition, s.Error);
        if (s.Readable) {
            const QString uri = s.Definition.RegistrationInfo.Uri;
            const QString named = uri.startsWith(QLatin1Char('\\')) ? uri.mid(1) : uri;
            if (!named.isEmpty() && TaskUnitBase(named) == base)
                s.Name = named;
        }
        return s;
    }

    QList<TStored> Scan() const
    {
        QStringList files;
        QList<TStored> out;
        if (ListFolderNames(FOptions.TaskFolder, files) != 0)
            return out;
        files.sort();
        for (const QString& f : files)
            if (f.endsWith(QStringLiteral(".xml")) && !f.startsWith(QLatin1Char('.')))
                out << ReadStored(f.left(f.size() - 4));
        return out;
    }

    std::optional<TStored> Find(const QString& name) const
    {
        const QString base = TaskUnitBase(name);
        if (QFile::exists(DefinitionFile(base))) {
            TStored s = ReadStored(base);
            if (s.Name.compare(name, Qt::CaseInsensitive) == 0)
                return s;
        }
        for (TStored& s : Scan())
            if (s.Name.compare(name, Qt::CaseInsensitive) == 0)
                return std::move(s);
        return std::nullopt;
    }

    TStored Require(const QString& name) const
    {
        std::optional<TStored> s = Find(name);
        if (!s)
            throw ETaskServiceError(kTaskNotFound, name);
        return std::move(*s);
    }

    TStored Readable(const QString& name) const
    {
        TStored s = Require(name);
        if (!s.Readable)
            throw ETaskServiceError(s.Error.Code, s.File + QLatin1Char(' ') + TaskXmlErrorDetail(s.Error));
        return s;
    }

    static bool IsOwnAccount(const QString& user)
    {
        const qsizetype slash = user.lastIndexOf(QLatin1Char('\\'));
        const QString domain = slash < 0 ? QString() : user.left(slash);
        const QString account = user.mid(slash + 1);
        const bool ownDomain
            = domain.isEmpty() || domain == u"." || domain.compare(ComputerName(), Qt::CaseInsensitive) == 0;
        return ownDomain && account == UserName();
    }

    static void CheckDuration(const QString& element, const QString& value)
    {
        if (!ServiceDurationSeconds(value))
            throw ETaskServiceError(kTaskXmlInvalidValue, element + QLatin1Char(':') + value);
    }

    static void CheckBoundary(const QString& element, const QString& value)
    {
        if (!value.isEmpty() && !ParseTaskBoundary(value).IsValid())
            throw ETaskServiceError(kTaskXmlInvalidValue, element + QLatin1Char(':') + value);
    }

    static void Validate(const TTaskDefinition& d)
    {
        if (d.Actions.isEmpty())
            throw ETaskServiceError(kTaskXmlMissingNode, QStringLiteral("Actions"));
        CheckDuration(QStringLiteral("ExecutionTimeLimit"), d.Settings.ExecutionTimeLimit);
        CheckDuration(QStringLiteral("DeleteExpiredTaskAfter"), d.Settings.DeleteExpiredTaskAfter);
        CheckDuration(QStringLiteral("RestartOnFailure/Interval"), d.Settings.RestartInterval);
        CheckDuration(QStringLiteral("IdleSettings/Duration"), d.Settings.IdleSettings.IdleDuration);
        CheckDuration(QStringLiteral("IdleSettings/WaitTimeout"), d.Settings.IdleSettings.WaitTimeout);
        for (const TTaskTrigger& t : d.Triggers) {
            CheckBoundary(QStringLiteral("StartBoundary"), t.StartBoundary);
            CheckBoundary(QStringLiteral("EndBoundary"), t.EndBoundary);
            CheckDuration(QStringLiteral("ExecutionTimeLimit"), t.ExecutionTimeLimit);
            CheckDuration(QStringLiteral("Repetition/Interval"), t.RepetitionInterval);
            CheckDuration(QStringLiteral("Repetition/Duration"), t.RepetitionDuration);
            CheckDuration(QStringLiteral("RandomDelay"), t.RandomDelay);
            CheckDuration(QStringLiteral("Delay"), t.Delay);
        }
        for (const TTaskAction& a : d.Actions)
            if (a.Type == akExec && UnquotedActionPath(a.Path).isEmpty())
                throw ETaskServiceError(kTaskXmlMissingNode, QStringLiteral("Exec/Command"));
    }

    TTaskUnits Units(const QString& name, const QString& base, const TTaskDefinition& d) const
    {
        TTaskUnitContext c;
        c.TaskName = name;
        c.UnitBase = base;
        c.DefinitionFile = DefinitionFile(base);
        c.CheckProgram = FOptions.CheckProgram;
        c.UserName = UserName();
        c.Now = FOptions.Now();
        c.CanWakeSystem = FCanWake;
        c.SplitArguments = FOptions.SplitArguments;
        return GenerateTaskUnits(d, c);
    }
    TTaskUnits Units(const TStored& s) const { return Units(s.Name, s.Base, s.Definition); }

    // The unit files of a task as they are on disk.
    QList<TUnitFileState> UnitFilesOf(const QString& base) const
    {
        QList<TUnitFileState> out;
        QStringList names;
        ListFolderNames(FOptions.UnitFolder, names);
        names.sort();
        for (const QString& n : names) {
            if (OwnerOf(n) != base)
                continue;
            TUnitFileState u;
            u.Name = n;
            ReadWholeFile(UnitFile(n), u.Text, kMaxDefinitionSize);
            out << u;
        }
        return out;
    }

    void StopQuietly(const QString& unit)
    {
        try {
            FManager.Stop(unit);
        } catch (const ETaskServiceError&) {
            // A unit the manager does not know is stopped already.
        }
    }

    void ReloadQuietly()
    {
        try {
            FManager.Reload();
        } catch (const ETaskServiceError&) {
            // The manager reads the files when it comes back.
        }
    }

    // Writes the definition and its units, and lets the manager carry them
    // out; on any failure everything is put back as it was.
    // A registration writes the definition and starts the start check's
    // count anew; bringing the units in line (writeDefinition false)
    // leaves both alone.
    void Save(const QString& name, const QString& base, const TTaskDefinition& d, const TStored* old,
        bool writeDefinition = true)
    {
        const TTaskUnits units = Units(name, base, d);
        if (!units.Error.isEmpty())
            throw ETaskServiceError(kTaskInvalidArgument, QStringLiteral("Exec/Command:") + units.Error);
        // Without its start check the service would fail at every start.
        if (units.NeedsCheck && !QFile::exists(FOptions.CheckProgram))
            throw ETaskServiceError(kTaskNotFound, FOptions.CheckProgram);
        for (const QString& folder : {FOptions.TaskFolder, FOptions.UnitFolder}) {
            const int rc = MakeDirectories(folder);
            if (rc != 0)
                RaiseSystem(rc, folder);
        }
        const QList<TUnitFileState> before = UnitFilesOf(base);
        const QString file = DefinitionFile(base);
        auto restore = [&] {
            if (writeDefinition && old && !old->Bytes.isEmpty())
                WriteFileAtomically(file, old->Bytes);
            else if (writeDefinition)
                RemoveFileIfPresent(file);
            for (const TTaskUnitFile& u : units.Files)
                RemoveFileIfPresent(UnitFile(u.Name));
            for (const TUnitFileState& u : before)
                WriteFileAtomically(UnitFile(u.Name), u.Text);
        };

        int rc = writeDefinition ? WriteFileAtomically(file, WriteTaskXmlFile(d)) : 0;
        if (rc != 0)
            RaiseSystem(rc, file);
        QStringList changed;
        for (const TTaskUnitFile& u : units.Files) {
            const auto same = std::find_if(before.begin(), before.end(),
                [&](const TUnitFileState& b) { return b.Name == u.Name && b.Text == u.Text; });
            if (same != before.end())
                continue;
            rc = WriteFileAtomically(UnitFile(u.Name), u.Text);
            if (rc != 0) {
                restore();
                RaiseSystem(rc, UnitFile(u.Name));
            }
            changed << u.Name;
        }
        QStringList gone;
        for (const TUnitFileState& b : before) {
            const bool kept = std::any_of(units.Files.begin(), units.Files.end(),
                [&](const TTaskUnitFile& u) { return u.Name == b.Name; });
            if (kept)
                continue;
            rc = RemoveFileIfPresent(UnitFile(b.Name));
            if (rc != 0) {
                restore();
                RaiseSystem(rc, UnitFile(b.Name));
            }
            gone << b.Name;
        }

        try {
            QStringList goneTimers;
            for (const QString& g : gone)
                if (g.endsWith(QStringLiteral(".timer"))) {
                    StopQuietly(g);
                    goneTimers << g;
                }
            FManager.Disable(goneTimers);
            FManager.Reload();
            QStringList enable;
            for (const TTaskUnitFile& u : units.Files)
                if (u.Enable)
                    enable << u.Name;
            FManager.Enable(enable);
            QStringList started;
            for (const TTaskUnitFile& u : units.Files) {
                if (!u.StartNow)
                    continue;
                const bool isNew = std::none_of(
                    before.begin(), before.end(), [&](const TUnitFileState& b) { return b.Name == u.Name; });
                if (isNew)
                    FManager.Start(u.Name);
                else if (changed.contains(u.Name))
                    FManager.Restart(u.Name);
                else
                    continue;
                started << u.Name;
            }
            WaitForTimers(started);
        } catch (const ETaskServiceError&) {
            restore();
            ReloadQuietly();
            throw;
        }
        if (writeDefinition) {
            // The start check counts trigger times from the definition's
            // modification on.
            RemoveFileIfPresent(CheckStampFile(base));
            RemoveFileIfPresent(RunRequestFile(base));
        }
    }

    // The manager starts a unit after answering the call; a timer is
    // waited for (briefly), so that its next elapse can be read at once,
    // and one that cannot start fails the change.
    void WaitForTimers(const QStringList& timers)
    {
        const QDeadlineTimer deadline(kTimerStartWaitMs);
        for (const QString& t : timers) {
            for (;;) {
                const QString state
                    = FManager.Properties(t, {{kUnitInterface, QStringLiteral("ActiveState")}})
                          .value(0)
                          .toString();
                if (state == u"active")
                    break;
                if (state == u"failed")
                    throw ETaskServiceError(kTaskFailed, t);
                if (deadline.hasExpired())
                    break;
                QThread::msleep(5);
            }
        }
    }

    // Brings the unit files in line with the definitions.
    void Reconcile()
    {
        QStringList described;
        bool dirty = false;
        for (const TStored& s : Scan()) {
            if (!s.Readable)
                continue;
            const TTaskUnits units = Units(s);
            if (!units.Error.isEmpty())
                continue;
            const QList<TUnitFileState> before = UnitFilesOf(s.Base);
            bool same = before.size() == units.Files.size();
            for (const TTaskUnitFile& u : units.Files) {
                described << u.Name;
                same = same && std::any_of(before.begin(), before.end(), [&](const TUnitFileState& b) {
                    return b.Name == u.Name && b.Text == u.Text;
                });
            }
            if (!same) {
                try {
                    Save(s.Name, s.Base, s.Definition, &s, false);
                } catch (const ETaskServiceError&) {
                    // Left as it is; the next change of the task tries again.
                }
            }
        }
        QStringList names;
        ListFolderNames(FOptions.UnitFolder, names);
        QStringList stale;
        for (const QString& n : names)
            if (!OwnerOf(n).isEmpty() && !described.contains(n))
                stale << n;
        // Enable links of our units whose unit file is gone.
        QStringList links;
        const QString wants = FOptions.UnitFolder + QStringLiteral("/timers.target.wants");
        ListFolderNames(wants, links);
        for (const QString& l : links)
            if (!OwnerOf(l).isEmpty() && !described.contains(l)) {
                RemoveFileIfPresent(wants + QLatin1Char('/') + l);
                dirty = true;
            }
        for (const QString& n : stale) {
            if (n.endsWith(QStringLiteral(".timer")))
                StopQuietly(n);
            if (RemoveFileIfPresent(UnitFile(n)) == 0)
                dirty = true;
        }
        if (dirty)
            ReloadQuietly();
    }

    struct TCached {
        qint64 ModificationTime;
        qint64 Size;
        quint64 Inode;
        quint64 Device;
        TStored Stored;
    };

    TSystemdTaskServiceOptions FOptions;
    TManager FManager;
    bool FCanWake = false;
    mutable QHash<QString, TCached> FCache;
};

} // namespace

QString DefaultTaskFolder()
{
    return ShellFolderPath(kFolderLocalAppData) + QStringLiteral("/Kesmo6/Tasks");
}

QString DefaultUnitFolder()
{
    return ShellFolderPath(kFolderAppData) + QStringLiteral("/systemd/user");
}

std::shared_ptr<ITaskService> CreateSystemdTaskService(TSystemdTaskServiceOptions options)
{
    return std::make_shared<TSystemdTaskService>(std::move(options));
}

TTaskStartCheck RunTaskStartCheck(
    const QString& definitionFile, const QString& triggerUnit, const QDateTime& now)
{
    TTaskStartCheck result;
    QByteArray bytes;
    const int rc = ReadWholeFile(definitionFile, bytes, kMaxDefinitionSize);
    TTaskDefinition d;
    TTaskXmlError error;
    if (rc != 0) {
        result.Reason = srUnreadable;
        result.Detail = definitionFile + QStringLiteral(": ") + SystemErrorText(rc);
        return result;
    }
    if (!ReadTaskXml(bytes, d, error)) {
        result.Reason = srUnreadable;
        result.Detail = definitionFile + QLatin1Char(' ') + TaskXmlErrorDetail(error);
        return result;
    }
    const qsizetype slash = definitionFile.lastIndexOf(QLatin1Char('/'));
    const QString folder = definitionFile.left(slash + 1) + QStringLiteral("state/");
    QString base = definitionFile.mid(slash + 1);
    base.chop(4); // ".xml"
    const QString stamp = folder + base + QStringLiteral(".check");
    const QString request = folder + base + QStringLiteral(".run");

    const bool requested = QFile::exists(request);
    if (requested)
        RemoveFileIfPresent(request);
    if (d.Settings.RunOnlyIfNetworkAvailable && !HasNetworkConnection()) {
        result.Reason = srNoNetwork;
        return result;
    }
    result.Run = true;
    result.Reason = srRequested;
    if (requested)
        return result;
    // Started by a logon, boot or registration timer of the task.
    result.Reason = srStartTimer;
    const QString prefix = kTaskUnitPrefix.toString() + base + QLatin1Char('-');
    if (triggerUnit.startsWith(prefix) && triggerUnit.endsWith(QStringLiteral(".timer"))) {
        bool ok = false;
        const int n = triggerUnit.mid(prefix.size(), triggerUnit.size() - prefix.size() - 6).toInt(&ok);
        if (ok && n >= 1 && n <= d.Triggers.size()) {
            const int kind = d.Triggers[n - 1].Type;
            if (kind == tkLogon || kind == tkBoot || kind == tkRegistration)
                return result;
        }
    }

    qint64 last = 0;
    QByteArray stampText;
    if (ReadWholeFile(stamp, stampText, 64) == 0)
        last = stampText.trimmed().toLongLong();
    else
        FileModificationMSecs(definitionFile, last);
    const QDateTime since = QDateTime::fromMSecsSinceEpoch(last);
    result.Run = false;
    result.Reason = srNotDue;
    for (const TTaskTrigger& t : d.Triggers) {
        if (!t.Enabled)
            continue;
        const TTriggerTimes times(t, QTimeZone::systemTimeZone());
        const QDateTime r = times.LastAtOrBefore(now);
        if (!r.isValid() || r <= since)
            continue;
        const qint64 random = ServiceDurationSeconds(t.RandomDelay).value_or(0);
        if (d.Settings.StartWhenAvailable || r.secsTo(now) <= random + kTaskStartSlackSeconds) {
            result.Run = true;
            result.Reason = srTriggerDue;
        }
    }
    if (MakeDirectories(folder) == 0)
        WriteFileAtomically(stamp, QByteArray::number(now.toMSecsSinceEpoch()));
    return result;
}

} // namespace kes::platform
