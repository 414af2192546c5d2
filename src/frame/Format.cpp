#include "frame/Format.h"

#include "frame/I18n.h"

#include <vector>

namespace kes {

namespace {

QString Pad(QString text, int width, bool left)
{
    if (width > text.size()) {
        const QString fill(width - text.size(), QLatin1Char(' '));
        text = left ? text + fill : fill + text;
    }
    return text;
}

QString MinDigits(QString digits, int precision)
{
    bool neg = digits.startsWith(QLatin1Char('-'));
    if (neg)
        digits.remove(0, 1);
    if (precision > digits.size())
        digits.prepend(QString(precision - digits.size(), QLatin1Char('0')));
    return neg ? QLatin1Char('-') + digits : digits;
}

[[noreturn]] void Fail(const QString& pattern)
{
    throw EFormatError("Format '" + pattern.toStdString() + "' invalid or incompatible with argument");
}

} // namespace

QString Format(const QString& pattern, std::initializer_list<FormatArg> argList)
{
    const std::vector<FormatArg> args(argList);
    QString out;
    out.reserve(pattern.size() + 16);
    size_t next = 0;
    const qsizetype n = pattern.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = pattern[i];
        if (c != QLatin1Char('%')) {
            out.append(c);
            continue;
        }
        if (++i >= n)
            Fail(pattern);
        if (pattern[i] == QLatin1Char('%')) {
            out.append(QLatin1Char('%'));
            continue;
        }
        // Optional index: digits followed by ':'
        qsizetype j = i;
        while (j < n && pattern[j].isDigit())
            ++j;
        if (j < n && j > i && pattern[j] == QLatin1Char(':')) {
            next = size_t(pattern.mid(i, j - i).toInt());
            i = j + 1;
        }
        bool left = false;
        if (i < n && pattern[i] == QLatin1Char('-')) {
            left = true;
            ++i;
        }
        int width = -1;
        if (i < n && pattern[i] == QLatin1Char('*')) {
            if (next >= args.size() || !std::holds_alternative<qint64>(args[next].value()))
                Fail(pattern);
            width = int(std::get<qint64>(args[next++].value()));
            ++i;
        } else {
            j = i;
            while (j < n && pattern[j].isDigit())
                ++j;
            if (j > i)
                width = pattern.mid(i, j - i).toInt();
            i = j;
        }
        int precision = -1;
        if (i < n && pattern[i] == QLatin1Char('.')) {
            ++i;
            j = i;
            while (j < n && pattern[j].isDigit())
                ++j;
            precision = j > i ? pattern.mid(i, j - i).toInt() : 0;
            i = j;
        }
        if (i >= n || next >= args.size())
            Fail(pattern);
        const QChar type = pattern[i].toLower();
        const auto& v = args[next++].value();
        QString text;
        if (type == QLatin1Char('s')) {
            if (!std::holds_alternative<QString>(v))
                Fail(pattern);
            text = std::get<QString>(v);
            if (precision >= 0 && precision < text.size())
                text.truncate(precision);
        } else if (type == QLatin1Char('d') || type == QLatin1Char('u')) {
            if (std::holds_alternative<qint64>(v)) {
                qint64 x = std::get<qint64>(v);
                if (type == QLatin1Char('u') && x < 0)
                    text = QString::number(x >= INT32_MIN ? quint64(quint32(qint32(x))) : quint64(x));
                else
                    text = QString::number(x);
            } else if (std::holds_alternative<quint64>(v)) {
                text = QString::number(std::get<quint64>(v));
            } else {
                Fail(pattern);
            }
            text = MinDigits(text, precision);
        } else if (type == QLatin1Char('x')) {
            quint64 x = 0;
            if (std::holds_alternative<qint64>(v)) {
                const qint64 s = std::get<qint64>(v);
                x = (s < 0 && s >= INT32_MIN) ? quint64(quint32(qint32(s))) : quint64(s);
            } else if (std::holds_alternative<quint64>(v)) {
                x = std::get<quint64>(v);
            } else {
                Fail(pattern);
            }
            text = MinDigits(QString::number(x, 16).toUpper(), precision);
        } else if (type == QLatin1Char('f')) {
            double x = 0;
            if (std::holds_alternative<double>(v))
                x = std::get<double>(v);
            else if (std::holds_alternative<qint64>(v))
                x = double(std::get<qint64>(v));
            else if (std::holds_alternative<quint64>(v))
                x = double(std::get<quint64>(v));
            else
                Fail(pattern);
            text = QString::number(x, 'f', precision < 0 ? 2 : precision);
        } else {
            Fail(pattern);
        }
        out.append(Pad(text, width, left));
    }
    return out;
}

QString SafeFormat(const QString& pattern, std::initializer_list<FormatArg> args)
{
    try {
        return Format(pattern, args);
    } catch (const EFormatError&) {
        return U_("Format error: ") + pattern;
    }
}

} // namespace kes
