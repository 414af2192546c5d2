#include "planner/ScheduleRun.h"

#include "frame/Switches.h"
#include "frame/WinExecute.h"
#include "planner/SchedulePreview.h"

#include <algorithm>

namespace kes {

namespace {

bool IsPreviewSwitch(const QString& word)
{
    const QString keyword = word.section(QLatin1Char(':'), 0, 0);
    return keyword.compare(QStringLiteral("preview"), Qt::CaseInsensitive) == 0;
}

} // namespace

TMarvickCommandLine ParseMarvickCommandLine(const QStringList& arguments)
{
    TMarvickCommandLine cmd;
    for (const QString& argument : arguments) {
        QString word;
        if (!IsSwitch(argument, word)) {
            cmd.SchedName = argument;
            continue;
        }
        QString value = word;
        if (ReadOptionValue(value, QStringLiteral("ini"))) {
            cmd.AltIni = value;
            cmd.UseAltIni = true;
        } else if (ReadOptionValue(value, QStringLiteral("delay"))) {
            const qint64 wait = ReadNextInt(value, QLatin1Char(' '), 5);
            cmd.Wait = int(std::clamp<qint64>(wait, 0, 24 * 3600));
        } else if (MatchOption(word, QStringLiteral("interactive"))) {
            cmd.IntAct = true;
        } else if (MatchOption(word, QStringLiteral("dark"))) {
            cmd.UseDarkMode = true;
        } else if (IsPreviewSwitch(word)) {
            // Written out in full: an abbreviation would take switches
            // meant for the main program ("/p" of "/prompt").
            const qsizetype colon = word.indexOf(QLatin1Char(':'));
            cmd.Preview = true;
            cmd.PreviewDays = ParsePreviewDays(word.mid(colon + 1), colon >= 0);
        } else {
            // Passed on as one argument: a switch with a blank is enclosed
            // in quotes, so the main program's line splits back to it.
            cmd.OtherOptions += QLatin1Char(' ') + QuoteIfNeeded(argument);
        }
    }
    return cmd;
}

} // namespace kes
