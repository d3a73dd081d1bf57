// Where one output stream of a child is copied: each chunk goes out in one write, with no
// buffering in between. With a path it is a file rotated by size into numbered generations
// (path.1 the newest), the oldest beyond the count deleted; without one it writes a descriptor.
#ifndef OSTARA_OUTPUTLOGFILE_H
#define OSTARA_OUTPUTLOGFILE_H

#include <cstddef>
#include <mutex>
#include <string>

class OutputLogFile
{
public:
    // Writes `descriptor` (not owned) as it is, never rotating.
    explicit OutputLogFile(int descriptor);
    // Appends to `path`; once it holds `limit` bytes it is rotated at the next line end (or,
    // for a line longer than `limit`, once that line has filled another `limit` bytes).
    // Generations past `generations` are deleted at once. When `target` >= 0 that descriptor
    // is kept on the current file, so this process's own writes to it follow each rotation.
    // Throws a KorrException with the reason when the file cannot be opened.
    OutputLogFile(const std::string& path, long long limit, int generations, int target);
    ~OutputLogFile();

    // Writes every byte, in order, rotating where the limit says. A write that fails (a full
    // disk) drops the rest of that chunk and the next chunk is tried again; the event log says
    // when output starts being lost, and how many bytes were lost once writing works again.
    void write(const char* data, std::size_t size);

    // Makes a non-empty `path` generation 1, moving the older ones up and deleting what would
    // go past `generations`. An empty or missing file, or one that is not a regular file, is
    // left as it is.
    static void shiftGenerations(const std::string& path, int generations);
    // Opens `path` to append (OutputDescriptor::openForAppend): the one place output files are
    // opened. -1 with refusal, when not null, saying why.
    static int openForAppend(const std::string& path, std::string* refusal = nullptr);

private:
    OutputLogFile(const OutputLogFile&);
    OutputLogFile& operator=(const OutputLogFile&);

    void rotate();
    void dropped(std::size_t bytes);
    std::string where() const;

    std::mutex lock;           // writes and rotations of one file are serialised
    std::string path;          // empty: a plain descriptor
    long long limit;
    int generations;
    int target;
    int descriptor;
    bool owned;
    long long size;            // bytes in the current file as far as this object knows
    bool atLineStart;          // the last byte written ended a line (or nothing was written)
    long long lost;            // bytes dropped since the last write that succeeded
};

#endif
