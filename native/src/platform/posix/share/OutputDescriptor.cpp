#include "OutputDescriptor.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include "KorrUtils.h"

int OutputDescriptor::openForAppend(const std::string& path, std::string* refusal)
{
    return KorrUtils::openSafely(path, O_WRONLY | O_APPEND | O_CREAT | O_NOCTTY,
                                 S_IRUSR | S_IWUSR | S_IRGRP | S_IROTH, nullptr, refusal);
}

long long OutputDescriptor::sizeOf(int descriptor)
{
    struct stat st;
    return ::fstat(descriptor, &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

std::size_t OutputDescriptor::writeAll(int descriptor, const char* data, std::size_t length)
{
    std::size_t done = 0;
    while (done < length) {
        ssize_t written = ::write(descriptor, data + done, length - done);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno == EAGAIN) {
                int reason = errno;
                pollfd room = {descriptor, POLLOUT, 0};
                if (::poll(&room, 1, 1000) > 0) {
                    continue;
                }
                errno = reason;
            }
            return done;
        }
        done += static_cast<std::size_t>(written);
    }
    return done;
}

bool OutputDescriptor::redirect(int descriptor, int target)
{
    return ::dup2(descriptor, target) >= 0;
}

// The service sets the group and mode of the first file; copying them from the open file
// costs less than a name lookup at every rotation.
void OutputDescriptor::copyAccess(int from, int to)
{
    struct stat old;
    if (::fstat(from, &old) == 0) {
        int changed = ::fchown(to, static_cast<uid_t>(-1), old.st_gid);
        (void)changed;
        ::fchmod(to, old.st_mode & 0777);
    }
}

void OutputDescriptor::close(int descriptor)
{
    ::close(descriptor);
}
