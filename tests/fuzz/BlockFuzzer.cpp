// libFuzzer target for the firewall helper's request parser, command text, judging of an add's
// addresses, listing reader and the route reader it shares with the program. The parser accepts
// exactly a well-formed request, else leaves it empty; no own address, gateway or address beyond the
// bound is taken; the command names only "inet sentrel" and addresses as inet_ntop writes them.
#define SENTREL_BLOCK_NO_MAIN
#define SENTREL_BLOCK_NO_NFT
#include "../../helper/sentrel-block.cpp"

#include <string>
#include <vector>

namespace {
using namespace sentrel_block;

// The machine holds the request's first address, has its second as a gateway, and its table 255
// addresses, the third among them.
void checkJudging(const Request& request)
{
    static RouteDump::Kept kept;
    kept.ownCount = kept.gatewayCount = 0;
    const auto put = [](RouteDump::Address& to, const Entry& e) {
        to.family = e.family == AF_INET ? 4 : 6;
        to.bytes = e.address;
    };
    put(kept.own[kept.ownCount++], request.entries[0]);
    if (request.count > 1)
        put(kept.gateways[kept.gatewayCount++], request.entries[1]);
    static Listed present[MaxEntries];
    for (std::size_t i = 0; i + 1 < MaxEntries; ++i)
        present[i] = Listed { 4, { 127, 0, 1, std::uint8_t(i) }, 60 }; // never in a request
    if (request.count > 2)
        present[0] = Listed { std::uint8_t(request.entries[2].family == AF_INET ? 4 : 6), request.entries[2].address, 60 };
    Result results[MaxPerRequest];
    const std::size_t taken = judgeAdds(request, kept, present, MaxEntries - 1, results);
    std::size_t newOnes = 0;
    for (std::size_t i = 0; i < request.count; ++i)
        newOnes += results[i] == Taken && i != 2 ? 1 : 0;
    if (results[0] != OwnAddress || (request.count > 1 && results[1] != Gateway && results[1] != OwnAddress)
        || (request.count > 2 && results[2] == Full) || newOnes > 1 || taken > request.count)
        __builtin_trap();
}

void checkRequest(const std::uint8_t* data, std::size_t size)
{
    static Request request;
    if (parseRequest(data, size, request)) {
        if (request.op != Op::None || request.count != 0)
            __builtin_trap();
        return;
    }
    if (size < HeaderSize || data[0] != 'S' || data[1] != 'F' || data[2] != 2 || data[3] != std::uint8_t(request.op))
        __builtin_trap();
    if (request.op == Op::List) {
        if (size != HeaderSize)
            __builtin_trap();
        return;
    }
    const bool add = request.op == Op::Add;
    if ((request.op != Op::Delete && !add) || request.count < 1 || request.count > MaxPerRequest
        || size != HeaderSize + 1 + request.count * EntrySize)
        __builtin_trap();
    std::string expected = TableSetup;
    Result taken[MaxPerRequest];
    for (std::size_t i = 0; i < request.count; ++i) {
        const Entry& e = request.entries[i];
        const std::uint8_t* raw = data + HeaderSize + 1 + i * EntrySize;
        if (raw[0] != (e.family == AF_INET ? 4 : 6) || std::memcmp(e.address.data(), raw + 1, 16) != 0
            || isRefusedAddress(e.family, e.address.data()) || add != (e.seconds >= 1 && e.seconds <= MaxSeconds)
            || (!add && e.seconds != 0))
            __builtin_trap();
        for (std::size_t j = 0; j < i; ++j) {
            if (request.entries[j].family == e.family && request.entries[j].address == e.address)
                __builtin_trap();
        }
        // Every other address taken, so the command is checked with gaps too.
        taken[i] = i % 2 == 0 ? Taken : Gateway;
        if (taken[i] != Taken)
            continue;
        char text[INET6_ADDRSTRLEN] {};
        ::inet_ntop(e.family, e.address.data(), text, sizeof text);
        const std::string set = e.family == AF_INET ? "blocked4" : "blocked6";
        expected += "add element inet sentrel " + set + " { " + text + " timeout 1s }\n";
        expected += "delete element inet sentrel " + set + " { " + text + " }\n";
        if (add)
            expected += "add element inet sentrel " + set + " { " + text + " timeout " + std::to_string(e.seconds) + "s }\n";
    }
    static char command[CommandRoom];
    if (!buildCommand(request, taken, command, sizeof command) || expected != command)
        __builtin_trap();
    if (add)
        checkJudging(request);
}

void checkListing(const std::uint8_t* data, std::size_t size)
{
    const std::string json(reinterpret_cast<const char*>(data), size);
    for (const int family : { AF_INET, AF_INET6 }) {
        Listed entries[4];
        bool more = false;
        const std::size_t count = parseListing(json.c_str(), family, entries, 3, more);
        if (count > 3 || (more && count != 3))
            __builtin_trap();
        for (std::size_t i = 0; i < count; ++i) {
            if (entries[i].family != (family == AF_INET ? 4 : 6))
                __builtin_trap();
        }
    }
}

// The bytes as the kernel's answer to a dump, aligned as a receive buffer is.
void checkRouteDump(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return;
    std::vector<std::uint64_t> aligned(size / 8 + 1);
    std::memcpy(aligned.data(), data, size);
    static RouteDump::Kept kept;
    kept.ownCount = kept.gatewayCount = 0;
    kept.overflow = false;
    bool done = false;
    RouteDump::read(reinterpret_cast<const std::uint8_t*>(aligned.data()), size, kept, done);
    if (kept.ownCount > RouteDump::Kept::Room || kept.gatewayCount > RouteDump::Kept::Room)
        __builtin_trap();
    for (std::size_t i = 0; i < kept.gatewayCount; ++i) {
        if (kept.gateways[i].family != 4 && kept.gateways[i].family != 6)
            __builtin_trap();
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    checkRequest(data, size);
    checkListing(data, size);
    checkRouteDump(data, size);
    return 0;
}
