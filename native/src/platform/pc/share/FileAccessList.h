// The access list that mkpriv and mkGroupVexilWrite give a path: allowed entries, in order,
// for the current user, Administrators, the "vexil" group when asked for and it exists, and
// Everyone when it may read or write. Built apart from writing it, so it can be inspected.
#ifndef OSTARA_FILEACCESSLIST_H
#define OSTARA_FILEACCESSLIST_H

#include <windows.h>
// The system header's macro would replace KorrThread::STILL_ACTIVE and KorrProcess::STILL_ACTIVE.
#undef STILL_ACTIVE

#include <string>
#include <vector>

class FileAccessList
{
public:
    // Throws KorrIOException with the step's catalogue key and inserts error text, path.
    FileAccessList(const std::string& path, bool directory, bool withVexilGroup, bool everyoneRead,
                   bool everyoneWrite);
    PACL get() { return reinterpret_cast<PACL>(acl.data()); }
    // Replaces the path's access list with this one (ZRKNV0029..0031 on failure).
    void writeTo(const std::string& path);

private:
    void add(const std::string& path, PSID sid, DWORD mask, const char* key);
    std::vector<unsigned char> acl;
    DWORD inheritance;
};

#endif
