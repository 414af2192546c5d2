// The state of the computer's network connection.
#pragma once

namespace kes::platform {

// True when an interface other than loopback is up, running and has an
// IPv4 or IPv6 address.
bool HasNetworkConnection();

} // namespace kes::platform
