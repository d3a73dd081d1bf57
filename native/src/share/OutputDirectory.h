// The directory that holds an output file: generations are found, moved and deleted by name
// within it. On POSIX it is reached by the SafePath walk and held open, so a link planted on the
// way moves nothing; on Windows output files are opened with delete sharing, so an open one can
// be renamed.
#ifndef OSTARA_OUTPUTDIRECTORY_H
#define OSTARA_OUTPUTDIRECTORY_H

#include <string>
#include <vector>

class OutputDirectory
{
public:
    // The directory of `path`; isOpen() is false when the walk to it is refused.
    explicit OutputDirectory(const std::string& path);
    ~OutputDirectory();

    bool isOpen() const;
    // The last component of the path, the name the others are made from.
    const std::string& fileName() const { return name; }
    // True when `entry` is a regular file (not a link, directory or reparse point) holding at
    // least one byte.
    bool holdsOutput(const std::string& entry) const;
    // The names in the directory that begin with `prefix`: one listing instead of a look-up
    // per name that might be there.
    std::vector<std::string> entriesStartingWith(const std::string& prefix) const;
    void remove(const std::string& entry) const;
    // Never follows a link in either name. Whether an existing `to` is replaced differs between
    // the platforms, so callers clear it first.
    void rename(const std::string& from, const std::string& to) const;

private:
    OutputDirectory(const OutputDirectory&);
    OutputDirectory& operator=(const OutputDirectory&);

    std::string name;     // filled by the POSIX walk: declared before descriptor
    std::string folder;   // Windows: the path up to and with its last separator
    int descriptor;       // POSIX: the directory, held open; -1 when the walk was refused
};

#endif
