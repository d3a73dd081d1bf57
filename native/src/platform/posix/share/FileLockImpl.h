// FileLock on flock(2): the open descriptor holds LOCK_EX (LOCK_SH for a read lock), so a
// second lock on the file fails, also from the same process, and a dead holder's lock is free.
// Lock files are 0600 and ".pid" files 0644, opened through KorrUtils::openSafely, so no other
// user can hold the lock, write the id or plant something that hangs or redirects us; they are
// removed only through a safely walked directory and only while the name is still our file.
#ifndef OSTARA_FILELOCKIMPL_H
#define OSTARA_FILELOCKIMPL_H

#include <iosfwd>
#include <string>

#include "FileLock.h"

class FileLockImpl : public FileLock
{
public:
    FileLockImpl(const std::string& fileName, bool readLock, bool writePid);
    // Removes the ".pid" file while the lock is still held, then releases the lock; the lock
    // file itself stays. Never throws.
    ~FileLockImpl() override;

    bool removeLockFile() override;
    int getHandle() const { return handle; }

private:
    void writePidFile(const std::string& fileName);

    int handle;
    std::string lockFileName;
    unsigned long long pidDevice;   // identity of the ".pid" file written, to remove only it
    unsigned long long pidInode;
};

std::ostream& operator<<(std::ostream& out, const FileLockImpl& lock);

#endif
