// FileLock on flock(2): the open descriptor holds LOCK_EX (LOCK_SH for a read lock), so a
// second lock on the file fails, also from the same process, and a dead holder's lock is free.
// Lock and ".pid" files are 0644 and opened through KorrUtils::openSafely, so no other user
// can write the id in them or plant something in their place that hangs or redirects us.
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

    int getHandle() const { return handle; }

private:
    void writePidFile(const std::string& fileName);

    int handle;
};

std::ostream& operator<<(std::ostream& out, const FileLockImpl& lock);

#endif
