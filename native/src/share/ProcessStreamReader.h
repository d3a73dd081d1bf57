// The portable part of a child-stream reader: the listener it feeds. The platform's
// ProcessStreamReaderImpl drains the stream on a thread of its own.
#ifndef OSTARA_PROCESSSTREAMREADER_H
#define OSTARA_PROCESSSTREAMREADER_H

class ProcessStreamReaderListener;

class ProcessStreamReader
{
public:
    explicit ProcessStreamReader(ProcessStreamReaderListener& l) : listener(l) {}
    virtual ~ProcessStreamReader() {}

protected:
    ProcessStreamReaderListener& listener;   // not owned

private:
    ProcessStreamReader(const ProcessStreamReader&);
    ProcessStreamReader& operator=(const ProcessStreamReader&);
};

#endif
