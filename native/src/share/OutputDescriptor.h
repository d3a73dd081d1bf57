// The descriptor operations an OutputLogFile needs: open an output file safely, write it
// whole, size it, and move another descriptor onto it. Each platform folder implements them
// (POSIX descriptors; C runtime descriptors on Windows).
#ifndef OSTARA_OUTPUTDESCRIPTOR_H
#define OSTARA_OUTPUTDESCRIPTOR_H

#include <cstddef>
#include <string>

class OutputDescriptor
{
public:
    // Opens `path` to append, the one place output files are opened: through
    // KorrUtils::openSafely, created 0644, on POSIX (a link, a FIFO, a file with other hard
    // links or of another user is refused); through KorrUtils::openFile, created private with
    // Everyone reading, on Windows (a link or a directory is refused). -1 with errno, and
    // refusal when not null says why.
    static int openForAppend(const std::string& path, std::string* refusal);
    // Bytes in the file, -1 when that cannot be told.
    static long long sizeOf(int descriptor);
    // Writes every byte, unbuffered, and returns how many were written: fewer than `size`
    // when a write failed, with the reason in errno (a POSIX descriptor left non-blocking
    // gets a bounded wait for room first).
    static std::size_t writeAll(int descriptor, const char* data, std::size_t size);
    // Makes `target` refer to the file `descriptor` refers to; false when it could not.
    static bool redirect(int descriptor, int target);
    // Gives `to` the group and mode of `from` where files have them (best effort: as created
    // the file is already safe). Windows creates every output file with the same access list.
    static void copyAccess(int from, int to);
    static void close(int descriptor);

private:
    OutputDescriptor();
};

#endif
