// Opens TCP connections to loopback ports and measures how long each waits for the server to drop
// it. Every connection is bounded in time and the whole run is bounded in count and time.
//
//   sentrel-loadgen --mode scan      --ports 40001,40002 --repeat 100
//   sentrel-loadgen --mode burst     --ports 40001       --count 20000 --concurrency 200
//   sentrel-loadgen --mode sustained --ports 40001       --duration 10 --concurrency 50
//
// Prints one JSON line on standard output; diagnostics go to standard error.

#include "LoadPlan.h"
#include "PortReadiness.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

using Mode = LoadPlan::Mode;

struct LoadResult
{
    long attempted = 0;
    long made = 0; // handshake completed
    long failed = 0; // refused, unreachable, no local port left, or never completed
    long closedByServer = 0; // EOF or reset seen after the handshake
    long unclosed = 0; // made, but the server never dropped it within the timeout
    long unexpectedBytes = 0; // the server is meant to send nothing
    bool hitTimeLimit = false;
    double elapsedSeconds = 0;
    std::vector<uint32_t> latenciesMicros;
};

int raiseDescriptorLimit(int concurrency)
{
    rlimit limit {};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    const rlim_t wanted = rlim_t(concurrency) + 64;
    if (limit.rlim_cur < wanted) {
        limit.rlim_cur = std::min(wanted, limit.rlim_max);
        ::setrlimit(RLIMIT_NOFILE, &limit);
        ::getrlimit(RLIMIT_NOFILE, &limit);
    }
    return int(std::min<rlim_t>(rlim_t(concurrency), limit.rlim_cur > 64 ? limit.rlim_cur - 64 : 1));
}

class LoadGenerator
{
public:
    explicit LoadGenerator(const LoadPlan& plan)
        : m_plan(plan)
        , m_slots(size_t(plan.concurrency))
    {
        m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
        for (int slot = plan.concurrency - 1; slot >= 0; --slot)
            m_freeSlots.push_back(slot);
        if (plan.mode != Mode::Sustained)
            m_result.latenciesMicros.reserve(size_t(plan.count));
    }

    ~LoadGenerator() { ::close(m_epoll); }

    LoadResult run()
    {
        const auto start = Clock::now();
        m_lastFinish = start;
        m_hardStop = start + seconds(m_plan.maxSeconds);
        m_launchStop = m_plan.mode == Mode::Sustained ? start + seconds(m_plan.durationSeconds) : m_hardStop;
        std::vector<epoll_event> events(size_t(m_plan.concurrency));
        for (;;) {
            const auto now = Clock::now();
            if (now >= m_hardStop) {
                m_result.hitTimeLimit = m_live > 0 || wantsMore(now);
                break;
            }
            while (!m_freeSlots.empty() && wantsMore(now))
                launch();
            if (m_live == 0 && !wantsMore(now))
                break;
            const int ready = ::epoll_wait(m_epoll, events.data(), int(events.size()), pollTimeoutMs());
            for (int i = 0; i < ready; ++i)
                onEvent(int(events[size_t(i)].data.u32), events[size_t(i)].events);
            expireOverdue(Clock::now());
        }
        for (size_t slot = 0; slot < m_slots.size(); ++slot) {
            if (m_slots[slot].fd >= 0)
                finish(int(slot), m_slots[slot].connected ? Outcome::Unclosed : Outcome::Failed);
        }
        m_result.elapsedSeconds = std::chrono::duration<double>(m_lastFinish - start).count();
        return std::move(m_result);
    }

private:
    enum class Outcome { Closed, Unclosed, Failed };

    struct Connection
    {
        int fd = -1;
        bool connected = false;
        uint32_t generation = 0;
        Clock::time_point started;
    };

