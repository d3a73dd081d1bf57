#include "OutputDirectory.h"

#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "SafePath.h"

OutputDirectory::OutputDirectory(const std::string& path)
    : descriptor(SafePath::openDirectoryOf(path, &name, nullptr))
{
}

bool OutputDirectory::isOpen() const { return descriptor >= 0; }

OutputDirectory::~OutputDirectory()
{
    if (descriptor >= 0) {
        ::close(descriptor);
    }
}

bool OutputDirectory::holdsOutput(const std::string& entry) const
{
    struct stat st;
    return ::fstatat(descriptor, entry.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
           st.st_size > 0;
}

std::vector<std::string> OutputDirectory::entriesStartingWith(const std::string& prefix) const
{
    std::vector<std::string> found;
    int listing = ::openat(descriptor, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = listing >= 0 ? ::fdopendir(listing) : nullptr;
    if (dir == nullptr) {
        if (listing >= 0) {
            ::close(listing);
        }
        return found;
    }
    while (dirent* entry = ::readdir(dir)) {
        if (std::strncmp(entry->d_name, prefix.c_str(), prefix.size()) == 0) {
            found.emplace_back(entry->d_name);
        }
    }
    ::closedir(dir);
    return found;
}

void OutputDirectory::remove(const std::string& entry) const
{
    ::unlinkat(descriptor, entry.c_str(), 0);
}

void OutputDirectory::rename(const std::string& from, const std::string& to) const
{
    ::renameat(descriptor, from.c_str(), descriptor, to.c_str());
}
