#include "platform/Network.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <sys/socket.h>

namespace kes::platform {

bool HasNetworkConnection()
{
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return false;
    bool connected = false;
    for (const ifaddrs* a = list; a && !connected; a = a->ifa_next) {
        if (!a->ifa_addr || (a->ifa_flags & IFF_LOOPBACK))
            continue;
        const bool up = (a->ifa_flags & IFF_UP) && (a->ifa_flags & IFF_RUNNING);
        const int family = a->ifa_addr->sa_family;
        connected = up && (family == AF_INET || family == AF_INET6);
    }
    ::freeifaddrs(list);
    return connected;
}

} // namespace kes::platform
