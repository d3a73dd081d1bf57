// Console signals on Windows: the C runtime's signal() for SIGBREAK, SIGTERM and SIGINT,
// forwarded to the registered ProcessSignalActionHandler. The runtime calls the function on
// the console's control thread, an ordinary thread, so it may call the handler directly.
#ifndef OSTARA_CONSOLESIGNALDISPATCHER_H
#define OSTARA_CONSOLESIGNALDISPATCHER_H

class ProcessSignalActionHandler;

class ConsoleSignalDispatcher
{
public:
    // Stores handler (null: signals are then ignored) and installs the signal function.
    static void install(ProcessSignalActionHandler* handler);
    // What the signal function does: SIGINT and SIGTERM → shutdownAction(128 + signal),
    // everything else → defaultAction(signal).
    static void dispatch(int signal);

private:
    ConsoleSignalDispatcher();
    static void onSignal(int signal);
};

#endif
