// Copies each chunk a child writes to one of the controller's own output streams and
// flushes it at once, so that the child's output appears in the redirected files as it comes.
#ifndef OSTARAPC_PROCESSLISTENER_H
#define OSTARAPC_PROCESSLISTENER_H

#include <iosfwd>
#include <string>

#include "ProcessStreamReaderListener.h"

class ProcessListener : public ProcessStreamReaderListener
{
public:
    // Writes to the process's standard output.
    ProcessListener();
    // Writes to `out`, which must outlive the listener.
    explicit ProcessListener(std::ostream& out);
    ProcessListener(const ProcessListener& other);
    ProcessListener& operator=(const ProcessListener& other);
    ~ProcessListener() override;

    // Writes exactly the bytes of `data` and flushes, also when `data` is empty.
    void onData(std::string& data) override;

private:
    std::ostream* out;   // not owned
};

#endif
