#include "IPCClientThreads.h"

#include <chrono>

#include "EventLog.h"
#include "IPCClientRunnable.h"
#include "KorrException.h"
#include "KorrThreadImpl.h"
#include "NLS.h"
#include "RasDescriptor.h"

IPCClientThreads::IPCClientThreads(const RasDescriptor& rd, const std::string& name, int max)
    : source(rd), serviceName(name), maxConnections(max), refusedSinceReport(0), lastRefusalReport(-1)
{
}

IPCClientThreads::~IPCClientThreads() { endAll(); }

bool IPCClientThreads::admit(std::string& refusal)
{
    reap();
    if (maxConnections < 0 || clients.size() < static_cast<std::size_t>(maxConnections)) {
        return true;
    }
    refusal = NLS::format(source, "ZRKNV0090_MAX_CONNECTIONS_EXCEEDED", serviceName, std::to_string(maxConnections));
    ++refusedSinceReport;
    long now = static_cast<long>(
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now().time_since_epoch()).count());
    if (lastRefusalReport < 0 || now - lastRefusalReport >= 60) {
        std::string text = refusal;
        if (refusedSinceReport > 1) {
            text += " (" + std::to_string(refusedSinceReport) + " connections refused since the last report)";
        }
        EventLog::errorNoFormat(source, text);
        lastRefusalReport = now;
        refusedSinceReport = 0;
    }
    return false;
}

void IPCClientThreads::start(IPCClientRunnable* runnable)
{
    KorrThread* thread = new KorrThreadImpl(runnable);
    try {
        thread->start();
        clients.push_back(thread);
    } catch (const KorrException& e) {
        EventLog::errorNoFormat(source, NLS::format(source, "ZRKNV0088_THREAD_START_FAILED", serviceName, e.getMessage()));
        delete thread;
        runnable->closeConnection();
        delete runnable;
    }
}

void IPCClientThreads::reap()
{
    for (auto it = clients.begin(); it != clients.end();) {
        KorrThread* thread = *it;
        if (thread->isAlive()) {
            ++it;
            continue;
        }
        thread->join();
        IPCClientRunnable* runnable = static_cast<IPCClientRunnable*>(thread->getRunnable());
        runnable->closeConnection();
        delete runnable;
        delete thread;
        it = clients.erase(it);
    }
}

void IPCClientThreads::endAll()
{
    for (KorrThread* thread : clients) {
        IPCClientRunnable* runnable = static_cast<IPCClientRunnable*>(thread->getRunnable());
        if (!runnable->shutdown()) {
            runnable->requestStop();
        }
    }
    for (KorrThread* thread : clients) {
        IPCClientRunnable* runnable = static_cast<IPCClientRunnable*>(thread->getRunnable());
        thread->join();
        runnable->closeConnection();
        delete runnable;
        delete thread;
    }
    clients.clear();
}
