#include "platform/ErrorText.h"

#include <cstring>

namespace kes::platform {

QString SystemErrorText(int code)
{
    char buf[256];
    // GNU strerror_r: returns either buf or a static text.
    const char* text = strerror_r(code, buf, sizeof buf);
    QString result = QString::fromLocal8Bit(text ? text : "");
    if (result.isEmpty())
        result = QStringLiteral("Unknown error %1").arg(code);
    return result;
}

} // namespace kes::platform
