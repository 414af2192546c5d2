#include "frame/MainProgram.h"

#include "frame/WinExecute.h"

namespace kes {

QString OptFlag(const QString& name)
{
    return QStringLiteral(" /") + name;
}

QString OptValue(const QString& name, const QString& value)
{
    return QLatin1Char(' ') + QuoteIfNeeded(QLatin1Char('/') + name + QLatin1Char(':') + value);
}

QString OptInt(const QString& name, qint64 n)
{
    return OptValue(name, QString::number(n));
}

QString DefaultRunOptions(const QString& alternativeIni)
{
    QString options
        = OptFlag(QStringLiteral("hide")) + OptValue(QStringLiteral("logmode"), QStringLiteral("1"));
    if (!alternativeIni.isEmpty())
        options += OptValue(QStringLiteral("ini"), alternativeIni);
    return options;
}

QString MainProgramCommandLine(const QString& programPath, const QString& taskFile, const QString& options)
{
    return QuoteIfNeeded(programPath) + QLatin1Char(' ') + QuoteIfNeeded(taskFile) + options;
}

} // namespace kes
