#include "FFDC.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <map>
#include <sstream>

#include "BuildLevel.h"
#include "EventLog.h"
#include "KorrException.h"
#include "KorrIOException.h"
#include "KorrProcess.h"
#include "KorrThread.h"
#include "KorrThreadSyncImpl.h"
#include "KorrUtils.h"
#include "NLS.h"
#include "RAS.h"
#include "RasDescriptor.h"
#include "RasDescriptorSlot.h"
#include "Synchronize.h"

FFDC FFDC::impl;
bool FFDC::writingFile = false;

namespace {

const RasDescriptorSlot rdSlot("FFDC", "com.quillon.velbrix.nativ.common.ZRKNVMessages");

const RasDescriptor& rd() { return rdSlot.get(); }

// Never destroyed: reports may be taken during static destruction.
KorrThreadSync& ffdcLock()
{
    static KorrThreadSync* lock = new KorrThreadSyncImpl();
    return *lock;
}

// At most REPORTS_PER_WINDOW reports per probe (class, method and probe id) in a window of
// WINDOW_SECONDS, so that a peer repeating a bad request cannot fill the disk with reports.
const long REPORTS_PER_WINDOW = 10;
const std::time_t WINDOW_SECONDS = 60;

struct ProbeWindow {
    std::time_t start = 0;
    long written = 0;
    long skipped = 0;   // not written since the last report of this probe
};

// Under the lock; never destroyed, like the lock.
std::map<std::string, ProbeWindow>& probeWindows()
{
    static std::map<std::string, ProbeWindow>* windows = new std::map<std::string, ProbeWindow>();
    return *windows;
}

// Opens a new report file, private from its first byte.
std::FILE* openFFDCFile(const std::string& path)
{
    std::string parent = KorrUtils::getParent(path);
    if (KorrUtils::mkdirs(parent, false) != 0) {
        throw KorrIOException(NLS::format(rd(), "ZRKNV0051_MKDIR_FAILED", parent));
    }
    // Owner-only from its first byte; a name planted in its place is refused, not followed.
    std::string refusal;
    std::FILE* file = KorrUtils::openFile(path, true, false, &refusal);
    if (file == nullptr) {
        throw KorrIOException(NLS::format(rd(), "ZRKNV0054_UNABLE_TO_OPEN_FILE", path,
                                          refusal.empty() ? KorrUtils::getLastErrorMessage() : refusal));
    }
    return file;
}

// Writes the whole text and closes the file; false (errno set) when any of it failed.
bool writeAndClose(std::FILE* file, const std::string& text)
{
    bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size() && std::fflush(file) == 0;
    int error = errno;
    if (std::fclose(file) != 0 && written) {
        return false;
    }
    errno = error;
    return written;
}

std::string reportText(const std::string& pid, const std::tm& utc, const std::string& className, const void* object,
                       const std::string& methodName, const std::string& probeId, const KorrException* cause,
                       int count, const char* const* values, long skipped)
{
    char buffer[64];
    std::ostringstream text;
    text << "Level:      " << BuildLevel::getText() << "\n";
    std::snprintf(buffer, sizeof buffer, "%02d/%02d/%04d %02d:%02d:%02d GMT", utc.tm_mday, utc.tm_mon + 1,
                  utc.tm_year + 1900, utc.tm_hour, utc.tm_min, utc.tm_sec);
    text << "Time:       " << buffer << "\n";
    text << "Process ID: " << pid << "\n";
    std::snprintf(buffer, sizeof buffer, "0x%016lx", static_cast<unsigned long>(KorrThread::getCurrentThreadId()));
    text << "Thread ID:  " << buffer << "\n";
    text << "Class:      " << className << "\n";
    if (object) {
        std::snprintf(buffer, sizeof buffer, "0x%016llx",
                      static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(object)));
        text << "Instance:   " << buffer << "\n";
    }
    text << "Method:     " << methodName << "\n";
    text << "Probe:      " << probeId << "\n";
    text << "Cause:      ";
    if (cause) {
        text << *cause;
    } else {
        text << "null";
    }
    text << "\n";
    for (int i = 0; i < count && values; ++i) {
        text << "Arg[" << i << "]:     " << (values[i] ? values[i] : "null") << "\n";
    }
    if (skipped > 0) {
        text << "Skipped:    " << skipped << " earlier reports of this probe (limit " << REPORTS_PER_WINDOW
             << " a minute)\n";
    }
    text << "[EOF]\n";
    return text.str();
}

} // namespace

