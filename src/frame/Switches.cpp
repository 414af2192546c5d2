#include "frame/Switches.h"

namespace kes {

namespace {

bool IsDigitOf(QChar c, int base)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return true;
    return base == 16 && ((u >= u'a' && u <= u'f') || (u >= u'A' && u <= u'F'));
}

} // namespace

bool MatchOption(const QString& word, const QString& keyword)
{
    if (word.size() > keyword.size())
        return false;
    return keyword.left(word.size()).compare(word, Qt::CaseInsensitive) == 0;
}

bool ReadOptionValue(QString& argument, const QString& keyword)
{
    const qsizetype colon = argument.indexOf(QLatin1Char(':'));
    if (colon < 0 || !MatchOption(argument.left(colon), keyword))
        return false;
    argument.remove(0, colon + 1);
    return true;
}

qint64 TextToInt64(const QString& text, bool* ok)
{
    QString t = text;
    bool negative = false;
    if (t.startsWith(QLatin1Char('-')) || t.startsWith(QLatin1Char('+'))) {
        negative = t.startsWith(QLatin1Char('-'));
        t.remove(0, 1);
    }
    int base = 10;
    if (t.startsWith(QLatin1Char('$'))) {
        base = 16;
        t.remove(0, 1);
    } else if (t.size() > 2 && (t.startsWith(QLatin1String("0x")) || t.startsWith(QLatin1String("0X")))) {
        base = 16;
        t.remove(0, 2);
    }
    // Only digits of the base: no blanks, no second sign.
    bool valid = !t.isEmpty();
    for (const QChar c : t)
        valid = valid && IsDigitOf(c, base);
    if (!valid) {
        *ok = false;
        return 0;
    }
    if (base == 16) {
        // Hexadecimal texts give the bit pattern, as "$FFFFFFFFFFFFFFFF" = -1.
        const quint64 u = t.toULongLong(ok, 16);
        return negative ? -qint64(u) : qint64(u);
    }
    const qint64 v = (negative ? QLatin1Char('-') + t : t).toLongLong(ok, 10);
    return v;
}

qint64 ReadNextInt(QString& text, QChar separator, qint64 defaultValue)
{
    qsizetype start = 0;
    while (start < text.size() && text[start] == QLatin1Char(' '))
        ++start;
    text.remove(0, start);
    const qsizetype sep = text.indexOf(separator);
    const QString part = sep < 0 ? text : text.left(sep);
    text.remove(0, sep < 0 ? text.size() : sep + 1);
    bool ok = false;
    const qint64 v = TextToInt64(part, &ok);
    return ok ? v : defaultValue;
}

bool IsSwitch(const QString& argument, QString& word)
{
    if (argument.isEmpty() || (argument[0] != QLatin1Char('/') && argument[0] != QLatin1Char('-')))
        return false;
    word = argument.mid(1);
    return true;
}

} // namespace kes
