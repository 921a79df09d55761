#include "PortReadiness.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>

namespace {
using Clock = std::chrono::steady_clock;

std::set<uint16_t> listeningPorts()
{
    std::set<uint16_t> ports;
    for (const char* path : { "/proc/net/tcp", "/proc/net/tcp6" }) {
        std::ifstream table(path);
        std::string line;
        std::getline(table, line);
        while (std::getline(table, line)) {
            std::istringstream fields(line);
            std::string slot, local, remote, state;
            fields >> slot >> local >> remote >> state;
            const auto colon = local.rfind(':');
            if (state == "0A" && colon != std::string::npos)
                ports.insert(uint16_t(std::strtoul(local.c_str() + colon + 1, nullptr, 16)));
        }
    }
    return ports;
}
} // namespace

bool waitUntilListening(const std::vector<uint16_t>& wanted, double seconds)
{
    const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        const auto open = listeningPorts();
        if (std::all_of(wanted.begin(), wanted.end(), [&](uint16_t port) { return open.count(port); }))
            return true;
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}
