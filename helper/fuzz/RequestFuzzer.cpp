// libFuzzer target for the bind helper's request parser: whatever the bytes, the parser either
// refuses them and leaves an empty request, or accepts exactly a well-formed request of 1 to 64
// ports from 1 to 1023.
#define SENTREL_BIND_NO_MAIN
#include "../sentrel-bind.cpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace sentrel_bind;
    Request request;
    request.count = 99;
    const Parse result = parseRequest(data, size, request);
    if (result != Parse::Ok) {
        if (request.count != 0)
            __builtin_trap();
        return 0;
    }
    if (request.count < 1 || request.count > MaxPorts || size != HeaderSize + 2 * request.count
        || data[3] != request.count)
        __builtin_trap();
    for (std::size_t i = 0; i < request.count; ++i) {
        if (request.ports[i] < LowestPort || request.ports[i] > HighestPort
            || request.ports[i] != (data[HeaderSize + 2 * i] << 8 | data[HeaderSize + 2 * i + 1]))
            __builtin_trap();
    }
    return 0;
}
