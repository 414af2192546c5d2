// The real name of a file: every symbolic link, "." and ".." resolved.
#pragma once

#include <QString>

namespace kes::platform {

// The absolute name of an existing file or directory with every symbolic
// link and every "." and ".." step resolved. 0, or the system's error code
// (for example when a part of the name does not exist).
int CanonicalPath(const QString& name, QString& result);

// Whether path equals root or lies below it, by the text of two canonical
// names ("/a/b" lies below "/a", "/ab" does not).
bool IsSameOrBelow(const QString& path, const QString& root);

} // namespace kes::platform
