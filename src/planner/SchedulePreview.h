// The rotation preview: what the daily starts of a schedule would do over
// the coming days, computed with the decision of a real run (DecideStep,
// StepDoneOnDay, ApplyStepPlan), so the preview cannot drift from what
// the runs start. It assumes one start a day, each start succeeding.
#pragma once

#include "planner/SchedTask.h"

#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>

namespace kes {

inline constexpr int kPreviewDays = 30;
// The command line accepts no more days than this.
inline constexpr int kMaxPreviewDays = 3660;

enum class TPreviewKind {
    pkRun, // the main program is started
    pkCatchUp, // weekly: the missed full backup of the cycle, before the day's step
    pkAlreadyDone, // the day's step was started already on that day
    pkWaiting, // weekly, not begun: waits for its first day
    pkInvalid, // no rotation can run with these values
};

struct TPreviewRow {
    QDate Day;
    TPreviewKind Kind = TPreviewKind::pkRun;
    QString Mode; // "full", "differential", "incremental" (runs)
    const char* KindText = nullptr; // "Full", ... (untranslated; runs)
    int Step = 0; // runs
    QString Folder; // runs
    QString Note; // skipped days and invalid values: why
};

// One row per start (a catch-up day has two) and per skipped day, for the
// days first .. first + days - 1. An invalid schedule gives one row.
QList<TPreviewRow> PreviewSchedule(
    TSchedTask schedule, const QDate& first, int days, const QString& languageCode = QString());

// The columns "Date", "Weekday", "Kind", "Step", "Backup folder" of a row
// (translated; dates as yyyy-MM-dd, weekday the locale's short name).
QStringList PreviewColumnTitles();
QStringList PreviewRowTexts(const TPreviewRow& row, const QString& languageCode = QString());

// The rows as a text table for the terminal, with a line of titles.
QString PreviewTable(const QList<TPreviewRow>& rows, const QString& languageCode = QString());

// "preview" with an optional day count: the count, or -1 when the value
// is not a number from 1 to kMaxPreviewDays.
int ParsePreviewDays(const QString& value, bool hasValue);

} // namespace kes
