// Echoes event messages (CONFIG and above) of a foreground process as bare text: WARNING and
// above to standard error, the rest to standard output.
#ifndef OSTARA_CONSOLELOGHANDLER_H
#define OSTARA_CONSOLELOGHANDLER_H

#include "LogHandler.h"

class KorrThreadSync;

class ConsoleLogHandler : public LogHandler
{
public:
    ConsoleLogHandler();
    ~ConsoleLogHandler() override;
    void publish(LogRecord& record) override;

private:
    KorrThreadSync* lock;
};

#endif
