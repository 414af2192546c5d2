#include "platform/RealPath.h"

#include "platform/FileName.h"

#include <cerrno>
#include <cstdlib>

namespace kes::platform {

int CanonicalPath(const QString& name, QString& result)
{
    result.clear();
    const QByteArray n = EncodeName(name);
    if (n.isEmpty() || n.contains('\0'))
        return ENOENT;
    char* resolved = ::realpath(n.constData(), nullptr);
    if (!resolved)
        return errno;
    result = DecodeName(QByteArray(resolved));
    std::free(resolved);
    return 0;
}

bool IsSameOrBelow(const QString& path, const QString& root)
{
    if (root.isEmpty())
        return false;
    if (path == root)
        return true;
    if (root.endsWith(u'/'))
        return path.startsWith(root);
    return path.size() > root.size() && path.startsWith(root) && path[root.size()] == u'/';
}

} // namespace kes::platform
