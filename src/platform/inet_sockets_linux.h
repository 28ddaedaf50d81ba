#pragma once

#include "platform/process_source.h"

#include <vector>

// Linux's tables of Internet sockets: the kernel's socket diagnostics (netlink), which filter
// by port, or else the text tables under /proc/net.
namespace platform::inet {

// The TCP and UDP sockets, IPv4 and IPv6, whose local or remote port is port, but those no
// process holds any more. diagnostics false: /proc/net only.
std::vector<InetSocket> socketsOnPort(int procFd, quint16 port, bool diagnostics);

} // namespace platform::inet
