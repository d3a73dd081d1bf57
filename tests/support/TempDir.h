// A fresh directory under the system temporary directory, removed with its contents.
#ifndef OSTARA_TEST_TEMPDIR_H
#define OSTARA_TEST_TEMPDIR_H

#include <string>

class TempDir
{
public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return dir; }
    std::string file(const std::string& name) const { return dir + "/" + name; }
    // Writes text to a file in this directory and returns its path.
    std::string write(const std::string& name, const std::string& text) const;
    // The content of a file in this directory, empty when there is none.
    std::string read(const std::string& name) const;

private:
    std::string dir;
};

#endif
