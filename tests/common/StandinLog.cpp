#include "common/StandinLog.h"

#include "common/TestSupport.h"
#include "platform/FileName.h"

#include <QFile>

namespace kestest {

namespace {

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

QString Unescape(const QByteArray& field)
{
    QByteArray raw;
    raw.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        const char c = field[i];
        if (c != '\\' || i + 1 >= field.size()) {
            raw.append(c);
            continue;
        }
        const char e = field[++i];
        switch (e) {
        case 't':
            raw.append('\t');
            break;
        case 'n':
            raw.append('\n');
            break;
        case 'r':
            raw.append('\r');
            break;
        case 'x':
            if (i + 2 < field.size() && HexValue(field[i + 1]) >= 0 && HexValue(field[i + 2]) >= 0) {
                raw.append(char(HexValue(field[i + 1]) * 16 + HexValue(field[i + 2])));
                i += 2;
            } else {
                raw.append("\\x");
            }
            break;
        default:
            raw.append(e);
        }
    }
    return kes::platform::DecodeName(raw);
}

} // namespace

QString StandinProgram()
{
    return QStringLiteral(KES_STANDIN_PATH);
}

QList<StandinCall> ReadStandinLog(const QString& logFile)
{
    QList<StandinCall> calls;
    const QByteArray all = ReadBytes(logFile);
    for (const QByteArray& line : all.split('\n')) {
        if (line.isEmpty())
            continue;
        const QList<QByteArray> fields = line.split('\t');
        StandinCall call;
        call.workingFolder = Unescape(fields[0]);
        for (qsizetype i = 1; i < fields.size(); ++i)
            call.arguments.append(Unescape(fields[i]));
        calls.append(call);
    }
    return calls;
}

bool WaitForStandinCalls(const QString& logFile, int count, std::chrono::milliseconds timeout)
{
    return WaitUntil([&] { return ReadStandinLog(logFile).size() >= count; }, timeout);
}

StandinEnvironment::StandinEnvironment(const QString& logFile, int exitCode, int sleepMs)
    : m_logFile(logFile)
{
    const QList<QPair<QByteArray, QByteArray>> values = {
        {"KESMO_STANDIN_LOG", QFile::encodeName(logFile)},
        {"KESMO_STANDIN_EXIT", QByteArray::number(exitCode)},
        {"KESMO_STANDIN_SLEEP_MS", QByteArray::number(sleepMs)},
    };
    for (const auto& [name, value] : values) {
        m_saved.append({name, qEnvironmentVariableIsSet(name.constData()), qgetenv(name.constData())});
        qputenv(name.constData(), value);
    }
}

StandinEnvironment::~StandinEnvironment()
{
    for (const Saved& s : m_saved) {
        if (s.wasSet)
            qputenv(s.name.constData(), s.value);
        else
            qunsetenv(s.name.constData());
    }
}

} // namespace kestest
