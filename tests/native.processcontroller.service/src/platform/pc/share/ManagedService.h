// One service of a test under the service control manager: installed with the staged
// program's -install, started, controlled and watched through the manager's own calls, and
// always stopped (its processes ended if need be) and deleted at the end.
#ifndef OSTARAPCSERVICE_TEST_MANAGEDSERVICE_H
#define OSTARAPCSERVICE_TEST_MANAGEDSERVICE_H

#include <windows.h>

#include <string>
#include <vector>

#include "ServiceManagerSupport.h"
#include "TempDir.h"

class ManagedService
{
public:
    // The name is base and this process's id; the service keeps its logs in dir()\logs and
    // supervises the sample agent in dir()\work with properties (agent.properties).
    ManagedService(const std::string& base, const std::string& properties);
    ~ManagedService();

    // ostarapcservice.exe -install with this service's options, the controller's options and
    // the agent's arguments after the agent program.
    ProgramResult install(const std::vector<std::string>& agentArgs, const std::vector<std::string>& extra = {});
    // The service's command line as the manager starts it, split as the program sees it.
    std::vector<std::string> commandLine(const std::vector<std::string>& agentArgs) const;
    ProgramResult ostaractl(const std::string& command) const;

    // Runs action, then records each state the manager reports for the service until one of
    // until (a mask of SERVICE_NOTIFY_* bits) or the deadline. Fails the test when the
    // service's process ends without its status saying STOPPED.
    template <typename Action>
    std::vector<SERVICE_STATUS_PROCESS> watch(DWORD until, int timeoutMs, Action action)
    {
        arm(until);
        action();
        return collect(until, timeoutMs);
    }
    SERVICE_STATUS_PROCESS status() const;
    // RUNNING, and its process is alive (Wine never notices a service process that died).
    bool running() const;
    SC_HANDLE handle() const { return service; }
    // Closes this object's handle, which would keep a deleted service registered.
    void release();

    std::vector<std::string> serviceLog() const;
    std::string dir() const { return windowsPath(temp.path()); }
    std::string file(const std::string& relative) const { return dir() + "\\" + relative; }
    std::string read(const std::string& relative) const { return temp.read(relative); }

    const std::string name;

private:
    ManagedService(const ManagedService&);
    ManagedService& operator=(const ManagedService&);
    void arm(DWORD mask);
    std::vector<SERVICE_STATUS_PROCESS> collect(DWORD until, int timeoutMs);
    void endAgents() const;

    // Where notifications land. Each registration has a handle of its own (a handle takes one
    // at a time); only the latest one counts. Sink and registrations are never freed: the
    // manager may still deliver to one after this object has gone.
    struct Sink
    {
        std::vector<SERVICE_STATUS_PROCESS> seen;
        SERVICE_NOTIFYW* current = nullptr;
    };
    static void CALLBACK notified(void* parameter);

    TempDir temp;
    SC_HANDLE manager;
    SC_HANDLE service;
    DWORD lastPid;
    Sink* sink;
    std::vector<SC_HANDLE> watchHandles;
};

#endif
