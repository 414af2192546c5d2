#include "planner/ScheduleEvents.h"

#include "frame/Format.h"
#include "frame/I18n.h"
#include "frame/ProgramPaths.h"

namespace kes {

QString EventText(const TScheduleEvent& event)
{
    const auto arg = [&event](int i) { return i < event.Strings.size() ? event.Strings[i] : QString(); };
    QString text;
    switch (event.Id) {
    case evBackupStarted:
        text = SafeFormat(_("Backup started for schedule: %s\nBackup task: %s\nMode: %s / Step: %s"),
            {arg(0), arg(1), arg(2), arg(3)});
        break;
    case evAlreadyDone:
        text = SafeFormat(
            _("Backup already done for this day!\nSchedule: %s\nBackup task: %s"), {arg(0), arg(1)});
        break;
    case evWaitingForFirstDay:
        text = SafeFormat(
            _("First full backup on next \"%s\"!\nSchedule: %s\nBackup task: %s"), {arg(0), arg(1), arg(2)});
        break;
    case evStartResult:
        if (event.Type == TEventType::etError)
            text = SafeFormat(_("Error %s on starting \"%s\"!\nSchedule: %s\nBackup task: %s"),
                {arg(0), MainProgramFile(), arg(1), arg(2)});
        else
            text = SafeFormat(_("\"%s\" ended with %s\nSchedule: %s\nBackup task: %s"),
                {MainProgramFile(), arg(0), arg(1), arg(2)});
        break;
    case evMainProgramNotFound:
        text = SafeFormat(_("\"%s\" not found on this system!"), {MainProgramFile()});
        break;
    case evScheduleNotFound:
        if (event.Strings.size() > 2)
            text = SafeFormat(
                _("Schedule \"%s\" cannot be run: %s\nSettings file: %s"), {arg(0), arg(2), arg(1)});
        else if (arg(0).isEmpty())
            text = SafeFormat(_("No schedule named on the command line.\nSettings file: %s"), {arg(1)});
        else
            text = SafeFormat(_("Schedule \"%s\" not found!\nSettings file: %s"), {arg(0), arg(1)});
        break;
    default:
        text = event.Strings.join(QStringLiteral(", "));
        break;
    }
    return SafeFormat(QStringLiteral("[0x%.8X] "), {unsigned(event.Id)}) + text;
}

} // namespace kes
