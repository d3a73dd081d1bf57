#include "FileLockImpl.h"

#include <cstdio>
#include <ostream>

#include "FFDC.h"
#include "KorrIOException.h"
#include "KorrUtils.h"
#include "NLS.h"
#include "RasDescriptor.h"
#include "Trace.h"

namespace {

const RasDescriptor& rd()
{
    static const RasDescriptor* d = new RasDescriptor("FileLockImpl", "com.quillon.velbrix.nativ.common.ZRKNVMessages");
    return *d;
}

std::string lastError() { return KorrUtils::getLastErrorMessage(static_cast<int>(GetLastError())); }

// Opens path (open-always) and tells whether this call created it. A name that is a
// reparse point (a link) is refused: it could lead the lock, and the ".pid" file that is
// emptied, to any file of the machine.
HANDLE openAlways(const std::string& path, DWORD access, DWORD sharing, bool& created)
{
    HANDLE h = CreateFileA(path.c_str(), access, sharing, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return h;
    }
    created = GetLastError() != ERROR_ALREADY_EXISTS;
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(h, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        CloseHandle(h);
        SetLastError(ERROR_CANT_ACCESS_FILE);
        return INVALID_HANDLE_VALUE;
    }
    return h;
}

bool endsWithLck(const std::string& name)
{
    return name.size() >= 4 && name.compare(name.size() - 4, 4, ".lck") == 0;
}

} // namespace

FileLock* FileLock::newInstance(const std::string& fileName, bool readLock, bool writePid)
{
    return new FileLockImpl(fileName, readLock, writePid);
}

FileLockImpl::FileLockImpl(const std::string& fileName, bool readLock, bool writePid)
    : handle(INVALID_HANDLE_VALUE), lockFileName(fileName)
{
    if (rd().isFlowOn()) {
        Trace::traceMethodEntry(rd(), this, "FileLockImpl", 3, fileName.c_str(), readLock ? "true" : "false",
                                writePid ? "true" : "false");
    }
    const DWORD access = readLock ? GENERIC_READ : GENERIC_WRITE;
    // Deleting stays shared: owners remove the lock file while they still hold it, so that no
    // other process can take a name that is about to go. Until the handle closes, nobody can
    // open or re-create the name.
    const DWORD sharing = (readLock ? FILE_SHARE_READ : 0) | FILE_SHARE_DELETE;
    bool created = false;
    handle = openAlways(fileName, access, sharing, created);
    if (handle == INVALID_HANDLE_VALUE) {
        KorrIOException e(NLS::format(rd(), "ZRKNV0057_UNABLE_TO_LOCK_FILE", fileName, lastError()));
        if (rd().isFlowOn()) {
            Trace::throwing(rd(), "FileLockImpl", &e);
        }
        throw e;
    }
    // A constructor that throws runs no destructor: release the lock on the way out.
    try {
        if (created) {
            KorrUtils::mkGroupVexilWrite(fileName, true);
        }
        if (writePid) {
            writePidFile(fileName, access, sharing);
        }
    } catch (...) {
        if (!pidFileName.empty()) {
            DeleteFileA(pidFileName.c_str());
        }
        CloseHandle(handle);
        throw;
    }
    if (rd().isFlowOn()) {
        std::string none;
        Trace::traceMethodExit(rd(), this, "FileLockImpl", &none, "void");
    }
}

void FileLockImpl::writePidFile(const std::string& fileName, DWORD access, DWORD sharing)
{
    if (!endsWithLck(fileName)) {
        const char* text = "File lock name expected to end .lck but doesn't";
        if (rd().isOn(TraceLevel::MODERATE)) {
            Trace::traceMethodData(rd(), TraceLevel::MODERATE, this, "FileLockImpl", 1, text);
        }
        FFDC::capture(rd(), this, "FileLockImpl", FFDC::PROBE_001(), nullptr, 1, text);
        return;
    }
    std::string name = fileName.substr(0, fileName.size() - 4) + ".pid";
    // Always opened for writing, also for a read lock: the id has to be written.
    bool created = false;
    HANDLE h = openAlways(name, access | GENERIC_WRITE, sharing, created);
    bool written = false;
    if (h != INVALID_HANDLE_VALUE) {
        pidFileName = name; // from here on a failure removes the file again
        char text[32];
        int length = std::snprintf(text, sizeof text, "%lu", static_cast<unsigned long>(GetCurrentProcessId()));
        DWORD done = 0;
        // Emptied first, so no longer content left by an earlier holder survives.
        written = SetEndOfFile(h) && WriteFile(h, text, static_cast<DWORD>(length), &done, nullptr) &&
                  done == static_cast<DWORD>(length);
        DWORD error = GetLastError();
        CloseHandle(h);
        SetLastError(error);
    }
    if (!written) {
        KorrIOException e(NLS::format(rd(), "ZRKNV0121_UNABLE_TO_OPEN_FILE", name, lastError()));
        if (rd().isFlowOn()) {
            Trace::throwing(rd(), "FileLockImpl", &e);
        }
        throw e;
    }
    if (created) {
        KorrUtils::mkGroupVexilWrite(name, true);
    }
}

bool FileLockImpl::removeLockFile()
{
    return handle != INVALID_HANDLE_VALUE && DeleteFileA(lockFileName.c_str()) != 0;
}

FileLockImpl::~FileLockImpl()
{
    // The ".pid" file goes first, while the lock is still held: removed after the release, it
    // could be the next holder's file.
    if (!pidFileName.empty() && !DeleteFileA(pidFileName.c_str()) && rd().isOn(TraceLevel::MODERATE)) {
        std::string text = "Failed to close PID file, reason: " + lastError();
        Trace::traceMethodData(rd(), TraceLevel::MODERATE, this, "~FileLockImpl", 1, text.c_str());
    }
    if (handle != INVALID_HANDLE_VALUE) {
        CloseHandle(handle);
    }
}

std::ostream& operator<<(std::ostream& out, const FileLockImpl& lock)
{
    return out << "FileLock for handle: " << lock.getHandle();
}
