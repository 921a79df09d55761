#pragma once

#include <cstdint>
#include <vector>

// What the load generator is asked to do, read from its command line.
struct LoadPlan
{
    enum class Mode { Scan, Burst, Sustained };

    // Exits with a usage message on anything it cannot read or any figure out of its bounds.
    static LoadPlan fromArguments(int argc, char** argv);
    const char* modeName() const;

    Mode mode = Mode::Burst;
    std::vector<uint16_t> ports;
    long count = 1000;
    long repeat = 1;
    int concurrency = 1;
    double durationSeconds = 0;
    double connectionTimeoutSeconds = 5;
    double maxSeconds = 120;
    double waitListenSeconds = 0;
    bool ipv6 = false;
};
