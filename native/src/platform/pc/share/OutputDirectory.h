// The directory that holds an output file: generations are found, moved and deleted by name
// within it. Output files are opened with delete sharing, so an open one can be renamed.
#ifndef OSTARA_OUTPUTDIRECTORY_H
#define OSTARA_OUTPUTDIRECTORY_H

#include <string>
#include <vector>

class OutputDirectory
{
public:
    explicit OutputDirectory(const std::string& path);

    bool isOpen() const { return true; }
    // The last component of the path, the name the others are made from.
    const std::string& fileName() const { return name; }
    // True when `entry` is a file (not a directory or reparse point) holding at least one byte.
    bool holdsOutput(const std::string& entry) const;
    // The names in the folder that begin with `prefix`: one listing instead of a look-up per
    // name that might be there.
    std::vector<std::string> entriesStartingWith(const std::string& prefix) const;
    void remove(const std::string& entry) const;
    // Fails rather than replace an existing `to`.
    void rename(const std::string& from, const std::string& to) const;

private:
    std::string folder;   // the path up to and with its last separator
    std::string name;
};

#endif
