#pragma once

#include "IpAddress.h"
#include "Throttle.h"

#include <QString>

#include <chrono>
#include <vector>

// A detection that can come from a forged address costs its sender nothing, and in a flood every
// forged source is new, so no per-source rule slows it down: one entry per probe would fill the
// disk. Beyond Rate such detections a second, all kinds together, they are folded instead: each
// kind into one summary a period, saying how many probes from how many sources. A flood keeps
// folding from the first probe of the next period until a period stays below the rate.
//
// The sources are counted exactly up to MaxExact a period (by a 64-bit hash of each address) and
// estimated beyond (linear counting over a bitmap of SourceBits bits: within about 1% up to
// several hundred thousand a period). Nothing grows with the flood.
class ProbeFolding
{
public:
    static constexpr int Rate = 50;
    static constexpr std::chrono::milliseconds Period { 1000 };
    static constexpr int SourceBits = 1 << 18;
    static constexpr qsizetype MaxExact = 4096;

    struct Summary
    {
        const char* kind = ""; // as the events name it: "udp", "half_open", ..., "port_scan"
        qint64 probes = 0;
        qint64 sources = 0;
        // The latest probe folded.
        IpAddress address;
        int sourcePort = 0;
        int port = 0;
    };

    explicit ProbeFolding(Throttle::Clock clock = &Throttle::steadyNow);
    ~ProbeFolding();
    ProbeFolding(const ProbeFolding&) = delete;
    ProbeFolding& operator=(const ProbeFolding&) = delete;

    // Counts one detection whose address may be forged; true when it is folded, and then nothing
    // else is to be done with it. kind must outlive the summary (a literal).
    bool fold(const char* kind, const IpAddress& address, int sourcePort, int port);
    // The summaries of the periods that are over, oldest first; with all, the open period's too
    // (monitoring stops, the program ends).
    std::vector<Summary> takeDue(bool all = false);
    bool hasDue() const { return !m_due.empty(); }
    // A period is open or a summary waits: someone must call takeDue later.
    bool isBusy() const { return m_open || !m_due.empty(); }

    // "UDP flood: 12,345 probes from 12,001 addresses, the addresses may be forged"
    static QString message(const Summary& summary);

private:
    struct Kind;

    void endPeriod();

    Throttle::Clock m_clock;
    bool m_open = false;
    std::chrono::milliseconds m_periodStart {};
    int m_seen = 0; // in this period, folded ones included
    bool m_folding = false;
    // A period over the rate makes the next one fold from its start, if it follows at once.
    std::chrono::milliseconds m_floodedUntil {};
    std::vector<Kind> m_kinds; // each kind folded so far; its bitmap is kept for the next period
    std::vector<Summary> m_due;
};
