#include "KorrProcessImpl.h"

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
// glibc 2.36 declares these without C linkage for C++.
extern "C" {
#include <sys/pidfd.h>
}
#include <sys/wait.h>
#include <unistd.h>

#include <memory>
#include <mutex>

#include "ChildReaper.h"
#include "KorrException.h"
#include "KorrThreadImpl.h"
#include "KorrUtils.h"
#include "NLS.h"
#include "ProcessStreamReaderImpl.h"
#include "RasDescriptor.h"
#include "RasDescriptorSlot.h"
#include "Synchronize.h"
#include "Trace.h"

extern char** environ;

namespace {

const RasDescriptorSlot rdSlot("KorrProcessImpl", "com.quillon.velbrix.nativ.common.ZRKNVMessages");

const RasDescriptor& rd() { return rdSlot.get(); }

void closeQuietly(int& fd)
{
    if (fd >= 0) {
        close(fd);
        fd = -1;
    }
}

// Pipe ends must not sit on 0, 1 or 2 (possible when this process runs with a standard
// stream closed): the child's dup2 onto those numbers would clobber another end.
bool raiseAboveStandard(int& fd)
{
    if (fd > 2) {
        return true;
    }
    int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    if (moved < 0) {
        return false;
    }
    close(fd);
    fd = moved;
    return true;
}

void* asHandle(int fd) { return reinterpret_cast<void*>(static_cast<intptr_t>(fd)); }

void traceModerate(const void* object, const char* method, const char* text, const std::string& value)
{
    if (rd().isOn(TraceLevel::MODERATE)) {
        Trace::traceMethodData(rd(), TraceLevel::MODERATE, object, method, 2, text, value.c_str());
    }
}

void traceExit(const void* object, const char* method, const std::string& result, const char* type)
{
    if (rd().isFlowOn()) {
        Trace::traceMethodExit(rd(), object, method, &result, type);
    }
}

KorrException thrown(const char* method, const std::string& message)
{
    KorrException e(message);
    if (rd().isFlowOn()) {
        Trace::throwing(rd(), method, &e);
    }
    return e;
}

int waitChild(int pid, int pidfd, siginfo_t* info, int options)
{
    int rc;
    do {
        info->si_pid = 0;
        rc = pidfd >= 0 ? waitid(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(pidfd), info, options)
                        : waitid(P_PID, static_cast<id_t>(pid), info, options);
    } while (rc != 0 && errno == EINTR);
    return rc;
}

} // namespace

uint32_t KorrProcess::getCurrentProcessId() { return KorrProcessImpl::getCurrentProcessId(); }

uint32_t KorrProcessImpl::getCurrentProcessId() { return static_cast<uint32_t>(getpid()); }

KorrProcess* KorrProcess::newInstance(int argc, char** argv, const std::string& workingDirectory)
{
    return new KorrProcessImpl(argc, argv, workingDirectory);
}

KorrProcessImpl::KorrProcessImpl(int argc, char** argv) : KorrProcessImpl(argc, argv, std::string()) {}

KorrProcessImpl::KorrProcessImpl(int argc, char** argv, const std::string& directory)
    : workingDirectory(directory), pid(0), pidfd(-1), stdinRead(-1), stdinWrite(-1), stdoutRead(-1),
      stdoutWrite(-1), stderrRead(-1), stderrWrite(-1), reader(nullptr), readerThread(nullptr),
      outputListener(nullptr), errorListener(nullptr), started(false), reaped(false), stopped(false),
      exitCode(0), stopGrace(STOP_GRACE_MS)
{
    std::string shown;
    for (int i = 0; i < argc; ++i) {
        const char* entry = argv ? argv[i] : nullptr;
        if (i > 0) {
            shown += ", ";
        }
        shown += entry ? entry : "null";
        argumentVector.push_back(entry ? entry : "");
        if (i > 1) {
            arguments += ' ';
        }
        if (i > 0) {
            arguments += argumentVector.back();
        }
    }
    if (rd().isFlowOn()) {
        std::string count = std::to_string(argc);
        Trace::traceMethodEntry(rd(), this, "KorrProcessImpl", 3, count.c_str(), shown.c_str(), directory.c_str());
    }
    program = argumentVector.empty() ? std::string() : argumentVector[0];
    createPipe(stdoutRead, stdoutWrite, "ZRKNV0001_CREATE_PIPE_STDOUT", "ZRKNV0002_HANDLE_INFO_STDOUT");
    createPipe(stdinRead, stdinWrite, "ZRKNV0003_CREATE_PIPE_STDIN", "ZRKNV0004_HANDLE_INFO_STDIN");
    createPipe(stderrRead, stderrWrite, "ZRKNV0005_CREATE_PIPE_STDERR", "ZRKNV0006_HANDLE_INFO_STDERR");
    if (rd().isFlowOn()) {
        Trace::traceMethodExit(rd(), this, "KorrProcessImpl", nullptr, "");
    }
}

