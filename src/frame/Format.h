// Format(pattern, args): the placeholder syntax used by every message of
// both programs: "%" [index ":"] ["-"] [width] ["." precision] type, with
// the types d (signed), u (unsigned), x / X (hexadecimal), s (text), f
// (fixed) and "%%" for a percent sign. A pattern that does not fit its
// arguments raises EFormatError; SafeFormat never raises.
#pragma once

#include <QString>
#include <cstdint>
#include <initializer_list>
#include <stdexcept>
#include <variant>

namespace kes {

class EFormatError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class FormatArg {
public:
    FormatArg(int v)
        : FValue(qint64(v))
    {
    }
    FormatArg(long v)
        : FValue(qint64(v))
    {
    }
    FormatArg(long long v)
        : FValue(qint64(v))
    {
    }
    FormatArg(unsigned v)
        : FValue(quint64(v))
    {
    }
    FormatArg(unsigned long v)
        : FValue(quint64(v))
    {
    }
    FormatArg(unsigned long long v)
        : FValue(quint64(v))
    {
    }
    FormatArg(double v)
        : FValue(v)
    {
    }
    FormatArg(const QString& v)
        : FValue(v)
    {
    }
    FormatArg(const char* utf8)
        : FValue(QString::fromUtf8(utf8))
    {
    }
    FormatArg(QLatin1StringView v)
        : FValue(QString(v))
    {
    }

    const std::variant<qint64, quint64, double, QString>& value() const { return FValue; }

private:
    std::variant<qint64, quint64, double, QString> FValue;
};

// Raises EFormatError when a placeholder has no argument or the wrong kind.
QString Format(const QString& pattern, std::initializer_list<FormatArg> args);

// Like Format, but on failure the result is "Format error: " + pattern.
QString SafeFormat(const QString& pattern, std::initializer_list<FormatArg> args);

} // namespace kes