    static Clock::duration seconds(double value)
    {
        return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(value));
    }

    bool wantsMore(Clock::time_point now) const
    {
        if (m_plan.mode == Mode::Sustained)
            return now < m_launchStop;
        return m_result.attempted < m_plan.count;
    }

    int pollTimeoutMs() const
    {
        if (m_launchOrder.empty())
            return 10;
        const auto due
            = m_slots[size_t(m_launchOrder.front().slot)].started + seconds(m_plan.connectionTimeoutSeconds);
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(due - Clock::now()).count();
        return int(std::clamp<long long>(wait + 1, 0, 100));
    }

    sockaddr_storage target(uint16_t port) const
    {
        sockaddr_storage address {};
        if (m_plan.ipv6) {
            auto* in6 = reinterpret_cast<sockaddr_in6*>(&address);
            in6->sin6_family = AF_INET6;
            in6->sin6_port = htons(port);
            in6->sin6_addr = in6addr_loopback;
        } else {
            auto* in4 = reinterpret_cast<sockaddr_in*>(&address);
            in4->sin_family = AF_INET;
            in4->sin_port = htons(port);
            in4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        }
        return address;
    }

    void launch()
    {
        const uint16_t port = m_plan.ports[size_t(m_result.attempted % long(m_plan.ports.size()))];
        ++m_result.attempted;
        const int family = m_plan.ipv6 ? AF_INET6 : AF_INET;
        const int fd = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            ++m_result.failed;
            return;
        }
        const int slot = m_freeSlots.back();
        m_freeSlots.pop_back();
        Connection& connection = m_slots[size_t(slot)];
        connection.fd = fd;
        connection.connected = false;
        connection.started = Clock::now();
        ++connection.generation;
        ++m_live;
        m_launchOrder.push_back({ slot, connection.generation });

        const sockaddr_storage address = target(port);
        const socklen_t length = m_plan.ipv6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0) {
            connection.connected = true;
            ++m_result.made;
        } else if (errno != EINPROGRESS) {
            finish(slot, Outcome::Failed);
            return;
        }
        // Edge-triggered, so a connected socket does not report writability again and again.
        epoll_event event {};
        event.events = EPOLLIN | EPOLLOUT | EPOLLRDHUP | EPOLLET;
        event.data.u32 = uint32_t(slot);
        ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &event);
    }

    void onEvent(int slot, uint32_t events)
    {
        Connection& connection = m_slots[size_t(slot)];
        if (connection.fd < 0)
            return;
        if (!connection.connected) {
            int error = 0;
            socklen_t length = sizeof error;
            ::getsockopt(connection.fd, SOL_SOCKET, SO_ERROR, &error, &length);
            if (error != 0) {
                finish(slot, Outcome::Failed);
                return;
            }
            if (!(events & (EPOLLOUT | EPOLLIN | EPOLLRDHUP | EPOLLHUP)))
                return;
            connection.connected = true;
            ++m_result.made;
        }
        drain(slot);
    }

    void drain(int slot)
    {
        char buffer[512];
        for (;;) {
            const ssize_t got = ::recv(m_slots[size_t(slot)].fd, buffer, sizeof buffer, 0);
            if (got > 0) {
                m_result.unexpectedBytes += got;
                continue;
            }
            if (got == 0 || errno == ECONNRESET || errno == EPIPE)
                finish(slot, Outcome::Closed);
            else if (errno != EAGAIN && errno != EINTR)
                finish(slot, Outcome::Closed); // any other error also means the server let go
            return;
        }
    }

    void expireOverdue(Clock::time_point now)
    {
        const auto limit = seconds(m_plan.connectionTimeoutSeconds);
        while (!m_launchOrder.empty()) {
            const auto [slot, generation] = m_launchOrder.front();
            const Connection& connection = m_slots[size_t(slot)];
            if (connection.fd >= 0 && connection.generation == generation) {
                if (now - connection.started < limit)
                    return;
                finish(slot, connection.connected ? Outcome::Unclosed : Outcome::Failed);
            }
            m_launchOrder.pop_front();
        }
    }

    void finish(int slot, Outcome outcome)
    {
        Connection& connection = m_slots[size_t(slot)];
        const auto now = Clock::now();
        if (outcome == Outcome::Closed) {
            ++m_result.closedByServer;
            const auto waited
                = std::chrono::duration_cast<std::chrono::microseconds>(now - connection.started);
            m_result.latenciesMicros.push_back(uint32_t(std::min<long long>(waited.count(), UINT32_MAX)));
        } else if (outcome == Outcome::Unclosed) {
            ++m_result.unclosed;
        } else {
            ++m_result.failed;
        }
        // Closing with a reset leaves no TIME_WAIT entry on either side, so long runs do not run
        // the loopback out of port pairs.
        const linger abort { 1, 0 };
        ::setsockopt(connection.fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        ::close(connection.fd);
        connection.fd = -1;
        m_freeSlots.push_back(slot);
        --m_live;
        m_lastFinish = now;
    }

    struct Launched
    {
        int slot;
        uint32_t generation;
    };

    LoadPlan m_plan;
    LoadResult m_result;
    std::vector<Connection> m_slots;
    std::vector<int> m_freeSlots;
    std::deque<Launched> m_launchOrder;
    int m_epoll = -1;
    int m_live = 0;
    Clock::time_point m_hardStop;
    Clock::time_point m_launchStop;
    Clock::time_point m_lastFinish;
};

double percentileMs(std::vector<uint32_t>& values, double fraction)
{
    if (values.empty())
        return 0;
    const size_t index = std::min(values.size() - 1, size_t(fraction * double(values.size())));
    std::nth_element(values.begin(), values.begin() + long(index), values.end());
    return values[index] / 1000.0;
}

} // namespace

int main(int argc, char** argv)
{
    LoadPlan plan = LoadPlan::fromArguments(argc, argv);
    plan.concurrency = raiseDescriptorLimit(plan.concurrency);
    if (plan.waitListenSeconds > 0 && !waitUntilListening(plan.ports, plan.waitListenSeconds)) {
        std::fprintf(stderr, "sentrel-loadgen: the ports are not listening\n");
        std::printf("{\"mode\":\"%s\",\"error\":\"not listening\"}\n", plan.modeName());
        return 1;
    }

    LoadResult result = LoadGenerator(plan).run();
    const double rate = result.elapsedSeconds > 0 ? double(result.closedByServer) / result.elapsedSeconds : 0;
    auto& latencies = result.latenciesMicros;
    const double p50 = percentileMs(latencies, 0.50);
    const double p99 = percentileMs(latencies, 0.99);
    const double worst
        = latencies.empty() ? 0 : *std::max_element(latencies.begin(), latencies.end()) / 1000.0;
    std::printf("{\"mode\":\"%s\",\"concurrency\":%d,\"attempted\":%ld,\"made\":%ld,\"failed\":%ld,"
                "\"closed\":%ld,\"unclosed\":%ld,\"unexpected_bytes\":%ld,\"time_limit_hit\":%s,"
                "\"elapsed_s\":%.3f,\"rate_per_s\":%.1f,\"p50_ms\":%.3f,\"p99_ms\":%.3f,\"max_ms\":%.3f}\n",
        plan.modeName(), plan.concurrency, result.attempted, result.made, result.failed,
        result.closedByServer, result.unclosed, result.unexpectedBytes,
        result.hitTimeLimit ? "true" : "false", result.elapsedSeconds, rate, p50, p99, worst);
    return 0;
}
