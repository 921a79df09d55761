#include "EndOfPass.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <vector>

namespace {
std::vector<EndOfPass*> g_scheduled;
std::vector<EndOfPass*> g_spare; // the last pass's list, kept for its room
// The flushes of the pass that is ending, while they run; a slot is cleared when its flush is
// cancelled or destroyed before its turn.
std::vector<EndOfPass*>* g_running = nullptr;
} // namespace

QTimer& EndOfPass::timer()
{
    // Owned by the application, so it goes before the event loop does.
    static QPointer<QTimer> shared;
    if (!shared) {
        shared = new QTimer(QCoreApplication::instance());
        shared->setSingleShot(true);
        shared->setInterval(0);
        QObject::connect(shared, &QTimer::timeout, shared, &EndOfPass::runDue);
    }
    return *shared;
}

EndOfPass::EndOfPass(std::function<void()> flush)
    : m_flush(std::move(flush))
{
}

EndOfPass::~EndOfPass()
{
    cancel();
}

void EndOfPass::schedule()
{
    if (m_scheduled)
        return;
    m_scheduled = true;
    g_scheduled.push_back(this);
    QTimer& shared = timer();
    if (!shared.isActive())
        shared.start();
}

void EndOfPass::cancel()
{
    if (!std::exchange(m_scheduled, false))
        return;
    const auto found = std::find(g_scheduled.begin(), g_scheduled.end(), this);
    if (found != g_scheduled.end())
        g_scheduled.erase(found);
    else if (g_running)
        std::replace(g_running->begin(), g_running->end(), this, static_cast<EndOfPass*>(nullptr));
}

void EndOfPass::runDue()
{
    std::vector<EndOfPass*> due = std::exchange(g_scheduled, std::move(g_spare));
    std::vector<EndOfPass*>* const outer = std::exchange(g_running, &due);
    for (EndOfPass*& flush : due) {
        if (EndOfPass* next = std::exchange(flush, nullptr)) {
            next->m_scheduled = false;
            next->m_flush();
        }
    }
    g_running = outer;
    due.clear();
    g_spare = std::move(due);
}
