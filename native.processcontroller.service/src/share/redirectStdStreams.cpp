#include "redirectStdStreams.h"

#include <cstdio>

#include "KorrException.h"
#include "KorrUtils.h"
#include "OutputDescriptor.h"
#include "OutputLogFile.h"
#include "RasDescriptor.h"
#include "ServicePlatform.h"
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

// The output of the previous run becomes generation 1 (the controller deletes what lies past
// its count), and the run starts a fresh file, appended to, so an outside truncate leaves no
// hole. Opened as every output file is (OutputDescriptor::openForAppend): a link is refused.
int openLogFile(const std::string& path, std::string& reason)
{
    OutputLogFile::shiftGenerations(path, OUTPUT_GENERATIONS_MAX);
    int fd = OutputLogFile::openForAppend(path, &reason);
    if (fd < 0 && reason.empty()) {
        reason = KorrUtils::getLastErrorMessage();
    }
    return fd;
}

// Both files open, then both streams move; false (reason set) leaves both streams as they were.
bool reopenBoth(const std::string& dir, std::string& reason)
{
    if (dir.empty()) {
        reason = "no directory";
        return false;
    }
    std::string sep = KorrUtils::separator();
    int out = openLogFile(dir + sep + "stdout.log", reason);
    if (out < 0) {
        return false;
    }
    int err = openLogFile(dir + sep + "stderr.log", reason);
    if (err < 0) {
        OutputDescriptor::close(out);
        return false;
    }
    std::fflush(stdout);
    std::fflush(stderr);
    bool moved = OutputDescriptor::redirect(out, 1) && OutputDescriptor::redirect(err, 2);
    if (!moved) {
        reason = KorrUtils::getLastErrorMessage();
    }
    OutputDescriptor::close(out);
    OutputDescriptor::close(err);
    if (moved) {
        ServicePlatform::standardStreamsMoved();
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
        dir = ServicePlatform::temporaryDirectory();
    }
    std::string reopenError;
    bool reopened = reopenBoth(dir, reopenError);
    if (reopened || !creationError.empty()) {
        if (!creationError.empty()) {
            std::fprintf(stderr, "Using TMP directory as could not create directory %s due to error: %s\n",
                         wanted.c_str(), creationError.c_str());
        }
    } else {
        dir = ServicePlatform::temporaryDirectory();
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
