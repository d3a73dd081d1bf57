#include "redirectStdStreams.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "KorrException.h"
#include "KorrUtils.h"
#include "RasDescriptor.h"
#include "Trace.h"

namespace {

const RasDescriptor& rd()
{
    static const RasDescriptor* d =
        new RasDescriptor("redirectStdStreams", "com.quillon.velbrix.nativ.processcontroller.ZRKPCMessages");
    return *d;
}

std::string temporaryDirectory()
{
    std::string tmp = KorrUtils::getenv("TMP");
    return tmp.empty() ? std::string("/tmp") : tmp;
}

// Opens path for writing and empties it, 0644. Through KorrUtils::openSafely: a FIFO, a link
// (also on the way to it, below a directory others can write), a file with other hard links
// and a file of another user are refused before anything is truncated; reason says why.
int openLogFile(const std::string& path, std::string& reason)
{
    int fd = KorrUtils::openSafely(path, O_WRONLY | O_CREAT | O_TRUNC, S_IRUSR | S_IWUSR | S_IRGRP | S_IROTH,
                                   nullptr, &reason);
    if (fd < 0 && reason.empty()) {
        reason = KorrUtils::getLastErrorMessage();
    }
    return fd;
}

// Both files open, then both streams move; false (reason set) leaves both streams as they were.
bool reopenBoth(const std::string& dir, std::string& reason)
{
    std::string sep = KorrUtils::separator();
    int out = openLogFile(dir + sep + "stdout.log", reason);
    if (out < 0) {
        return false;
    }
    int err = openLogFile(dir + sep + "stderr.log", reason);
    if (err < 0) {
        ::close(out);
        return false;
    }
    std::fflush(stdout);
    std::fflush(stderr);
    bool moved = ::dup2(out, STDOUT_FILENO) >= 0 && ::dup2(err, STDERR_FILENO) >= 0;
    if (!moved) {
        reason = KorrUtils::getLastErrorMessage();
    }
    ::close(out);
    ::close(err);
    if (moved) {
        // A log file is read as it grows: write each line out at once.
        std::setvbuf(stdout, nullptr, _IOLBF, 0);
    }
    return moved;
}

} // namespace

std::string redirectStdStreams(const std::string& directory)
{
    if (rd().isFlowOn()) {
        Trace::traceMethodEntry(rd(), nullptr, "redirectStdStreams", 1, directory.c_str());
    }
    const std::string wanted = directory + KorrUtils::separator() + "logs";
    std::string dir = wanted;
    std::string creationError;
    if (KorrUtils::mkdirs(dir, true) != 0) {
        creationError = KorrUtils::getLastErrorMessage();
        dir = temporaryDirectory();
    }
    std::string reopenError;
    bool reopened = reopenBoth(dir, reopenError);
    if (reopened || !creationError.empty()) {
        if (!creationError.empty()) {
            std::fprintf(stderr, "Using TMP directory as could not create directory %s due to error: %s\n",
                         wanted.c_str(), creationError.c_str());
        }
    } else {
        dir = temporaryDirectory();
        std::string tmpError;
        if (!reopenBoth(dir, tmpError)) {
            KorrException e("Failed to redirect stdout or stderr due to error: " + tmpError);
            if (rd().isFlowOn()) {
                Trace::throwing(rd(), "redirectStdStreams", &e);
            }
            throw e;
        }
        std::fprintf(stderr, "Using TMP directory as failed to reopen stdout to %s due to error: %s\n",
                     (wanted + KorrUtils::separator() + "stdout.log").c_str(), reopenError.c_str());
    }
    std::fflush(stderr);
    if (rd().isFlowOn()) {
        Trace::traceMethodExit(rd(), nullptr, "redirectStdStreams", &dir, "std::string");
    }
    return dir;
}
