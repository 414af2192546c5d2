// Environment variables of this process.
#pragma once

#include <QString>

namespace kes::platform {

// The value of an environment variable; empty when it is not set. Names are
// matched exactly first; when no variable has exactly that name, the first
// one whose name matches without regard to case is taken (names written for
// Windows, such as %Temp%, are case-insensitive there).
QString GetEnvironmentValue(const QString& name);
bool IsEnvironmentSet(const QString& name);

// Sets (or, with an empty value, removes) a variable of this process; the
// programs it starts inherit it.
void SetEnvironmentValue(const QString& name, const QString& value);

} // namespace kes::platform
