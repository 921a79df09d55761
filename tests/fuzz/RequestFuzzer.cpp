// libFuzzer target for the bind helper's two parsers: a request is refused empty or is exactly a
// well-formed one; a port list is refused allowing nothing, or allows only ports 1-1023 written in
// the text, and reads back what it would write.
#define SENTREL_BIND_NO_MAIN
#include "../../helper/sentrel-bind.cpp"

#include <string>

namespace {
using namespace sentrel_bind;

void checkRequest(const std::uint8_t* data, std::size_t size)
{
    Request request;
    request.count = 99;
    if (parseRequest(data, size, request)) {
        if (request.count != 0)
            __builtin_trap();
        return;
    }
    // Version 1 asks for TCP and has no kind byte; version 2 names TCP or UDP in one.
    const std::size_t header = request.version == Version ? HeaderSize : KindHeaderSize;
    const Kind kind = header == HeaderSize ? Stream : Kind(data[4]);
    if (request.version != data[2] || (request.version != Version && request.version != KindVersion)
        || (kind != Stream && kind != Datagram) || request.kind != kind)
        __builtin_trap();
    if (request.count < 1 || request.count > MaxPorts || size != header + 2 * request.count
        || data[3] != request.count)
        __builtin_trap();
    for (std::size_t i = 0; i < request.count; ++i) {
        if (request.ports[i] < LowestPort || request.ports[i] > HighestPort
            || request.ports[i] != (data[header + 2 * i] << 8 | data[header + 2 * i + 1]))
            __builtin_trap();
    }
}

void checkPortList(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    PortList allowed;
    allowed.fill(true);
    if (!parsePortList(text.data(), text.size(), allowed)) {
        for (const bool port : allowed) {
            if (port)
                __builtin_trap();
        }
        return;
    }
    if (allowed[0] || size > MaxListSize)
        __builtin_trap();
    std::string written;
    for (unsigned port = LowestPort; port <= HighestPort; ++port) {
        if (allowed[port]) {
            if (text.find(std::to_string(port)) == std::string::npos)
                __builtin_trap();
            written += std::to_string(port) + '\n';
        }
    }
    PortList reread;
    if (!parsePortList(written.data(), written.size(), reread) || reread != allowed)
        __builtin_trap();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    checkRequest(data, size);
    checkPortList(data, size);
    return 0;
}
