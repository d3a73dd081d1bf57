// Hears, in words an operator reads, each change of what the controller does: waiting for the
// queue manager, application running, restarting, delaying, stopping, stopped. Called on the
// controller's threads, possibly with the controller's monitor or the connection monitor's
// held: an observer takes no lock of the controller and never waits.
#ifndef OSTARAPC_PROCESSCONTROLLEROBSERVER_H
#define OSTARAPC_PROCESSCONTROLLEROBSERVER_H

#include <string>

class ProcessControllerObserver
{
public:
    virtual ~ProcessControllerObserver() {}
    virtual void stateChanged(const std::string& description) = 0;
};

#endif
