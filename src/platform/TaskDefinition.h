// Task definitions as the task service keeps them: plain records of the
// values of a Task Scheduler 2.0 task and their XML form.
//
// The records hold the service's own values: durations and time bounds are
// the texts of the XML ("PT1H30M", "2025-03-01T20:00:00+01:00"), kinds and
// policies are the service's numbers, masks are the service's bit masks.
// Turning them into seconds, local date-times and enumerations is the task
// model's work (planner/WinTask.h).
//
// The XML is the format of exported scheduled tasks (namespace
// kTaskXmlNamespace, root element "Task"). Reading keeps every element it
// does not know, with its attributes, text and children, in the Unknown
// list of the record it was found in; writing puts those elements back
// after the known ones, so a file from another writer loses nothing. A
// definition written and read back compares equal.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QXmlStreamAttributes>
#include <optional>

namespace kes::platform {

inline constexpr QStringView kTaskXmlNamespace = u"http://schemas.microsoft.com/windows/2004/02/mit/task";

// An XML element (or a text between elements) that the reader did not know.
struct TTaskXmlNode {
    bool IsText = false; // a text node: only Text is used
    QString NamespaceUri;
    QString Name; // local name
    QXmlStreamAttributes Attributes;
    QString Text;
    QList<TTaskXmlNode> Children; // elements and texts in document order

    friend bool operator==(const TTaskXmlNode& a, const TTaskXmlNode& b);
};

// Trigger kinds (the service's numbers).
enum TTaskTriggerKind : int {
    tkEvent = 0,
    tkTime = 1,
    tkDaily = 2,
    tkWeekly = 3,
    tkMonthly = 4,
    tkMonthlyDow = 5,
    tkIdle = 6,
    tkRegistration = 7,
    tkBoot = 8,
    tkLogon = 9,
    tkSessionStateChange = 11,
    tkCustom = 12,
};

// Action kinds (the service's numbers).
enum TTaskActionKind : int { akExec = 0, akComHandler = 5, akSendEmail = 6, akShowMessage = 7 };

// Logon types of the principal (the service's numbers).
enum TTaskLogonKind : int {
    lkNone = 0,
    lkPassword = 1,
    lkS4U = 2,
    lkInteractiveToken = 3,
    lkGroup = 4,
    lkServiceAccount = 5,
    lkInteractiveTokenOrPassword = 6,
};

// Multiple-instances policies (the service's numbers).
enum TTaskInstancesPolicy : int { ipParallel = 0, ipQueue = 1, ipIgnoreNew = 2, ipStopExisting = 3 };

// Bits of the masks.
inline constexpr int kLastDayOfMonthBit = int(0x80000000u); // DaysOfMonth: the last day
inline constexpr int kLastWeekOfMonthBit = 16; // WeeksOfMonth: the last week

struct TTaskRegistrationInfo {
    QString Description;
    QString Author;
    QString Documentation;
    QString Date; // date text, as stored
    QString Uri;
    QString Version;
    QString Source;
    QString SecurityDescriptor;
    QList<TTaskXmlNode> Unknown;

    friend bool operator==(const TTaskRegistrationInfo&, const TTaskRegistrationInfo&) = default;
};

struct TTaskPrincipal {
    QString Id = QStringLiteral("Author"); // the "id" attribute
    QString UserId;
    QString GroupId;
    QString DisplayName;
    int LogonType = lkNone; // TTaskLogonKind
    int RunLevel = 0; // 0 least privilege, 1 highest available
    QList<TTaskXmlNode> Unknown;

    friend bool operator==(const TTaskPrincipal&, const TTaskPrincipal&) = default;
};

struct TTaskIdleSettings {
    QString IdleDuration = QStringLiteral("PT10M");
    QString WaitTimeout = QStringLiteral("PT1H");
    bool StopOnIdleEnd = true;
    bool RestartOnIdle = false;
    QList<TTaskXmlNode> Unknown;

    friend bool operator==(const TTaskIdleSettings&, const TTaskIdleSettings&) = default;
};

struct TTaskSettings {
    bool AllowDemandStart = true;
    bool AllowHardTerminate = true;
    bool Enabled = true;
    bool Hidden = false;
    bool RunOnlyIfIdle = false;
    bool DisallowStartIfOnBatteries = true;
    bool StopIfGoingOnBatteries = true;
    bool StartWhenAvailable = false;
    bool RunOnlyIfNetworkAvailable = false;
    bool WakeToRun = false;
    int Compatibility = 2; // kept as the minor number of the Task element's version ("1.2")
    int MultipleInstances = ipIgnoreNew; // TTaskInstancesPolicy
    int Priority = 7; // 0 (highest) .. 10 (lowest)
    QString ExecutionTimeLimit = QStringLiteral("PT72H");
    QString DeleteExpiredTaskAfter;
    QString RestartInterval; // RestartOnFailure
    int RestartCount = 0;
    TTaskIdleSettings IdleSettings;
    QList<TTaskXmlNode> Unknown;

