#pragma once

#include "PortBinder.h"

#include <QString>

// Asks the small privileged helper program for the sockets. The helper is started for each call
// with one end of a socket pair as its standard input, answers once and exits; nothing of it
// outlives the call. Every failure (no helper, a refusal, a crash, no answer in time, a reply
// that does not match the request) gives Failed for the ports concerned.
class HelperPortBinder : public PortBinder
{
public:
    explicit HelperPortBinder(QString helperPath, int timeoutMs = 3000);

    std::vector<Result> bindPorts(const std::vector<int>& ports, Protocol protocol = Protocol::Tcp) override;

    // The most ports one helper run binds; longer lists take several runs.
    static constexpr int MaxPortsPerRun = 64;

private:
    std::vector<Result> runHelper(const std::vector<int>& ports, Protocol protocol);

    QString m_helperPath;
    int m_timeoutMs;
};
