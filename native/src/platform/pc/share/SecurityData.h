// The security attributes of an IPC server's pipe: a DACL that allows only the built-in
// Administrators and the account the server runs as (GENERIC_ALL each, in that order).
// The buffers live as long as this object; the handle made with them is not inheritable.
#ifndef OSTARA_SECURITYDATA_H
#define OSTARA_SECURITYDATA_H

#include <windows.h>

#include <vector>

class SecurityData
{
public:
    SecurityData();

    // Builds the list from the calling thread's token (the process token when the thread
    // has none); false with GetLastError() set when any step fails.
    bool build();
    SECURITY_ATTRIBUTES* getAttributes() { return &attributes; }

private:
    SecurityData(const SecurityData&);
    SecurityData& operator=(const SecurityData&);

    std::vector<unsigned char> tokenUser;
    std::vector<unsigned char> acl;
    SECURITY_DESCRIPTOR descriptor;
    SECURITY_ATTRIBUTES attributes;
};

#endif
