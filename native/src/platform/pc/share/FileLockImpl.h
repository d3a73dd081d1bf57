// The Windows file lock: the lock file is held open with no sharing (shared reading for a
// read lock), so every other open for writing fails, also from this process.
#ifndef OSTARA_FILELOCKIMPL_H
#define OSTARA_FILELOCKIMPL_H

#include <windows.h>
// The system header's macro would replace KorrThread::STILL_ACTIVE and KorrProcess::STILL_ACTIVE.
#undef STILL_ACTIVE

#include <iosfwd>
#include <string>

#include "FileLock.h"

class FileLockImpl : public FileLock
{
public:
    FileLockImpl(const std::string& fileName, bool readLock, bool writePid);
    ~FileLockImpl() override;
    // Deletes the file by name (it was opened sharing delete access); a link at the name
    // needs a privilege no other user has here.
    bool removeLockFile() override;
    HANDLE getHandle() const { return handle; }

private:
    void writePidFile(const std::string& fileName, DWORD access, DWORD sharing);
    HANDLE handle;
    std::string lockFileName;
};

std::ostream& operator<<(std::ostream& out, const FileLockImpl& lock);

#endif
