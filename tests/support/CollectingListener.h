// A stream listener for tests that keeps every byte it is given and counts the calls.
#ifndef OSTARA_TEST_COLLECTINGLISTENER_H
#define OSTARA_TEST_COLLECTINGLISTENER_H

#include <mutex>
#include <string>

#include "ProcessStreamReaderListener.h"

class CollectingListener : public ProcessStreamReaderListener
{
public:
    void onData(std::string& data) override
    {
        std::lock_guard<std::mutex> hold(mutex);
        text += data;
        ++calls;
    }
    std::string received()
    {
        std::lock_guard<std::mutex> hold(mutex);
        return text;
    }
    int chunks()
    {
        std::lock_guard<std::mutex> hold(mutex);
        return calls;
    }

private:
    std::mutex mutex;
    std::string text;
    int calls = 0;
};

#endif
