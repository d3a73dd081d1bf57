#include "ProcessStreamReaderImpl.h"

#include <memory>
#include <string>

#include <windows.h>

#include "ProcessStreamReaderListener.h"
#include "RasDescriptor.h"
#include "Trace.h"

namespace {

const RasDescriptor& rd()
{
    static const RasDescriptor* d =
        new RasDescriptor("ProcessStreamReaderImpl", "com.quillon.velbrix.nativ.common.ZRKNVMessages");
    return *d;
}

typedef std::lock_guard<std::mutex> Hold;

} // namespace

ProcessStreamReaderImpl::ProcessStreamReaderImpl(void* handle, ProcessStreamReaderListener& l)
    : ProcessStreamReader(l), pipe(handle), mode(READING), reader(nullptr), blocking(false)
{
}

ProcessStreamReaderImpl::~ProcessStreamReaderImpl() {}

void ProcessStreamReaderImpl::requestStop() { wake(STOPPING); }

void ProcessStreamReaderImpl::requestFinish() { wake(FINISHING); }

// A cancel that comes between the reader's check and its ReadFile finds nothing to cancel,
// so it is repeated until the reader has left the blocking read.
void ProcessStreamReaderImpl::wake(Mode next)
{
    {
        Hold hold(lock);
        if (next == STOPPING || mode == READING) {
            mode = next;
        }
    }
    for (;;) {
        {
            Hold hold(lock);
            if (!blocking || reader == nullptr) {
                return;
            }
            CancelSynchronousIo(reader);
        }
        Sleep(2);
    }
}

bool ProcessStreamReaderImpl::beginBlockingRead()
{
    Hold hold(lock);
    blocking = mode == READING;
    return blocking;
}

long ProcessStreamReaderImpl::run()
{
    if (rd().isFlowOn()) {
        Trace::traceMethodEntry(rd(), this, "run", 0);
    }
    HANDLE self = nullptr;
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &self, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    {
        Hold hold(lock);
        reader = self;
    }
    std::unique_ptr<char[]> buffer(new char[BUFFER_SIZE]);
    bool success = true;
    DWORD bytesRead = 0;
    for (;;) {
        DWORD wanted = BUFFER_SIZE;
        Mode current;
        {
            Hold hold(lock);
            current = mode;
        }
        if (current == STOPPING) {
            break;
        }
        if (current == FINISHING || !beginBlockingRead()) {
            // Finishing: take only what the pipe already holds, never wait for more.
            DWORD available = 0;
            if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) || available == 0) {
                break;
            }
            if (available < wanted) {
                wanted = available;
            }
        }
        bytesRead = 0;
        BOOL ok = ReadFile(pipe, buffer.get(), wanted, &bytesRead, nullptr);
        DWORD error = ok ? 0 : GetLastError();
        {
            Hold hold(lock);
            blocking = false;
        }
        if (!ok && error == ERROR_OPERATION_ABORTED) {
            continue; // woken: look at the mode again
        }
        if (!ok || bytesRead == 0) {
            success = ok != FALSE; // a broken pipe: every writer has closed it
            break;
        }
        // Exactly the bytes read: output may hold NUL bytes, which must pass through.
        std::string data(buffer.get(), bytesRead);
        if (rd().isOn(TraceLevel::MODERATE)) {
            std::string count = std::to_string(bytesRead);
            Trace::traceMethodData(rd(), TraceLevel::MODERATE, this, "run", 4, "bytesRead: ", count.c_str(),
                                   " data: ", data.c_str());
        }
        listener.onData(data);
    }
    {
        Hold hold(lock);
        reader = nullptr;
        blocking = false;
    }
    if (self) {
        CloseHandle(self);
    }
    if (rd().isOn(TraceLevel::MODERATE)) {
        std::string count = std::to_string(bytesRead);
        Trace::traceMethodData(rd(), TraceLevel::MODERATE, this, "run", 4, "success: ", success ? "true" : "false",
                               "bytesRead: ", count.c_str());
    }
    if (rd().isFlowOn()) {
        std::string result("0");
        Trace::traceMethodExit(rd(), this, "run", &result, "long");
    }
    return 0;
}