    friend bool operator==(const TTaskSettings&, const TTaskSettings&) = default;
};

// One trigger. Fields that do not belong to its kind are not written and
// read back as their defaults.
struct TTaskTrigger {
    int Type = tkTime; // TTaskTriggerKind
    QString Id;
    bool Enabled = true;
    QString StartBoundary;
    QString EndBoundary;
    QString ExecutionTimeLimit;
    QString RepetitionInterval;
    QString RepetitionDuration;
    bool StopAtDurationEnd = false;
    QString RandomDelay; // time and calendar triggers
    QString Delay; // event, boot, logon, registration and session-state triggers
    int DaysInterval = 1; // daily
    int WeeksInterval = 1; // weekly
    int DaysOfWeek = 0; // weekly, monthly by weekday: Sunday 1 ... Saturday 64
    int DaysOfMonth = 0; // monthly: day n = bit n-1, kLastDayOfMonthBit = the last day
    int MonthsOfYear = 0; // monthly, monthly by weekday: January 1 ... December 2048
    int WeeksOfMonth = 0; // monthly by weekday: first 1 ... fourth 8, kLastWeekOfMonthBit
    QString UserId; // logon and session-state triggers
    QString Subscription; // event trigger: the event query
    int StateChange = 0; // session-state trigger
    QList<TTaskXmlNode> Unknown; // unknown children of the trigger element
    QList<TTaskXmlNode> ScheduleUnknown; // unknown children of a calendar trigger's schedule element
    std::optional<TTaskXmlNode> Custom; // tkCustom: the whole element, written back unchanged

    friend bool operator==(const TTaskTrigger&, const TTaskTrigger&) = default;
};

struct TTaskAction {
    int Type = akExec; // TTaskActionKind
    QString Id;
    QString Path; // exec: Command
    QString Arguments; // exec
    QString WorkingDirectory; // exec
    QString ClassId; // COM handler
    QString Data; // COM handler
    QList<TTaskXmlNode> Unknown; // unknown children (all children of mail and message actions)

    friend bool operator==(const TTaskAction&, const TTaskAction&) = default;
};

struct TTaskDefinition {
    TTaskRegistrationInfo RegistrationInfo;
    QList<TTaskTrigger> Triggers;
    TTaskPrincipal Principal;
    TTaskSettings Settings;
    QString Data; // the definition's free text
    QString ActionsContext = QStringLiteral("Author");
    QList<TTaskAction> Actions;
    QList<TTaskXmlNode> Unknown; // unknown children of the Task element
    QList<TTaskXmlNode> UnknownPrincipals; // further Principal elements
    QXmlStreamAttributes RootAttributes; // unknown attributes of the Task element

    friend bool operator==(const TTaskDefinition&, const TTaskDefinition&) = default;
};

// Result codes of the task service (HRESULT values; negative = failure).
// Their texts are the task model's (planner/WinTask.h, TaskErrorText).
inline constexpr quint32 kTaskHasNotRun = 0x00041303; // last result of a task that never ran
inline constexpr quint32 kTaskIsRunning = 0x00041301; // last result while an instance runs
inline constexpr quint32 kTaskTerminated = 0x00041306; // the last run was ended by a stop or a signal
inline constexpr quint32 kTaskServiceNotRunning = 0x80041315; // no user manager reachable
inline constexpr quint32 kTaskXmlUnexpectedNode = 0x80041316;
inline constexpr quint32 kTaskXmlInvalidValue = 0x80041318;
inline constexpr quint32 kTaskXmlMissingNode = 0x80041319;
inline constexpr quint32 kTaskXmlMalformed = 0x8004131A;
inline constexpr quint32 kTaskDisabled = 0x80041326; // a disabled task cannot be run
inline constexpr quint32 kTaskNoDemandStart = 0x80041328; // the task does not allow to be run on demand
inline constexpr quint32 kTaskFailed = 0x80004005; // the user manager refused a call
inline constexpr quint32 kTaskNotFound = 0x80070002;
inline constexpr quint32 kTaskAccessDenied = 0x80070005;
inline constexpr quint32 kTaskInvalidArgument = 0x80070057;
inline constexpr quint32 kTaskInvalidName = 0x8007007B;
inline constexpr quint32 kTaskNotSupported = 0x80070032;
inline constexpr quint32 kTaskUnknownAccount = 0x80070534; // the account is not the one of this user manager
// A system call failed: this facility with the errno value in the low
// 16 bits (kept apart from the Windows error numbers above).
inline constexpr quint32 kTaskSystemErrorBase = 0x80F00000;
inline constexpr quint32 TaskSystemError(int errnoValue)
{
    return kTaskSystemErrorBase | (quint32(errnoValue) & 0xFFFF);
}

// Why a text is not a task definition.
struct TTaskXmlError {
    quint32 Code = 0; // kTaskXml...
    qint64 Line = 0; // 1-based place; 0 when unknown
    qint64 Column = 0;
    QString Element; // the element at fault
    QString Value; // the value at fault
    QString ParserMessage; // the XML parser's text for malformed XML
};
// "(line,column):Element:value", or "(line,column):" + the parser's text.
QString TaskXmlErrorDetail(const TTaskXmlError& error);

// Reads a task XML text. Returns false and fills error when the text is not
// well-formed XML, its root is not "Task", or a known element holds a value
// that is not a valid value of its kind (a boolean other than true / false
// / 1 / 0, a number that does not convert, an unknown logon type).
bool ReadTaskXml(const QString& xml, TTaskDefinition& definition, TTaskXmlError& error);
// The same from the bytes of a file: the encoding follows the byte-order
// mark or the XML declaration (UTF-8 without either).
bool ReadTaskXml(const QByteArray& bytes, TTaskDefinition& definition, TTaskXmlError& error);

// The definition's XML text (without encoding declaration, as the Xml
// properties give it).
QString WriteTaskXml(const TTaskDefinition& definition);
// The definition's XML as the bytes of a file: UTF-8 with declaration.
QByteArray WriteTaskXmlFile(const TTaskDefinition& definition);

} // namespace kes::platform
