// libFuzzer target for the firewall helper's request parser, the command text it builds and its
// reading of a set's listing. Whatever the bytes: the parser accepts exactly a well-formed add
// (1 to 86400 seconds), delete or list of one address that may be blocked, and leaves the request
// empty otherwise; the command for an accepted request names only the table "inet sentrel" and
// carries the address only as inet_ntop writes it; the listing reader keeps within its room and
// returns only addresses of the family asked for.
#define SENTREL_BLOCK_NO_MAIN
#define SENTREL_BLOCK_NO_NFT
#include "../sentrel-block.cpp"

#include <string>

namespace {
using namespace sentrel_block;

void checkRequest(const std::uint8_t* data, std::size_t size)
{
    Request request;
    const Parse result = parseRequest(data, size, request);
    if (result != Parse::Ok) {
        if (request.op != Op::None || request.family != 0 || request.seconds != 0)
            __builtin_trap();
        return;
    }
    if (size < HeaderSize || data[0] != 'S' || data[1] != 'F' || data[2] != 1 || data[3] != std::uint8_t(request.op))
        __builtin_trap();
    if (request.op == Op::List) {
        if (size != HeaderSize)
            __builtin_trap();
        return;
    }
    const std::size_t addressSize = request.family == AF_INET ? 4 : 16;
    const bool add = request.op == Op::Add;
    if ((request.op != Op::Delete && !add) || size != HeaderSize + 1 + addressSize + (add ? 4 : 0)
        || data[4] != (request.family == AF_INET ? 4 : 6)
        || std::memcmp(request.address.data(), data + 5, addressSize) != 0
        || isRefusedAddress(request.family, request.address.data()))
        __builtin_trap();
    if (add != (request.seconds >= 1 && request.seconds <= MaxSeconds))
        __builtin_trap();

    char command[CommandRoom];
    if (!buildCommand(request, command, sizeof command))
        __builtin_trap();
    char text[INET6_ADDRSTRLEN] {};
    ::inet_ntop(request.family, request.address.data(), text, sizeof text);
    // Every line is one of the setup's or names the one set with exactly this address.
    std::string expected = TableSetup;
    const std::string set = request.family == AF_INET ? "blocked4" : "blocked6";
    expected += "add element inet sentrel " + set + " { " + text + " timeout 1s }\n";
    expected += "delete element inet sentrel " + set + " { " + text + " }\n";
    if (add)
        expected += "add element inet sentrel " + set + " { " + text + " timeout " + std::to_string(request.seconds) + "s }\n";
    if (expected != command)
        __builtin_trap();
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
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    checkRequest(data, size);
    checkListing(data, size);
    return 0;
}
