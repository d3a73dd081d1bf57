// Copies each chunk a child writes to one of the controller's output files (one write per
// chunk, so the output appears as it comes) or, for callers that give one, to a C++ stream.
#ifndef OSTARAPC_PROCESSLISTENER_H
#define OSTARAPC_PROCESSLISTENER_H

#include <iosfwd>
#include <string>

#include "ProcessStreamReaderListener.h"

class OutputLogFile;

class ProcessListener : public ProcessStreamReaderListener
{
public:
    // Writes to the process's standard output.
    ProcessListener();
    // Writes to `out`, which must outlive the listener.
    explicit ProcessListener(std::ostream& out);
    // Writes to `file`, which must outlive the listener.
    explicit ProcessListener(OutputLogFile& file);
    ProcessListener(const ProcessListener& other);
    ProcessListener& operator=(const ProcessListener& other);
    ~ProcessListener() override;

    // Writes exactly the bytes of `data` (a stream is flushed, also when `data` is empty).
    void onData(std::string& data) override;

private:
    std::ostream* out;     // not owned; null when writing to file
    OutputLogFile* file;   // not owned
};

#endif
