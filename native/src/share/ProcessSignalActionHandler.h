// What a process does when it is signalled to stop or interrupted: KorrUtils::handleSignals
// delivers each signal to the registered handler on an ordinary thread.
#ifndef OSTARA_PROCESSSIGNALACTIONHANDLER_H
#define OSTARA_PROCESSSIGNALACTIONHANDLER_H

class ProcessSignalActionHandler
{
public:
    virtual ~ProcessSignalActionHandler() {}
    // Interrupt or termination: code is 128 + the signal number (130, 143).
    virtual void shutdownAction(int code) = 0;
    virtual void outputDiagnosticsAction() = 0;
    // Every other signal; this body only traces it.
    virtual void defaultAction(int signal);
};

#endif
