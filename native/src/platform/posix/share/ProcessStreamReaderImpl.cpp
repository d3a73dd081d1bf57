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
    : ProcessStreamReader(l), wakeRead(-1), wakeWrite(-1), mode(READING), attached(1), ending(false), ended(false)
{
    streams[0].descriptor = fd;
    streams[0].listener = &l;
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

bool ProcessStreamReaderImpl::attach(int fd, ProcessStreamReaderListener& l)
{
    {
        std::lock_guard<std::mutex> hold(endLock);
        if (ending || ended || attached >= MAX_STREAMS) {
            return false;
        }
        streams[attached].descriptor = fd;
        streams[attached].listener = &l;
        ++attached;
    }
    poke();
    return true;
}

void ProcessStreamReaderImpl::wake(Mode next)
{
    int expected = READING;
    if (next == STOPPING) {
        mode.store(STOPPING);
    } else if (!mode.compare_exchange_strong(expected, next)) {
        return; // already finishing or stopping
    }
    poke();
}

void ProcessStreamReaderImpl::poke()
{
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

bool ProcessStreamReaderImpl::readChunk(Stream& stream, int current)
{
    // At end of data or on an error the pipe holds nothing: one byte lets read() say which.
    int queued = 0;
    std::size_t wanted = ioctl(stream.descriptor, FIONREAD, &queued) == 0 && queued > 0
                             ? static_cast<std::size_t>(queued) : std::size_t(1);
    if (wanted > BUFFER_SIZE) {
        wanted = BUFFER_SIZE;
    }
    if (current == FINISHING && static_cast<unsigned long>(stream.remaining) < wanted) {
        wanted = static_cast<std::size_t>(stream.remaining);
    }
    // The buffer grows only to what the pipe has held, so the reader of a quiet child keeps
    // no 64 KiB buffer; the listener may have shrunk or taken it.
    if (stream.data.size() < wanted) {
        stream.data.resize(wanted);
    }
    ssize_t bytesRead = read(stream.descriptor, &stream.data[0], wanted);
    if (bytesRead < 0) {
        if (errno == EINTR || errno == EAGAIN) {
            return true;
        }
        if (rd().isOn(TraceLevel::MODERATE)) {
            std::string code = std::to_string(errno);
            Trace::traceMethodData(rd(), TraceLevel::MODERATE, this, "run", 2, "read failed: ", code.c_str());
        }
        return false;
    }
    if (bytesRead == 0) {
        return false; // every writer has closed the pipe
    }
    if (current == FINISHING) {
        stream.remaining -= bytesRead;
    }
    // Exactly the bytes read: output may hold NUL bytes, which must pass through.
    stream.data.resize(static_cast<std::size_t>(bytesRead));
    if (rd().isOn(TraceLevel::MODERATE)) {
        std::string count = std::to_string(bytesRead);
        Trace::traceMethodData(rd(), TraceLevel::MODERATE, this, "run", 4, "bytesRead: ", count.c_str(), " data: ",
                               stream.data.c_str());
    }
    stream.listener->onData(stream.data);
    return true;
}

long ProcessStreamReaderImpl::run()
{
    if (rd().isFlowOn()) {
        Trace::traceMethodEntry(rd(), this, "run", 0);
    }
    int known;   // streams this thread has taken up; attach() may add one at any time
    {
        std::lock_guard<std::mutex> hold(endLock);
        known = attached;
    }
    pollfd watched[MAX_STREAMS + 1];
    Stream* polled[MAX_STREAMS];
    for (;;) {
        int current = mode.load();
        if (current == STOPPING) {
            break;
        }
        int count = 0;
        for (int i = 0; i < known; ++i) {
            Stream& stream = streams[i];
            if (!stream.done && current == FINISHING) {
                if (stream.remaining < 0) {
                    int queued = 0;
                    stream.remaining = ioctl(stream.descriptor, FIONREAD, &queued) == 0 ? queued : 0;
                }
                // A writer that stays behind cannot keep this reader alive.
                stream.done = stream.remaining == 0;
            }
            if (!stream.done) {
                watched[count] = {stream.descriptor, POLLIN, 0};
                polled[count++] = &stream;
            }
        }
        if (count == 0) {
            std::lock_guard<std::mutex> hold(endLock);
            if (attached == known) {
                ending = true;
                break;
            }
            known = attached;
            continue;
        }
        watched[count] = {wakeRead, POLLIN, 0};
        // Finishing: take only what is already there, never wait for more.
        int ready = poll(watched, static_cast<nfds_t>(count + 1), current == FINISHING ? 0 : -1);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if (ready == 0) {
            for (int i = 0; i < count; ++i) {
                polled[i]->done = true;
            }
            continue;
        }
        if (watched[count].revents != 0) {
            char sink[64];
            while (read(wakeRead, sink, sizeof sink) > 0) {
            }
            std::lock_guard<std::mutex> hold(endLock);
            known = attached;
            continue; // look at the mode and the streams again before reading more
        }
        for (int i = 0; i < count; ++i) {
            if (watched[i].revents & POLLNVAL) {
                polled[i]->done = true;
            } else if (watched[i].revents != 0 && !readChunk(*polled[i], current)) {
                polled[i]->done = true;
            }
        }
    }
    if (rd().isFlowOn()) {
        std::string result("0");
        Trace::traceMethodExit(rd(), this, "run", &result, "long");
    }
    std::lock_guard<std::mutex> hold(endLock);
    ending = true;
    ended = true;
    endChanged.notify_all();
    return 0;
}
