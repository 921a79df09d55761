#pragma once

#include <cstdint>
#include <vector>

// Waits until every port has a listening socket on this machine, for at most the given time.
// Reads the kernel's socket tables instead of connecting, since a test connection would itself be
// an intrusion the server records.
bool waitUntilListening(const std::vector<uint16_t>& ports, double seconds);
