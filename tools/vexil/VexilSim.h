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

} // namespace vexilsim

#endif
