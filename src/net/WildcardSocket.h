#pragma once

// Opens a non-blocking socket of the given type (SOCK_STREAM, SOCK_DGRAM) bound to port on every
// address: dual stack where the kernel has IPv6, IPv4 only where it has not. Returns the
// descriptor, or -1 with errno set by the step that failed.
int bindWildcardSocket(int type, int port, bool reuseAddress);
