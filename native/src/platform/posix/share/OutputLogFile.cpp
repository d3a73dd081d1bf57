#include "OutputLogFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include "KorrException.h"
#include "KorrUtils.h"
#include "SafePath.h"

namespace {

// The most generations the properties allow; numbers past it are never written.
const int MAX_GENERATIONS = 100;

std::string generation(const std::string& path, int number) { return path + "." + std::to_string(number); }

} // namespace

OutputLogFile::OutputLogFile(int fd)
    : limit(0), generations(0), target(-1), descriptor(fd), owned(false), size(0), atLineStart(true)
{
}

OutputLogFile::OutputLogFile(const std::string& p, long long l, int g, int t)
    : path(p), limit(l < 1 ? 1 : l), generations(g < 1 ? 1 : g), target(t), descriptor(-1), owned(true), size(0),
      atLineStart(true)
{
    descriptor = openForAppend(path);
    if (descriptor < 0) {
        throw KorrException(KorrUtils::getLastErrorMessage());
    }
    struct stat st;
    if (::fstat(descriptor, &st) == 0) {
        size = st.st_size;
    }
    if (target >= 0 && descriptor != target) {
        ::dup2(descriptor, target);
    }
    std::string last;
    int dir = SafePath::openDirectoryOf(path, &last, nullptr);
    if (dir >= 0) {
        for (int i = generations + 1; i <= MAX_GENERATIONS + 1; ++i) {
            ::unlinkat(dir, generation(last, i).c_str(), 0);
        }
        ::close(dir);
    }
}

OutputLogFile::~OutputLogFile()
{
    if (owned && descriptor >= 0) {
        ::close(descriptor);
    }
}

int OutputLogFile::openForAppend(const std::string& name, std::string* refusal)
{
    return KorrUtils::openSafely(name, O_WRONLY | O_APPEND | O_CREAT | O_NOCTTY,
                                 S_IRUSR | S_IWUSR | S_IRGRP | S_IROTH, nullptr, refusal);
}

void OutputLogFile::shiftGenerations(const std::string& name, int count)
{
    // Every name is taken relative to the directory walked as files are opened, so a link
    // planted on the way (a "logs" that leads into another user's directory) moves nothing there.
    std::string last;
    int dir = SafePath::openDirectoryOf(name, &last, nullptr);
    if (dir < 0) {
        return;
    }
    struct stat st;
    // Only a regular file moves: anything else at the name is refused when it is opened.
    if (::fstatat(dir, last.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
        // The oldest goes first, so no rename replaces a file (on ext4 that forces the replacing
        // file's data out to disk at once); renameat() never follows a link in the last component.
        int kept = count < 1 ? 1 : count;
        ::unlinkat(dir, generation(last, kept).c_str(), 0);
        for (int i = kept - 1; i >= 1; --i) {
            ::renameat(dir, generation(last, i).c_str(), dir, generation(last, i + 1).c_str());
        }
        ::renameat(dir, last.c_str(), dir, generation(last, 1).c_str());
    }
    ::close(dir);
}

bool OutputLogFile::writeAll(const char* data, std::size_t length)
{
    while (length > 0) {
        ssize_t written = ::write(descriptor, data, length);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno == EAGAIN) {
                // A descriptor someone made non-blocking: wait a bounded time for room.
                pollfd room = {descriptor, POLLOUT, 0};
                if (::poll(&room, 1, 1000) > 0) {
                    continue;
                }
            }
            return false;
        }
        data += written;
        length -= static_cast<std::size_t>(written);
    }
    return true;
}

void OutputLogFile::write(const char* data, std::size_t n)
{
    std::lock_guard<std::mutex> hold(lock);
    while (n > 0) {
        std::size_t cut = n;
        bool turn = false;
        if (!path.empty()) {
            long long after = size + static_cast<long long>(n);
            if (after > limit) {
                // An outside truncate leaves our count high: appends land at the real end.
                struct stat st;
                if (::fstat(descriptor, &st) == 0 && st.st_size < size) {
                    size = st.st_size;
                }
            }
            if (size >= limit && atLineStart) {
                rotate();
            }
            if (size + static_cast<long long>(n) > limit) {
                // The file ends at the first line end past the limit; a line that alone is
                // longer than the limit is split once it has added another limit's worth.
                std::size_t from = size >= limit ? 0 : static_cast<std::size_t>(limit - size - 1);
                long long room = 2 * limit - size;
                std::size_t hard = room <= 0 ? 0 : (room < static_cast<long long>(n) ? static_cast<std::size_t>(room) : n);
                if (hard == 0) {
                    rotate();
                    continue;
                }
                const void* end = from < hard ? std::memchr(data + from, '\n', hard - from) : nullptr;
                if (end) {
                    cut = static_cast<std::size_t>(static_cast<const char*>(end) - data) + 1;
                    turn = true;
                } else if (hard < n) {
                    cut = hard;
                    turn = true;
                }
            }
        }
        if (!writeAll(data, cut)) {
            return;
        }
        size += static_cast<long long>(cut);
        atLineStart = data[cut - 1] == '\n';
        data += cut;
        n -= cut;
        if (turn) {
            rotate();
        }
    }
}

// Called with the lock held. The old descriptor stays valid through the renames, so nothing
// written before the switch is lost; a file that cannot be opened leaves the old one in use.
void OutputLogFile::rotate()
{
    shiftGenerations(path, generations);
    int fresh = openForAppend(path);
    if (fresh < 0) {
        size = 0;   // tried again after another limit's worth, not at every chunk
        return;
    }
    // The new file gets the group and mode the service gave the old one (a name lookup at
    // every rotation would cost more than the copying).
    struct stat old;
    if (::fstat(descriptor, &old) == 0) {
        int changed = ::fchown(fresh, static_cast<uid_t>(-1), old.st_gid);
        (void)changed;   // best effort: owner-only, as created, is safe
        ::fchmod(fresh, old.st_mode & 0777);
    }
    if (target >= 0) {
        ::dup2(fresh, target);
    }
    ::close(descriptor);
    descriptor = fresh;
    size = 0;
    atLineStart = true;
}
