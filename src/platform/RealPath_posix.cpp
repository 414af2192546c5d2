#include "platform/RealPath.h"

#include "platform/FileName.h"
#include "platform/FileSystem_posix.h"

namespace kes::platform {

int CanonicalPath(const QString& name, QString& result)
{
    result.clear();
    QByteArray resolved;
    if (const int err = posix::CanonicalName(EncodeName(name), resolved))
        return err;
    result = DecodeName(resolved);
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
