#include "redirectStdStreams.h"

#include <cstdio>
#include <io.h>
#include <windows.h>

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
    if (tmp.empty()) {
        tmp = KorrUtils::getenv("TEMP");
    }
    if (tmp.empty()) {
        char path[MAX_PATH + 1];
        DWORD n = ::GetTempPathA(sizeof path, path);
        if (n > 0 && n < sizeof path) {
            tmp.assign(path, n);
            if (tmp.size() > 3 && (tmp.back() == '\\' || tmp.back() == '/')) {
                tmp.pop_back();
            }
        }
    }
    return tmp;
}

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
        _close(out);
        return false;
    }
    std::fflush(stdout);
    std::fflush(stderr);
    bool moved = _dup2(out, 1) == 0 && _dup2(err, 2) == 0;
    if (!moved) {
        reason = KorrUtils::getLastErrorMessage();
    }
    _close(out);
    _close(err);
    if (moved) {
        // Whatever asks the process for its standard handles gets the files too.
        ::SetStdHandle(STD_OUTPUT_HANDLE, reinterpret_cast<HANDLE>(_get_osfhandle(1)));
        ::SetStdHandle(STD_ERROR_HANDLE, reinterpret_cast<HANDLE>(_get_osfhandle(2)));
        // A log file is read as it grows: write each line out at once (the C runtime has no
        // line buffering, so no buffering at all).
        std::setvbuf(stdout, nullptr, _IONBF, 0);
        std::setvbuf(stderr, nullptr, _IONBF, 0);
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
