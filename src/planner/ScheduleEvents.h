// What a schedule run reports when nobody watches a dialog: events with an
// identifier, a type and insertion strings, written to the system log.
#pragma once

#include <QString>
#include <QStringList>

namespace kes {

// Event identifiers (source "Kestrup").
enum : quint32 {
    evBackupStarted = 0x40000017, // schedule name, task, kind text, step
    evAlreadyDone = 0x40000018, // schedule name, task
    evWaitingForFirstDay = 0x40000019, // long day name, schedule name, task
    evStartResult = 0xC0000015, // "ExitCode = n" (information) or system message (error), name, task
    evMainProgramNotFound = 0xC0000016, // none
    evScheduleNotFound = 0xC000001A, // schedule name, settings file [, reason]
};

enum class TEventType { etError, etInformation };

struct TScheduleEvent {
    quint32 Id = 0;
    TEventType Type = TEventType::etInformation;
    QStringList Strings;

    bool operator==(const TScheduleEvent&) const = default;
};

// The log line of an event: "[0x40000017] " + the event's message with its
// strings inserted (in the user's language).
QString EventText(const TScheduleEvent& event);

} // namespace kes
