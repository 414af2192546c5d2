// A scheduled run driven day by day: a settings file in a temporary folder,
// a clock that says which day it is, a launcher that records every command
// line, and a reporter that records every message and event.
#pragma once

#include "planner/ScheduleRun.h"

#include <QDate>
#include <QList>
#include <QRegularExpression>
#include <QString>
#include <QTemporaryDir>

namespace kestest {

struct Launch {
    QString program;
    QString arguments;
    bool wait = false;

    QString Switch(const QString& name) const
    {
        const QRegularExpression re(QStringLiteral(" \"?/") + name + QStringLiteral(":([^ \"]*)"));
        const auto m = re.match(arguments);
        return m.hasMatch() ? m.captured(1) : QString();
    }
    QString Folder() const { return Switch(QStringLiteral("backupdir")); }
    QString Mode() const { return Switch(QStringLiteral("mode")); }
};

struct Recorder : kes::IScheduleReporter {
    QStringList infos;
    QList<int> waits;
    QStringList errors;
    QStringList questions;
    QList<kes::TScheduleEvent> events;
    bool answer = false;

    void ShowInformation(const QString& text, int waitSeconds) override
    {
        infos.append(text);
        waits.append(waitSeconds);
    }
    void ShowError(const QString& text) override { errors.append(text); }
    bool ConfirmYesNo(const QString& text) override
    {
        questions.append(text);
        return answer;
    }
    void WriteEvent(const kes::TScheduleEvent& event) override { events.append(event); }
    void Clear()
    {
        infos.clear();
        waits.clear();
        errors.clear();
        questions.clear();
        events.clear();
    }
};

} // namespace kestest
