#include "platform/Environment.h"

#include "platform/FileName.h"

#include <cstdlib>
#include <cstring>

extern char** environ;

namespace kes::platform {

namespace {

const char* Lookup(const QString& name)
{
    if (name.isEmpty() || name.contains(QLatin1Char('=')))
        return nullptr;
    const QByteArray key = EncodeName(name);
    if (const char* v = std::getenv(key.constData()))
        return v;
    for (char** e = environ; e && *e; ++e) {
        const char* eq = std::strchr(*e, '=');
        if (eq && eq - *e == key.size() && strncasecmp(*e, key.constData(), size_t(key.size())) == 0)
            return eq + 1;
    }
    return nullptr;
}

} // namespace

QString GetEnvironmentValue(const QString& name)
{
    const char* v = Lookup(name);
    return v ? DecodeName(v, qsizetype(std::strlen(v))) : QString();
}

bool IsEnvironmentSet(const QString& name)
{
    return Lookup(name) != nullptr;
}

void SetEnvironmentValue(const QString& name, const QString& value)
{
    if (name.isEmpty() || name.contains(QLatin1Char('=')))
        return;
    const QByteArray key = EncodeName(name);
    if (value.isEmpty())
        ::unsetenv(key.constData());
    else
        ::setenv(key.constData(), EncodeName(value).constData(), 1);
}

} // namespace kes::platform
