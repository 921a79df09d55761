#include "LoadPlan.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

namespace {
using Mode = LoadPlan::Mode;

[[noreturn]] void usage(const char* message)
{
    std::fprintf(stderr, "sentrel-loadgen: %s\n", message);
    std::fprintf(stderr,
        "usage: sentrel-loadgen --mode scan|burst|sustained --ports P[,P...] [--repeat N] [--count N]\n"
        "       [--concurrency C] [--duration S] [--timeout S] [--max-seconds S] [--wait-listen S] "
        "[--ipv6]\n");
    std::exit(2);
}

std::vector<uint16_t> parsePorts(const std::string& text)
{
    std::vector<uint16_t> ports;
    std::stringstream stream(text);
    std::string item;
    while (std::getline(stream, item, ',')) {
        const long port = std::strtol(item.c_str(), nullptr, 10);
        if (port < 1024 || port > 65535)
            usage("ports must be between 1024 and 65535");
        ports.push_back(uint16_t(port));
    }
    return ports;
}

} // namespace

LoadPlan LoadPlan::fromArguments(int argc, char** argv)
{
    LoadPlan plan;
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (name == "--ipv6") {
            plan.ipv6 = true;
            continue;
        }
        if (i + 1 >= argc)
            usage("missing value");
        const std::string value = argv[++i];
        if (name == "--mode") {
            if (value == "scan")
                plan.mode = Mode::Scan;
            else if (value == "burst")
                plan.mode = Mode::Burst;
            else if (value == "sustained")
                plan.mode = Mode::Sustained;
            else
                usage("unknown mode");
        } else if (name == "--ports") {
            plan.ports = parsePorts(value);
        } else if (name == "--repeat") {
            plan.repeat = std::atol(value.c_str());
        } else if (name == "--count") {
            plan.count = std::atol(value.c_str());
        } else if (name == "--concurrency") {
            plan.concurrency = std::atoi(value.c_str());
        } else if (name == "--duration") {
            plan.durationSeconds = std::atof(value.c_str());
        } else if (name == "--timeout") {
            plan.connectionTimeoutSeconds = std::atof(value.c_str());
        } else if (name == "--max-seconds") {
            plan.maxSeconds = std::atof(value.c_str());
        } else if (name == "--wait-listen") {
            plan.waitListenSeconds = std::atof(value.c_str());
        } else {
            usage("unknown option");
        }
    }
    if (plan.ports.empty())
        usage("no ports");
    if (plan.mode == Mode::Scan) {
        // A scan visits one port after the other, never two at once.
        plan.concurrency = 1;
        plan.count = long(plan.ports.size()) * plan.repeat;
    }
    if (plan.mode == Mode::Sustained && plan.durationSeconds <= 0)
        usage("sustained needs --duration");
    // The hard caps keep a mistyped figure from turning into an unbounded flood.
    if (plan.count < 1 || plan.count > 2'000'000 || plan.concurrency < 1 || plan.concurrency > 10'000
        || plan.durationSeconds > 600 || plan.maxSeconds <= 0 || plan.maxSeconds > 900)
        usage("figure out of range");
    return plan;
}
const char* LoadPlan::modeName() const
{
    switch (mode) {
    case Mode::Scan:
        return "scan";
    case Mode::Burst:
        return "burst";
    case Mode::Sustained:
        return "sustained";
    }
    return "?";
}
