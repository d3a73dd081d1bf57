#include "OutputDirectory.h"

#include <windows.h>

OutputDirectory::OutputDirectory(const std::string& path) : descriptor(-1)
{
    std::string::size_type cut = path.find_last_of("\\/");
    folder = cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
    name = cut == std::string::npos ? path : path.substr(cut + 1);
}

OutputDirectory::~OutputDirectory() {}

bool OutputDirectory::isOpen() const { return true; }

bool OutputDirectory::holdsOutput(const std::string& entry) const
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    return GetFileAttributesExA((folder + entry).c_str(), GetFileExInfoStandard, &data) &&
           !(data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
           (data.nFileSizeHigh != 0 || data.nFileSizeLow != 0);
}

std::vector<std::string> OutputDirectory::entriesStartingWith(const std::string& prefix) const
{
    std::vector<std::string> found;
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA((folder + prefix + "*").c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) {
        return found;
    }
    do {
        // The pattern also matches short (8.3) names: keep only real names with the prefix.
        if (std::string(data.cFileName).compare(0, prefix.size(), prefix) == 0) {
            found.emplace_back(data.cFileName);
        }
    } while (FindNextFileA(search, &data));
    FindClose(search);
    return found;
}

void OutputDirectory::remove(const std::string& entry) const
{
    DeleteFileA((folder + entry).c_str());
}

void OutputDirectory::rename(const std::string& from, const std::string& to) const
{
    MoveFileA((folder + from).c_str(), (folder + to).c_str());
}
