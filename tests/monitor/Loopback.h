#pragma once

#include <vector>

// Raw loopback clients and port probes for the socket tests. Descriptors they return are the
// caller's to close.
namespace Loopback {

// Distinct ports nothing listens on right now, picked by the system.
std::vector<int> freePorts(int count);
// Connects to 127.0.0.1 (or ::1), waiting until established unless `wait` is false; -1 on failure.
int connectTo(int port, bool ipv6 = false, bool wait = true);
// True when the server closes the connection (end of stream or reset) without sending a byte.
bool closedByServer(int fd);
// Listens on the port for IPv4 only, as another program would; -1 on failure.
int holdPort(int port);
// True when a socket listens on the port. Probes by binding, so it makes no connection.
bool isListening(int port);
void closeAll(std::vector<int>& fds);

} // namespace Loopback
