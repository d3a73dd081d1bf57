#include "FileLockImpl.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ostream>

#include "FFDC.h"
#include "KorrIOException.h"
#include "KorrUtils.h"
#include "NLS.h"
#include "RasDescriptor.h"
#include "RasDescriptorSlot.h"
#include "SafePath.h"
#include "Trace.h"

namespace {

const RasDescriptorSlot rdSlot("FileLockImpl", "com.quillon.velbrix.nativ.common.ZRKNVMessages");

const RasDescriptor& rd() { return rdSlot.get(); }

// A lock file is the owner's alone (0600): flock() needs only a descriptor opened for reading,
// so any other user who could read it could hold the lock and keep the controller from
// starting. The ".pid" file may be read by everyone (0644).
const int LOCK_FILE_MODE = S_IRUSR | S_IWUSR;
const int PID_FILE_MODE = S_IRUSR | S_IWUSR | S_IRGRP | S_IROTH;

// Opens path, creating it with mode when missing; an existing name that is not a regular file
// of this user or root (a FIFO planted to hang us, a link, another user's file) is refused,
// with reason set. Returns -1 with errno set on failure.
int openAlways(const std::string& path, int flags, int mode, std::string& reason)
{
    int fd = KorrUtils::openSafely(path, flags | O_CREAT, mode, nullptr, &reason);
    if (fd < 0 && reason.empty()) {
        reason = KorrUtils::getLastErrorMessage();
    }
    return fd;
}

// Unlinks path within its safely walked directory, only while the name is the file with
// this device and inode: a directory on the way replaced by a link to another place, or a
// different file put at the name, is left alone (errno ESTALE).
bool removeIfSame(const std::string& path, dev_t device, ino_t inode)
{
    std::string last;
    int dir = SafePath::openDirectoryOf(path, &last, nullptr);
    if (dir < 0) {
        return false;
    }
    struct stat st;
    bool same = ::fstatat(dir, last.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && st.st_dev == device &&
                st.st_ino == inode;
    bool removed = same && ::unlinkat(dir, last.c_str(), 0) == 0;
    int error = same ? errno : ESTALE;
    ::close(dir);
    errno = error;
    return removed;
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
    : handle(-1), lockFileName(fileName), pidDevice(0), pidInode(0)
{
    if (rd().isFlowOn()) {
        Trace::traceMethodEntry(rd(), this, "FileLockImpl", 3, fileName.c_str(), readLock ? "true" : "false",
                                writePid ? "true" : "false");
    }
    std::string reason;
    int fd = openAlways(fileName, readLock ? O_RDONLY : O_WRONLY, LOCK_FILE_MODE, reason);
    if (fd >= 0 && ::flock(fd, (readLock ? LOCK_SH : LOCK_EX) | LOCK_NB) != 0) {
        reason = KorrUtils::getLastErrorMessage();
        ::close(fd);
        fd = -1;
    }
    if (fd < 0) {
        KorrIOException e(NLS::format(rd(), "ZRKNV0057_UNABLE_TO_LOCK_FILE", fileName, reason));
        if (rd().isFlowOn()) {
            Trace::throwing(rd(), "FileLockImpl", &e);
        }
        throw e;
    }
    handle = fd;
    // A constructor that throws runs no destructor: release the lock on the way out.
    try {
        if (writePid) {
            writePidFile(fileName);
        }
    } catch (...) {
        if (!pidFileName.empty()) {
            removeIfSame(pidFileName, static_cast<dev_t>(pidDevice), static_cast<ino_t>(pidInode));
        }
        ::close(handle);
        throw;
    }
    if (rd().isFlowOn()) {
        std::string none;
        Trace::traceMethodExit(rd(), this, "FileLockImpl", &none, "void");
    }
}

void FileLockImpl::writePidFile(const std::string& fileName)
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
    std::string reason;
    int fd = openAlways(name, O_WRONLY, PID_FILE_MODE, reason);
    bool written = false;
    if (fd >= 0) {
        struct stat st;
        if (::fstat(fd, &st) == 0) {
            pidFileName = name; // from here on a failure removes the file again
            pidDevice = st.st_dev;
            pidInode = st.st_ino;
            char text[32];
            int length = std::snprintf(text, sizeof text, "%lu", static_cast<unsigned long>(::getpid()));
            // Emptied first, so no longer content left by an earlier holder survives.
            written = ::ftruncate(fd, 0) == 0 && ::write(fd, text, static_cast<size_t>(length)) == length;
        }
        int error = errno;
        ::close(fd);
        errno = error;
    }
    if (!written) {
        if (fd >= 0) {
            reason = KorrUtils::getLastErrorMessage();
        }
        KorrIOException e(NLS::format(rd(), "ZRKNV0121_UNABLE_TO_OPEN_FILE", name, reason));
        if (rd().isFlowOn()) {
            Trace::throwing(rd(), "FileLockImpl", &e);
        }
        throw e;
    }
}

bool FileLockImpl::removeLockFile()
{
    struct stat st;
    if (handle < 0 || ::fstat(handle, &st) != 0) {
        return false;
    }
    return removeIfSame(lockFileName, st.st_dev, st.st_ino);
}

FileLockImpl::~FileLockImpl()
{
    // The ".pid" file goes first, while the lock is still held: removed after the release, it
    // could be the next holder's file.
    if (!pidFileName.empty() &&
        !removeIfSame(pidFileName, static_cast<dev_t>(pidDevice), static_cast<ino_t>(pidInode)) &&
        rd().isOn(TraceLevel::MODERATE)) {
        std::string text = "Failed to close PID file, reason: " + KorrUtils::getLastErrorMessage();
        Trace::traceMethodData(rd(), TraceLevel::MODERATE, this, "~FileLockImpl", 1, text.c_str());
    }
    if (handle >= 0) {
        ::close(handle);
    }
}

std::ostream& operator<<(std::ostream& out, const FileLockImpl& lock)
{
    return out << "FileLock for handle: " << lock.getHandle();
}
