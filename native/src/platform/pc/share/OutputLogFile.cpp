#include "OutputLogFile.h"

#include <windows.h>

#include <io.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "KorrException.h"
#include "KorrUtils.h"

namespace {

// The most generations the properties allow; numbers past it are never written.
const int MAX_GENERATIONS = 100;

std::string generation(const std::string& path, int number) { return path + "." + std::to_string(number); }

long long fileSize(int descriptor)
{
    long long length = _filelengthi64(descriptor);
    return length < 0 ? 0 : length;
}

} // namespace

OutputLogFile::OutputLogFile(int fd)
    : limit(0), generations(0), target(-1), descriptor(fd), owned(false), size(0), atLineStart(true)
{
}

OutputLogFile::OutputLogFile(const std::string& p, long long l, int g, int t)
    : path(p), limit(l < 1 ? 1 : l), generations(g < 1 ? 1 : g), target(t), descriptor(-1), owned(true), size(0),
      atLineStart(true)
{
    std::string refusal;
    descriptor = openForAppend(path, &refusal);
    if (descriptor < 0) {
        throw KorrException(refusal.empty() ? KorrUtils::getLastErrorMessage() : refusal);
    }
    size = fileSize(descriptor);
    if (target >= 0 && descriptor != target) {
        _dup2(descriptor, target);
    }
    for (int i = generations + 1; i <= MAX_GENERATIONS + 1; ++i) {
        DeleteFileA(generation(path, i).c_str());
    }
}

OutputLogFile::~OutputLogFile()
{
    if (owned && descriptor >= 0) {
        _close(descriptor);
    }
}

int OutputLogFile::openForAppend(const std::string& name, std::string* refusal)
{
    std::FILE* file = KorrUtils::openFile(name, false, true, refusal);
    if (!file) {
        return -1;
    }
    // A descriptor of its own, so that the stream can go: writes are unbuffered _write calls.
    int fd = _dup(_fileno(file));
    std::fclose(file);
    return fd;
}

void OutputLogFile::shiftGenerations(const std::string& name, int count)
{
    // Only a regular, non-empty file moves: anything else at the name is refused when opened.
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(name.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ||
        (data.nFileSizeHigh == 0 && data.nFileSizeLow == 0)) {
        return;
    }
    // The oldest goes first, so no rename needs to replace a file.
    int kept = count < 1 ? 1 : count;
    DeleteFileA(generation(name, kept).c_str());
    for (int i = kept - 1; i >= 1; --i) {
        MoveFileA(generation(name, i).c_str(), generation(name, i + 1).c_str());
    }
    MoveFileA(name.c_str(), generation(name, 1).c_str());
}

bool OutputLogFile::writeAll(const char* data, std::size_t length)
{
    while (length > 0) {
        unsigned int part = length > 0x40000000u ? 0x40000000u : static_cast<unsigned int>(length);
        int written = _write(descriptor, data, part);
        if (written <= 0) {
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
                long long real = fileSize(descriptor);
                if (real < size) {
                    size = real;
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

// Called with the lock held. Output files are opened with delete sharing, so the current one
// is renamed while open and nothing written before the switch is lost; a file that cannot be
// opened again leaves the writes going to the renamed one.
void OutputLogFile::rotate()
{
    shiftGenerations(path, generations);
    int fresh = openForAppend(path);
    if (fresh < 0) {
        size = 0;   // tried again after another limit's worth, not at every chunk
        return;
    }
    if (target >= 0) {
        _dup2(fresh, target);
    }
    _close(descriptor);
    descriptor = fresh;
    size = 0;
    atLineStart = true;
}
