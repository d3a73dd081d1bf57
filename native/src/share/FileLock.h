// An exclusive (or shared-read) lock on a lock file, held from construction to destruction;
// optionally records the holder's process id in a companion ".pid" file.
#ifndef OSTARA_FILELOCK_H
#define OSTARA_FILELOCK_H

#include <iosfwd>
#include <string>

class FileLock
{
public:
    // A new lock the caller owns; deleting it releases the lock. Throws KorrIOException
    // (ZRKNV0057) when the lock is held elsewhere or the file cannot be opened.
    static FileLock* newInstance(const std::string& fileName, bool readLock, bool writePid);
    virtual ~FileLock() {}

    // Name of the ".pid" file written for this lock, empty when none was.
    const std::string& getPidFileName() const { return pidFileName; }
    // Deletes the lock file while the lock is still held, so that no other holder can have
    // taken it in between; where the platform can tell, only if the name still leads to the
    // file this lock holds. False (with the reason in the last error) when nothing was deleted.
    virtual bool removeLockFile() = 0;

protected:
    FileLock() {}
    std::string pidFileName;

private:
    FileLock(const FileLock&);
    FileLock& operator=(const FileLock&);
};

std::ostream& operator<<(std::ostream& out, const FileLock& lock);

#endif