// Both ends are close-on-exec from the start: no other child can inherit them, and the
// child gets its own end only as a standard stream.
void KorrProcessImpl::createPipe(int& readEnd, int& writeEnd, const char* createKey, const char* adjustKey)
{
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        closeDescriptors();
        throw thrown("KorrProcessImpl", NLS::format(rd(), createKey));
    }
    readEnd = ends[0];
    writeEnd = ends[1];
    if (!raiseAboveStandard(readEnd) || !raiseAboveStandard(writeEnd)) {
        closeDescriptors();
        throw thrown("KorrProcessImpl", NLS::format(rd(), adjustKey));
    }
}

void KorrProcessImpl::closeDescriptors()
{
    closeQuietly(stdinRead);
    closeQuietly(stdinWrite);
    closeQuietly(stdoutRead);
    closeQuietly(stdoutWrite);
    closeQuietly(stderrRead);
    closeQuietly(stderrWrite);
    closeQuietly(pidfd);
}

KorrProcessImpl::~KorrProcessImpl()
{
    stopReader();
    int ignored;
    if (!reapIfEnded(ignored) && started) {
        ChildReaper::release(pid);   // still running: a reaper, if any, collects it when it ends
    }
    closeDescriptors();
}

void KorrProcessImpl::stopReader()
{
    if (readerThread) {
        try {
            readerThread->stop();
        } catch (const KorrException& e) {
            traceModerate(this, "stopReader", "stopping reader thread failed: ", e.toString());
        }
        delete readerThread;
        readerThread = nullptr;
    }
    delete reader;
    reader = nullptr;
}

void KorrProcessImpl::start()
{
    if (rd().isFlowOn()) {
        Trace::traceMethodEntry(rd(), this, "start", 0);
    }
    int rc = 0;
    {
        Synchronize hold(&childLock);
        if (started) {
            rc = EALREADY;
        }
    }
    if (rc == 0) {
        std::vector<char*> vector;
        for (std::string& entry : argumentVector) {
            vector.push_back(&entry[0]);
        }
        vector.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawnattr_t attributes;
        rc = posix_spawn_file_actions_init(&actions);
        if (rc == 0) {
            rc = posix_spawnattr_init(&attributes);
            if (rc != 0) {
                posix_spawn_file_actions_destroy(&actions);
            }
        }
        if (rc == 0) {
            // The child must not inherit ignored signals or a blocked mask from this process.
            sigset_t all;
            sigset_t none;
            sigfillset(&all);
            sigemptyset(&none);
            rc = posix_spawnattr_setsigdefault(&attributes, &all);
            if (rc == 0) rc = posix_spawnattr_setsigmask(&attributes, &none);
            // A group of its own: a forced stop ends the child and whatever it started.
            if (rc == 0) rc = posix_spawnattr_setpgroup(&attributes, 0);
            if (rc == 0) {
                rc = posix_spawnattr_setflags(&attributes,
                                              POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETPGROUP);
            }
            if (rc == 0) rc = posix_spawn_file_actions_adddup2(&actions, stdinRead, 0);
            if (rc == 0) rc = posix_spawn_file_actions_adddup2(&actions, stdoutWrite, 1);
            if (rc == 0) rc = posix_spawn_file_actions_adddup2(&actions, stderrWrite, 2);
            if (rc == 0 && !workingDirectory.empty()) {
                rc = posix_spawn_file_actions_addchdir_np(&actions, workingDirectory.c_str());
            }
            // Descriptors that others opened without close-on-exec stay with this process.
            if (rc == 0) rc = posix_spawn_file_actions_addclosefrom_np(&actions, 3);
            pid_t child = 0;
            if (rc == 0) {
                // No code of ours runs between fork and exec (the child of a threaded process may
                // only make async-signal-safe calls there); posix_spawnp reports a failed chdir
                // or exec here, with nothing left running.
                std::lock_guard<std::mutex> spawning(ChildReaper::lock());
                rc = posix_spawnp(&child, program.c_str(), &actions, &attributes, vector.data(), environ);
                if (rc == 0) {
                    ChildReaper::own(child);
                }
            }
            posix_spawnattr_destroy(&attributes);
            posix_spawn_file_actions_destroy(&actions);
            if (rc == 0) {
                Synchronize hold(&childLock);
                pid = child;
                pidfd = pidfd_open(child, 0);
                started = true;
            }
        }
    }
    if (rc != 0) {
        std::string reason = std::to_string(rc) + " (" + KorrUtils::getLastErrorMessage(rc) + ")";
        throw thrown("start",
                     NLS::format(rd(), "ZRKNV0007_UNABLE_TO_CREATE_PROCESS", program, arguments, reason));
    }
    // Only the child may hold these ends now, so the readers see end of data when it ends.
    closeQuietly(stdinRead);
    closeQuietly(stdoutWrite);
    closeQuietly(stderrWrite);
    traceExit(this, "start", std::to_string(pid), "void");
}

