#include "OutputDescriptor.h"

#include <io.h>

#include <cstdio>

#include "KorrUtils.h"

int OutputDescriptor::openForAppend(const std::string& path, std::string* refusal)
{
    std::FILE* file = KorrUtils::openFile(path, false, true, refusal);
    if (!file) {
        return -1;
    }
    // A descriptor of its own, so that the stream can go: writes are unbuffered _write calls.
    int fd = _dup(_fileno(file));
    std::fclose(file);
    return fd;
}

long long OutputDescriptor::sizeOf(int descriptor)
{
    long long length = _filelengthi64(descriptor);
    return length < 0 ? -1 : length;
}

std::size_t OutputDescriptor::writeAll(int descriptor, const char* data, std::size_t length)
{
    std::size_t done = 0;
    while (done < length) {
        std::size_t left = length - done;
        unsigned int part = left > 0x40000000u ? 0x40000000u : static_cast<unsigned int>(left);
        int written = _write(descriptor, data + done, part);
        if (written <= 0) {
            return done;
        }
        done += static_cast<std::size_t>(written);
    }
    return done;
}

bool OutputDescriptor::redirect(int descriptor, int target)
{
    return _dup2(descriptor, target) == 0;
}

void OutputDescriptor::copyAccess(int, int)
{
}

void OutputDescriptor::close(int descriptor)
{
    _close(descriptor);
}
