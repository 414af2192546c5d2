// The main backup program's command line: switch building and the default
// options of a schedule run.
#pragma once

#include <QString>

namespace kes {

// " /" + name
QString OptFlag(const QString& name);
// " " + QuoteIfNeeded("/" + name + ":" + value)
QString OptValue(const QString& name, const QString& value);
// OptValue(name, decimal n)
QString OptInt(const QString& name, qint64 n);

}  // namespace kes
