// The main backup program's command line: switch building and the default
// options of a schedule run.
//
// Command line: QuoteIfNeeded(program path) + " " + QuoteIfNeeded(task
// file) + options, where every option begins with a blank. The line is
// split again by SplitCommandLine (frame/WinExecute.h), so every switch the
// builders below produce reaches the program as one argument.
#pragma once

#include <QString>

namespace kes {

// " /" + name
QString OptFlag(const QString& name);
// " " + QuoteIfNeeded("/" + name + ":" + value)
QString OptValue(const QString& name, const QString& value);
// OptValue(name, decimal n)
QString OptInt(const QString& name, qint64 n);

// The options a schedule run always passes: OptFlag("hide") +
// OptValue("logmode", "1"), plus OptValue("ini", alternativeIni) when an
// alternative settings file is in use (not empty).
QString DefaultRunOptions(const QString& alternativeIni = QString());

// QuoteIfNeeded(programPath) + " " + QuoteIfNeeded(taskFile) + options.
QString MainProgramCommandLine(const QString& programPath, const QString& taskFile, const QString& options);

} // namespace kes
