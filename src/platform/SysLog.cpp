#include "platform/SysLog.h"

namespace kes::platform {

namespace {

constexpr const char* kMonths[12]
    = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

QByteArray CleanIdentity(const QString& identity)
{
    QByteArray out;
    for (QChar c : identity) {
        const char16_t u = c.unicode();
        if (u > 0x20 && u < 0x7F && u != ':' && u != '[' && u != ']')
            out.append(char(u));
        if (out.size() >= 48)
            break;
    }
    return out.isEmpty() ? QByteArray("-") : out;
}

// UTF-8 of the message with every control character as a blank.
QByteArray CleanMessage(const QString& message)
{
    QString text = message;
    for (QChar& c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F || c.category() == QChar::Separator_Line
            || c.category() == QChar::Separator_Paragraph)
            c = QLatin1Char(' ');
    }
    return text.toUtf8();
}

// Cuts UTF-8 bytes to at most max bytes without splitting a character.
void CutUtf8(QByteArray& bytes, qsizetype max)
{
    if (bytes.size() <= max)
        return;
    qsizetype end = max;
    while (end > 0 && (uchar(bytes[end]) & 0xC0) == 0x80)
        --end;
    bytes.truncate(end);
}

} // namespace

QByteArray FormatSysLogRecord(const QString& identity, SysLogSeverity severity, const QString& message,
    const QDateTime& localTime, qint64 pid, int facility)
{
    const int pri = (facility & 0x7F) * 8 + (int(severity) & 7);
    const QDate date = localTime.date();
    const QTime time = localTime.time();
    const int month = date.isValid() ? date.month() : 1;
    QByteArray head = "<" + QByteArray::number(pri) + ">" + kMonths[month - 1] + " ";
    head += QByteArray::number(date.isValid() ? date.day() : 1).rightJustified(2, ' ') + " ";
    head += QByteArray::number(time.hour()).rightJustified(2, '0') + ":"
        + QByteArray::number(time.minute()).rightJustified(2, '0') + ":"
        + QByteArray::number(time.second()).rightJustified(2, '0') + " ";
    head += CleanIdentity(identity) + "[" + QByteArray::number(pid) + "]: ";
    QByteArray body = CleanMessage(message);
    CutUtf8(body, kSysLogMaxRecord - head.size());
    return head + body;
}

} // namespace kes::platform
