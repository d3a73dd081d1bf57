// Blocks the controller before each start of the child until the application's queue
// manager accepts a local connection, retrying at the configured interval and warning once
// per distinct problem. A queue manager reached over the network is not tested at all.
#ifndef OSTARAPC_TARNCONNECTIONMONITOR_H
#define OSTARAPC_TARNCONNECTIONMONITOR_H

#include <string>

#include "NativeProperties.h"
#include "TarnConnectionState.h"

class KorrThreadSync;
class ProcessControllerObserver;
class Vantariface;

class TarnConnectionMonitor
{
public:
    TarnConnectionMonitor();
    TarnConnectionMonitor(NativeProperties& properties, const std::string& productRoot);
    virtual ~TarnConnectionMonitor();

    // True once the queue manager can be reached (or need not be tested); false once stopped.
    // A KorrException from the properties or the library binding leaves it.
    bool wait();
    // Ends a retry wait at once; the next pass re-reads the properties.
    void wakeup() const;
    // Ends wait() with false, now and for ever.
    void stop();
    TarnConnectionState getState() const;
    int getLastError() const;
    // Told of each new problem ("waiting for queue manager NAME (reason code R)"); set before wait().
    void setObserver(ProcessControllerObserver* observer) { this->observer = observer; }

private:
    TarnConnectionMonitor(const TarnConnectionMonitor&);
    TarnConnectionMonitor& operator=(const TarnConnectionMonitor&);

    NativeProperties ownProperties;   // used only by the default constructor
    NativeProperties& properties;
    bool stopRequested;
    KorrThreadSync* monitor;
    TarnConnectionState state;
    int lastError;
    Vantariface* binding;
    std::string productRoot;
    bool propertiesLoaded;
    ProcessControllerObserver* observer = nullptr;
};

#endif
