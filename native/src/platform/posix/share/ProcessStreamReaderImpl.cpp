#include "ProcessStreamReaderImpl.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <string>

#include "KorrException.h"
#include "NLS.h"
#include "ProcessStreamReaderListener.h"
#include "RasDescriptor.h"
#include "RasDescriptorSlot.h"
#include "Trace.h"

namespace {

const RasDescriptorSlot rdSlot("ProcessStreamReaderImpl", "com.quillon.velbrix.nativ.common.ZRKNVMessages");

const RasDescriptor& rd() { return rdSlot.get(); }

} // namespace

ProcessStreamReaderImpl::ProcessStreamReaderImpl(int fd, ProcessStreamReaderListener& l)
    : ProcessStreamReader(l), descriptor(fd), wakeRead(-1), wakeWrite(-1), mode(READING), ended(false)
{
    int ends[2];
    if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
        // Without its wake-up pipe the reader could not be stopped: the thread is not made.
        KorrException e(NLS::format(rd(), "ZRKNV0013_UNABLE_TO_CREATE_THREAD", std::to_string(errno)));
        if (rd().isFlowOn()) {
            Trace::throwing(rd(), "ProcessStreamReaderImpl", &e);
        }
        throw e;
    }
    wakeRead = ends[0];
    wakeWrite = ends[1];
}

ProcessStreamReaderImpl::~ProcessStreamReaderImpl()
{
    close(wakeRead);
    close(wakeWrite);
}

void ProcessStreamReaderImpl::wake(Mode next)
{
    int expected = READING;
    if (next == STOPPING) {
        mode.store(STOPPING);
    } else if (!mode.compare_exchange_strong(expected, next)) {
        return; // already finishing or stopping
    }
    char byte = 1;
    // A full wake-up pipe is already readable: EAGAIN needs no retry.
    while (write(wakeWrite, &byte, 1) < 0 && errno == EINTR) {
    }
}

void ProcessStreamReaderImpl::requestStop() { wake(STOPPING); }

void ProcessStreamReaderImpl::requestFinish() { wake(FINISHING); }

bool ProcessStreamReaderImpl::waitEnded(long milliseconds)
{
    std::unique_lock<std::mutex> hold(endLock);
    return endChanged.wait_for(hold, std::chrono::milliseconds(milliseconds < 0 ? 0 : milliseconds),
                               [this] { return ended; });
}

long ProcessStreamReaderImpl::run()
{
    if (rd().isFlowOn()) {
        Trace::traceMethodEntry(rd(), this, "run", 0);
    }
    // The pipe is read straight into the string handed on: no copy per chunk. It grows only to
    // what the pipe has held, so the reader of a quiet child keeps no 64 KiB buffer.
    std::string data;
    pollfd watched[2] = {{descriptor, POLLIN, 0}, {wakeRead, POLLIN, 0}};
    bool success = true;
    ssize_t bytesRead = 0;
    long remaining = -1; // when finishing: bytes the pipe held when finishing began
    for (;;) {
        int current = mode.load();
        if (current == STOPPING) {
            break;
        }
        if (current == FINISHING) {
            if (remaining < 0) {
                int queued = 0;
                remaining = ioctl(descriptor, FIONREAD, &queued) == 0 ? queued : 0;
            }
            if (remaining == 0) {
                break; // a writer that stays behind cannot keep this reader alive
            }
        }
        // Finishing: take only what is already there, never wait for more.
        int ready = poll(watched, 2, current == FINISHING ? 0 : -1);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            success = false;
            break;
        }
        if (ready == 0) {
            break;
        }
        if (watched[1].revents != 0) {
            char sink[64];
            while (read(wakeRead, sink, sizeof sink) > 0) {
            }
            continue; // look at the mode again before reading more
        }
        if (watched[0].revents & POLLNVAL) {
            success = false;
            break;
        }
        if (watched[0].revents == 0) {
            continue;
        }
        // At end of data or on an error the pipe holds nothing: one byte lets read() say which.
        int queued = 0;
        std::size_t wanted = ioctl(descriptor, FIONREAD, &queued) == 0 && queued > 0
                                 ? static_cast<std::size_t>(queued) : std::size_t(1);
        if (wanted > BUFFER_SIZE) {
            wanted = BUFFER_SIZE;
        }
        if (current == FINISHING && static_cast<unsigned long>(remaining) < wanted) {
            wanted = static_cast<std::size_t>(remaining);
        }
        if (data.size() < wanted) {
            data.resize(wanted);   // the listener may have shrunk or taken it
        }
        bytesRead = read(descriptor, &data[0], wanted);
        if (bytesRead < 0) {
            if (errno == EINTR || errno == EAGAIN) {
                continue;
            }
            success = false;
            break;
        }
        if (bytesRead == 0) {
            break; // every writer has closed the pipe
        }
        if (current == FINISHING) {
            remaining -= bytesRead;
        }
        // Exactly the bytes read: output may hold NUL bytes, which must pass through.
        data.resize(static_cast<std::size_t>(bytesRead));
        if (rd().isOn(TraceLevel::MODERATE)) {
            std::string count = std::to_string(bytesRead);
            Trace::traceMethodData(rd(), TraceLevel::MODERATE, this, "run", 4, "bytesRead: ", count.c_str(),
                                   " data: ", data.c_str());
        }
        listener.onData(data);
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
    std::lock_guard<std::mutex> hold(endLock);
    ended = true;
    endChanged.notify_all();
    return 0;
}
