// The system's text for an error code (errno on Linux).
#pragma once

#include <QString>

namespace kes::platform {

// The system's message for the code, in the language of the messages
// locale; never empty (an unknown code gives the system's "Unknown error").
QString SystemErrorText(int code);

} // namespace kes::platform
