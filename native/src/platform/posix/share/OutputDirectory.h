// The directory that holds an output file, reached by the SafePath walk: generations are
// found, moved and deleted by name within it, so a link planted on the way moves nothing.
#ifndef OSTARA_OUTPUTDIRECTORY_H
#define OSTARA_OUTPUTDIRECTORY_H

#include <string>
#include <vector>

class OutputDirectory
{
public:
    // The directory of `path`; isOpen() is false when the walk is refused.
    explicit OutputDirectory(const std::string& path);
    ~OutputDirectory();

    bool isOpen() const { return descriptor >= 0; }
    // The last component of the path, the name the others are made from.
    const std::string& fileName() const { return name; }
    // True when `entry` is a regular file (not a link) holding at least one byte.
    bool holdsOutput(const std::string& entry) const;
    // The names in the directory that begin with `prefix`: one listing instead of a look-up
    // per name that might be there.
    std::vector<std::string> entriesStartingWith(const std::string& prefix) const;
    void remove(const std::string& entry) const;
    // Never follows a link in either name; replaces an existing `to`, so callers clear it first.
    void rename(const std::string& from, const std::string& to) const;

private:
    OutputDirectory(const OutputDirectory&);
    OutputDirectory& operator=(const OutputDirectory&);

    std::string name;   // filled by the walk: declared before descriptor
    int descriptor;
};

#endif
