#include "planner/SchedulePreview.h"

#include "frame/Format.h"
#include "frame/I18n.h"
#include "planner/ScheduleRun.h"

#include <QLocale>
#include <algorithm>

namespace kes {

namespace {

QLocale LocaleOf(const QString& languageCode)
{
    return languageCode.isEmpty() ? QLocale() : QLocale(languageCode);
}

} // namespace

QList<TPreviewRow> PreviewSchedule(
    TSchedTask schedule, const QDate& first, int days, const QString& languageCode)
{
    QList<TPreviewRow> rows;
    const QString problem = ScheduleProblem(schedule);
    if (!problem.isEmpty()) {
        TPreviewRow row;
        row.Day = first;
        row.Kind = TPreviewKind::pkInvalid;
        row.Note = problem;
        rows.append(row);
        return rows;
    }
    for (int i = 0; i < days; ++i) {
        const QDate day = first.addDays(i);
        TPreviewRow row;
        row.Day = day;
        if (StepDoneOnDay(schedule, day)) {
            row.Kind = TPreviewKind::pkAlreadyDone;
            row.Note = _("Skipped: backup already done for this day");
            rows.append(row);
            continue;
        }
        const TStepPlan plan = DecideStep(schedule, day, false);
        if (plan.Action == TStepAction::saWaitForFirstDay) {
            row.Kind = TPreviewKind::pkWaiting;
            row.Note = SafeFormat(_("Skipped: first full backup on next \"%s\""),
                {LocaleOf(languageCode).dayName(schedule.FirstDay, QLocale::LongFormat)});
            rows.append(row);
            continue;
        }
        row.Step = plan.Step;
        if (plan.CatchUp) {
            TPreviewRow catchUp = row;
            catchUp.Kind = TPreviewKind::pkCatchUp;
            catchUp.Mode = QStringLiteral("full");
            catchUp.KindText = N_("Full");
            catchUp.Folder = plan.CatchUpFolder;
            catchUp.Note = _("Catch-up of the missed full backup");
            rows.append(catchUp);
        }
        row.Mode = plan.Kind;
        row.KindText = plan.KindText;
        row.Folder = plan.Folder;
        rows.append(row);
        ApplyStepPlan(schedule, plan, day);
    }
    return rows;
}

QStringList PreviewColumnTitles()
{
    return {_("Date"), _("Weekday"), _("Kind"), _("Step"), _("Backup folder")};
}

QStringList PreviewRowTexts(const TPreviewRow& row, const QString& languageCode)
{
    const QLocale locale = LocaleOf(languageCode);
    QStringList texts = {row.Day.toString(QStringLiteral("yyyy-MM-dd")),
        locale.dayName(row.Day.dayOfWeek(), QLocale::ShortFormat)};
    switch (row.Kind) {
    case TPreviewKind::pkRun:
        texts << Tr(row.KindText) << QString::number(row.Step) << row.Folder;
        break;
    case TPreviewKind::pkCatchUp:
        texts << Tr(row.KindText) + QStringLiteral(" (") + _("catch-up") + QLatin1Char(')')
              << QString::number(row.Step) << row.Folder;
        break;
    default:
        texts << row.Note << QString() << QString();
        break;
    }
    return texts;
}

QString PreviewTable(const QList<TPreviewRow>& rows, const QString& languageCode)
{
    QList<QStringList> lines = {PreviewColumnTitles()};
    for (const TPreviewRow& row : rows)
        lines.append(PreviewRowTexts(row, languageCode));
    // Widths of all columns but the last; a skipped day's note runs over
    // the columns after its own.
    QList<qsizetype> widths(4, 0);
    for (const QStringList& line : lines) {
        const bool note = line.value(3).isEmpty() && line.value(4).isEmpty();
        for (int c = 0; c < 4; ++c) {
            if (note && c >= 2)
                break;
            widths[c] = std::max(widths[c], line[c].size());
        }
    }
    QString out;
    for (const QStringList& line : lines) {
        QString text;
        const bool note = line.value(3).isEmpty() && line.value(4).isEmpty();
        for (int c = 0; c < line.size(); ++c) {
            if (note && c >= 3)
                break;
            const bool last = c == line.size() - 1 || (note && c == 2);
            text += last ? line[c] : line[c].leftJustified(widths[c]) + QStringLiteral("  ");
        }
        out += text.trimmed() + QLatin1Char('\n');
    }
    return out;
}

int ParsePreviewDays(const QString& value, bool hasValue)
{
    if (!hasValue)
        return kPreviewDays;
    bool ok = false;
    const int days = value.trimmed().toInt(&ok);
    return ok && days >= 1 && days <= kMaxPreviewDays ? days : -1;
}

} // namespace kes
