#include "redirectStdStreams.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "KorrException.h"
#include "KorrUtils.h"
#include "OutputLogFile.h"
#include "RasDescriptor.h"
#include "Trace.h"

namespace {

const RasDescriptor& rd()
{
    static const RasDescriptor* d =
        new RasDescriptor("redirectStdStreams", "com.quillon.velbrix.nativ.processcontroller.ZRKPCMessages");
    return *d;
}

// The most generations a controller may keep; it knows its own count only later.
const int OUTPUT_GENERATIONS_MAX = 100;

std::string temporaryDirectory()
{
    std::string tmp = KorrUtils::getenv("TMP");
    return tmp.empty() ? std::string("/tmp") : tmp;
}

// The output of the previous run becomes generation 1 (the controller deletes what lies past
// its count), and the run starts a fresh file, appended to, so an outside truncate leaves no hole.
int openLogFile(const std::string& path)
{
    OutputLogFile::shiftGenerations(path, OUTPUT_GENERATIONS_MAX);
    return OutputLogFile::openForAppend(path);
}

// Both files open, then both streams move; false (errno set) leaves both streams as they were.
bool reopenBoth(const std::string& dir)
{
    std::string sep = KorrUtils::separator();
    int out = openLogFile(dir + sep + "stdout.log");
    if (out < 0) {
        return false;
    }
    int err = openLogFile(dir + sep + "stderr.log");
    if (err < 0) {
        int error = errno;
        ::close(out);
        errno = error;
        return false;
    }
    std::fflush(stdout);
    std::fflush(stderr);
    bool moved = ::dup2(out, STDOUT_FILENO) >= 0 && ::dup2(err, STDERR_FILENO) >= 0;
    int error = errno;
    ::close(out);
    ::close(err);
    errno = error;
    if (moved) {
        // A log file is read as it grows: write each line out at once.
        std::setvbuf(stdout, nullptr, _IOLBF, 0);
    }
    return moved;
}

// Owner read/write, group "vexil" read/write when it exists, others read. Best effort: the
// files were created owner-only, which is safe if this fails.
void protect(const std::string& dir)
{
    for (const char* name : {"stdout.log", "stderr.log"}) {
        try {
            KorrUtils::mkGroupVexilWrite(dir + KorrUtils::separator() + name, false);
        } catch (const KorrException& e) {
            if (rd().isOn(TraceLevel::MODERATE)) {
                std::string text = "Unable to protect " + std::string(name) + ": " + e.getMessage();
                Trace::traceMethodData(rd(), TraceLevel::MODERATE, nullptr, "redirectStdStreams", 1, text.c_str());
            }
        }
    }
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
    bool reopened = reopenBoth(dir);
    if (reopened || !creationError.empty()) {
        // Only files this call opened are protected: a name in a shared temporary directory
        // that could not be opened may be a link to anything.
        if (reopened) {
            protect(dir);
        }
        if (!creationError.empty()) {
            std::fprintf(stderr, "Using TMP directory as could not create directory %s due to error: %s\n",
                         wanted.c_str(), creationError.c_str());
        }
    } else {
        std::string reopenError = KorrUtils::getLastErrorMessage();
        dir = temporaryDirectory();
        if (!reopenBoth(dir)) {
            KorrException e("Failed to redirect stdout or stderr due to error: " + KorrUtils::getLastErrorMessage());
            if (rd().isFlowOn()) {
                Trace::throwing(rd(), "redirectStdStreams", &e);
            }
            throw e;
        }
        std::fprintf(stderr, "Using TMP directory as failed to reopen stdout to %s due to error: %s\n",
                     (wanted + KorrUtils::separator() + "stdout.log").c_str(), reopenError.c_str());
        protect(dir);
    }
    std::fflush(stderr);
    if (rd().isFlowOn()) {
        Trace::traceMethodExit(rd(), nullptr, "redirectStdStreams", &dir, "std::string");
    }
    return dir;
}