void KorrProcessImpl::setStopGracePeriod(long milliseconds)
{
    Synchronize hold(&childLock);
    stopGrace = milliseconds < 0 ? 0 : milliseconds;
}

void KorrProcessImpl::stop()
{
    if (rd().isFlowOn()) {
        Trace::traceMethodEntry(rd(), this, "stop", 0);
    }
    bool running = false;
    bool launched;
    long grace;
    {
        Synchronize hold(&childLock);
        launched = started;
        grace = stopGrace;
        if (started && !reaped) {
            // Under the lock the child is not yet reaped, so its pid still names the group.
            stopped = true;
            int rc = killpg(pid, SIGTERM);
            traceModerate(this, "stop", "terminate result: ", rc == 0 ? std::string("0") : std::to_string(errno));
            running = true;
        }
    }
    if (running) {
        awaitEnd(grace);
        {
            Synchronize hold(&childLock);
            if (!reaped) {
                killpg(pid, SIGKILL);   // the child, if it is still there, and its descendants
            }
        }
        awaitEnd(-1);
        int ignored;
        reapIfEnded(ignored);
    }
    if (launched && reader) {
        reader->requestFinish();
    }
    traceExit(this, "stop", std::string(), "void");
}

void KorrProcessImpl::awaitEnd()
{
    siginfo_t info;
    waitChild(pid, pidfd, &info, WEXITED | WNOWAIT);
}

// Blocks until the child has ended (at most `milliseconds` unless negative) without
// collecting it, so that stop() on another thread can still signal its group safely up to
// the moment reapIfEnded() takes it. True once it has ended.
bool KorrProcessImpl::awaitEnd(long milliseconds)
{
    if (milliseconds < 0) {
        awaitEnd();
        return true;
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        siginfo_t info;
        if (waitChild(pid, pidfd, &info, WEXITED | WNOWAIT | WNOHANG) != 0 || info.si_pid != 0) {
            return true;
        }
        long left = static_cast<long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count());
        if (left <= 0) {
            return false;
        }
        if (pidfd >= 0) {
            pollfd ready = {pidfd, POLLIN, 0};
            poll(&ready, 1, static_cast<int>(left));
        } else {
            usleep(static_cast<useconds_t>((left < 10 ? left : 10) * 1000));
        }
    }
}

