// Where the simulated queue managers live and what their daemon answers on a connection.
#ifndef VEXIL_SIM_H
#define VEXIL_SIM_H

#include <cstdlib>
#include <string>

namespace vexilsim {

const char ACCEPT = 'A';
const char REFUSE = 'R';
const std::size_t MAX_NAME = 48;

inline std::string directory()
{
    const char* dir = std::getenv("VEXIL_SIM_DIR");
    return dir && *dir ? dir : "/tmp/.vexil-sim";
}

inline bool validName(const char* name)
{
    if (!name || !*name) {
        return false;
    }
    std::string n(name);
    return n.size() <= MAX_NAME && n.find('/') == std::string::npos && n != "." && n != "..";
}

inline std::string socketPath(const std::string& name) { return directory() + "/" + name + ".qm"; }

// Windows: the daemon serves a named pipe whose name stands for the directory and the queue
// manager, and refuses callers while <directory>/<name>.refuse exists.
inline std::string pipeName(const std::string& name)
{
    unsigned long long hash = 14695981039346656037ull;
    for (unsigned char c : directory()) {
        hash = (hash ^ c) * 1099511628211ull;
    }
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (int shift = 60; shift >= 0; shift -= 4) {
        text += digits[(hash >> shift) & 15];
    }
    return "\\\\.\\pipe\\vexil-sim-" + text + "-" + name;
}

inline std::string refuseFlagPath(const std::string& name) { return directory() + "/" + name + ".refuse"; }

} // namespace vexilsim

#endif
