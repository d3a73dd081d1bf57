#include "ConsoleSignalDispatcher.h"

#include <atomic>
#include <csignal>

#include "ProcessSignalActionHandler.h"

namespace {
std::atomic<ProcessSignalActionHandler*> registered{nullptr};
} // namespace

void ConsoleSignalDispatcher::install(ProcessSignalActionHandler* handler)
{
    registered.store(handler);
    std::signal(SIGBREAK, onSignal);
    std::signal(SIGTERM, onSignal);
    std::signal(SIGINT, onSignal);
}

void ConsoleSignalDispatcher::onSignal(int signal)
{
    // The runtime resets the disposition before it calls us: take the next one too.
    std::signal(signal, onSignal);
    dispatch(signal);
}

void ConsoleSignalDispatcher::dispatch(int signal)
{
    ProcessSignalActionHandler* handler = registered.load();
    if (!handler) {
        return;
    }
    if (signal == SIGINT || signal == SIGTERM) {
        handler->shutdownAction(signal + 128);
    } else {
        handler->defaultAction(signal);
    }
}