// Collects the child if it has ended; true with its exit code then, false while it runs.
bool KorrProcessImpl::reapIfEnded(int& code)
{
    Synchronize hold(&childLock);
    if (!started) {
        code = 0;
        return false;
    }
    if (!reaped) {
        siginfo_t info;
        if (waitChild(pid, pidfd, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0) {
            return false;
        }
        if (stopped) {
            killpg(pid, SIGKILL);   // a forced stop ends the whole group before its id is freed
        }
        waitChild(pid, pidfd, &info, WEXITED | WNOHANG);
        ChildReaper::release(pid);
        reaped = true;
        if (info.si_pid == 0) {
            exitCode = 0; // collected elsewhere (SIGCHLD ignored): the code cannot be read
        } else if (stopped) {
            exitCode = 0; // ended after stop() (a JVM's hooks exit 143): a termination with 0
        } else if (info.si_code == CLD_EXITED) {
            exitCode = info.si_status;
        } else if (stopped) {
            exitCode = 0; // ended by stop(), as a termination with exit code 0
        } else {
            exitCode = 128 + info.si_status;
        }
        traceModerate(this, "reapIfEnded", "exit code: ", std::to_string(exitCode));
    }
    code = exitCode;
    return true;
}

int KorrProcessImpl::waitForProcess()
{
    if (rd().isFlowOn()) {
        Trace::traceMethodEntry(rd(), this, "waitForProcess", 0);
    }
    bool running;
    {
        Synchronize hold(&childLock);
        running = started;
    }
    int code = 0;
    if (running) {
        awaitEnd();
        // The readers normally end at end of data, just after the child's last byte.
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(DRAIN_MS);
        drainReader(deadline);
        reapIfEnded(code);
    }
    traceExit(this, "waitForProcess", std::to_string(code), "int");
    return code;
}

// A descendant that inherited the pipe may hold it open for ever: after the deadline the
// reader takes what the pipe holds and ends.
void KorrProcessImpl::drainReader(std::chrono::steady_clock::time_point deadline)
{
    if (readerThread == nullptr) {
        return;
    }
    long left = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count());
    if (!reader->waitEnded(left)) {
        traceModerate(this, "waitForProcess", "pipe still held open after the child ended: ", std::to_string(pid));
        reader->requestFinish();
    }
    try {
        readerThread->join();
    } catch (const KorrException& e) {
        traceModerate(this, "waitForProcess", "join failed: ", e.toString());
    }
}

int KorrProcessImpl::getExitCode()
{
    if (rd().isFlowOn()) {
        Trace::traceMethodEntry(rd(), this, "getExitCode", 0);
    }
    int code = 0;
    bool readable;
    {
        Synchronize hold(&childLock);
        readable = started;
    }
    if (readable && !reapIfEnded(code)) {
        code = STILL_ACTIVE;
    }
    traceModerate(this, "getExitCode", "success: ", readable ? "true" : "false");
    traceExit(this, "getExitCode", std::to_string(code), "int");
    return code;
}

void* KorrProcessImpl::getInputStream() { return asHandle(stdinWrite); }

void* KorrProcessImpl::getOutputStream() { return asHandle(stdoutRead); }

void* KorrProcessImpl::getErrorStream() { return asHandle(stderrRead); }

uint32_t KorrProcessImpl::getProcessId()
{
    Synchronize hold(&childLock);
    return static_cast<uint32_t>(pid);
}

void KorrProcessImpl::registerOutputStreamListener(ProcessStreamReaderListener& listener)
{
    registerListener(outputListener, listener, stdoutRead);
}

void KorrProcessImpl::registerErrorStreamListener(ProcessStreamReaderListener& listener)
{
    registerListener(errorListener, listener, stderrRead);
}

// A stream's first listener joins the running reader. Replacing a listener, or a reader that
// has already ended, stops the reader before a new one starts, so no byte is read twice or by
// two readers at once; what the old one had not read is left in the pipes for the new one.
void KorrProcessImpl::registerListener(ProcessStreamReaderListener*& slot, ProcessStreamReaderListener& listener,
                                       int descriptor)
{
    if (rd().isFlowOn()) {
        std::string p = Trace::pointerText(&listener);
        Trace::traceMethodEntry(rd(), this, "registerStreamListener", 1, p.c_str());
    }
    bool first = slot == nullptr;
    slot = &listener;
    if (!(first && reader && reader->attach(descriptor, listener))) {
        if (readerThread) {
            traceModerate(this, "registerStreamListener", "replacing reader thread ", Trace::pointerText(readerThread));
        }
        stopReader();
        std::unique_ptr<ProcessStreamReaderImpl> fresh;
        const std::pair<ProcessStreamReaderListener*, int> wanted[] = {{outputListener, stdoutRead},
                                                                      {errorListener, stderrRead}};
        for (const auto& stream : wanted) {
            if (stream.first == nullptr) {
                continue;
            }
            if (fresh) {
                fresh->attach(stream.second, *stream.first);
            } else {
                fresh.reset(new ProcessStreamReaderImpl(stream.second, *stream.first));
            }
        }
        std::unique_ptr<KorrThreadImpl> runner(new KorrThreadImpl(fresh.get()));
        runner->start();
        reader = fresh.release();
        readerThread = runner.release();
    }
    traceExit(this, "registerStreamListener", std::string(), "void");
}