FFDC::FFDC() : captureCount(0) {}
FFDC::FFDC(const FFDC&) : captureCount(0) {}
FFDC& FFDC::operator=(const FFDC&) { return *this; }

FFDC& FFDC::getInstance() { return impl; }

void FFDC::capture(const std::string& className, const std::string& methodName, const std::string& probeId,
                   const KorrException* cause)
{
    impl.internalCapture(className, nullptr, methodName, probeId, cause, 0, nullptr);
}

void FFDC::capture(const RasDescriptor& rd, const std::string& methodName, const std::string& probeId,
                   const KorrException* cause)
{
    impl.internalCapture(rd.getClassName(), nullptr, methodName, probeId, cause, 0, nullptr);
}

void FFDC::capture(const std::string& className, const void* object, const std::string& methodName,
                   const std::string& probeId, const KorrException* cause, int count, const char* v0,
                   const char* v1, const char* v2, const char* v3)
{
    const char* values[] = {v0, v1, v2, v3};
    impl.internalCapture(className, object, methodName, probeId, cause, count > 4 ? 4 : count, values);
}

void FFDC::capture(const RasDescriptor& rd, const void* object, const std::string& methodName,
                   const std::string& probeId, const KorrException* cause, int count, const char* v0,
                   const char* v1, const char* v2, const char* v3)
{
    capture(rd.getClassName(), object, methodName, probeId, cause, count, v0, v1, v2, v3);
}

// A report that cannot be written to its file travels whole in the ZRKNV0150 event; one taken
// while this thread writes a report file (from an event raised meanwhile) goes to standard error.
void FFDC::internalCapture(const std::string& className, const void* object, const std::string& methodName,
                           const std::string& probeId, const KorrException* cause, int count,
                           const char* const* values)
{
    try {
        Synchronize hold(&ffdcLock());
        std::time_t now = std::time(nullptr);
        ProbeWindow& window = probeWindows()[className + "\n" + methodName + "\n" + probeId];
        if (now < window.start || now - window.start >= WINDOW_SECONDS) {
            window.start = now;
            window.written = 0;
        }
        if (window.written >= REPORTS_PER_WINDOW) {
            ++window.skipped;
            return;
        }
        ++window.written;
        long skipped = window.skipped;
        window.skipped = 0;
        std::tm local = KorrUtils::localTime(now);
        std::string pid = std::to_string(KorrProcess::getCurrentProcessId());
        char id[96];
        std::snprintf(id, sizeof id, "%04d%02d%02d%02d%02d%02d.%ld.%s", local.tm_year + 1900, local.tm_mon + 1,
                      local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, captureCount, pid.c_str());
        ++captureCount;
        std::string report = reportText(pid, KorrUtils::universalTime(now), className, object, methodName, probeId,
                                        cause, count, values, skipped);
        if (writingFile) {
            std::fwrite(report.data(), 1, report.size(), stderr);
            std::fflush(stderr);
            return;
        }
        struct Flag {
            Flag() { writingFile = true; }
            ~Flag() { writingFile = false; }
        } writing;

        std::string logPath = RAS::getLogPath();
        if (!logPath.empty()) {
            const std::string sep = KorrUtils::separator();
            std::string path = logPath + sep + "ffdc" + sep + "FFDC." + id + ".log";
            std::FILE* file = nullptr;
            try {
                file = openFFDCFile(path);
            } catch (const KorrIOException& e) {
                EventLog::errorNoFormat(rd(), e.getMessage());
            }
            if (file) {
                if (writeAndClose(file, "Filename:   " + path + "\n" + report)) {
                    EventLog::errorNoFormat(rd(), NLS::format(rd(), "ZRKNV0084_FFDC_TAKEN", path));
                    return;
                }
                std::string reason = KorrUtils::getLastErrorMessage();
                EventLog::errorNoFormat(rd(), NLS::format(rd(), "ZRKNV0083_UNABLE_TO_WRITE_TO_FFDC_FILE", path, reason));
            }
        }
        EventLog::errorNoFormat(rd(), NLS::format(rd(), "ZRKNV0150_FFDC_TAKEN", report));
    } catch (...) {
        // A report must never disturb the failing code any further.
    }
}
