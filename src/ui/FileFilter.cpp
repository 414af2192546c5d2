#include "ui/FileFilter.h"

#include <QStringList>

namespace kes {

QString QtFileFilter(const QString& pairs)
{
    const QStringList parts = pairs.split(u'|');
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1];
        patterns.replace(u';', u' ');
        filters << parts[i] + QStringLiteral(" (") + patterns.simplified() + u')';
    }
    return filters.join(QStringLiteral(";;"));
}

} // namespace kes
