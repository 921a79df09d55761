#pragma once

#include <QString>

#include <vector>

// Raw loopback clients and port probes for the socket tests. Every descriptor they return is the
// caller's to close.
namespace Loopback {

// A port nothing listens on right now, found by letting the system pick one.
int freePort();
// Distinct free ports, held together while they are picked so none is handed out twice.
std::vector<int> freePorts(int count);

// Starts a non-blocking connect to 127.0.0.1 (or ::1 when ipv6); -1 when it cannot even start.
int startConnect(int port, bool ipv6 = false);
// Connects and waits until the connection is established; -1 on failure.
int connectTo(int port, bool ipv6 = false);
// True when the server has closed the connection (end of stream or reset) within the time.
bool waitForClose(int fd, int timeoutMs);
// Binds and listens on the port for IPv4 only, as another program would; -1 on failure.
int holdPort(int port);
// True when a socket listens on the port right now. Probes by binding, so no connection is made.
bool isListening(int port);

void closeAll(std::vector<int>& fds);

// Raises the soft descriptor limit to at least the count, when the hard limit allows.
bool ensureDescriptors(int count);

} // namespace Loopback
