// Opens files for a process that may run as root among hostile users. The path is walked
// one component at a time with openat() from "/": a symbolic link is followed only where it
// sits in a directory that no other user can write (owned by root or this user, no group or
// other write bit), and the last component never. Walking directory descriptors, rather than
// checking each component's owner and mode by name and then opening the name, leaves no gap
// between the check and the open in which a component could be swapped.
#ifndef OSTARA_SAFEPATH_H
#define OSTARA_SAFEPATH_H

#include <sys/types.h>

#include <string>

class SafePath
{
public:
    // As open(2) with flags and, with O_CREAT, a new file made with exactly mode (whatever the
    // umask). The open never blocks (a planted FIFO cannot hang it) and O_TRUNC empties the file
    // only after it passed the checks. An existing name must be a regular file with one link,
    // owned by this process's user or root; one that grants more than mode is narrowed to mode
    // (when that is refused, it is used only if neither group nor others may write it).
    // Returns a close-on-exec descriptor, or -1 with errno set and refusal (when not null) set
    // to the catalogue message ZRKNV0189 naming the file and the reason.
    static int open(const std::string& path, int flags, mode_t mode, bool* created, std::string* refusal);
    // The directory that holds path's last component, walked by the same rules, as an O_PATH
    // descriptor for the *at() calls (rename, unlink, stat by name within it); last gets the
    // component's name. -1 with errno (and refusal, when not null) set when the walk is refused.
    static int openDirectoryOf(const std::string& path, std::string* last, std::string* refusal);
    // True when no user but root and this process's user can create, remove or rename
    // entries in the directory of this status.
    static bool trustedDirectory(uid_t owner, mode_t mode);

private:
    SafePath();
};

#endif
