// Receives what one child stream yields, chunk by chunk, on a reader thread (which may also
// serve the child's other stream, one chunk at a time).
// Chunks carry bytes exactly as read (any length, any byte values, lines split anywhere).
#ifndef OSTARA_PROCESSSTREAMREADERLISTENER_H
#define OSTARA_PROCESSSTREAMREADERLISTENER_H

#include <iosfwd>
#include <string>

class ProcessStreamReaderListener
{
public:
    virtual ~ProcessStreamReaderListener() {}
    // The listener may change `data`; the reader does not use it afterwards.
    virtual void onData(std::string& data) = 0;
};

std::ostream& operator<<(std::ostream& out, const ProcessStreamReaderListener& listener);

#endif
