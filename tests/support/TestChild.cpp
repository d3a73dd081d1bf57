#include "TestChild.h"

#include <cstdio>
#include <map>
#include <string>
#include <unistd.h>

namespace {
std::map<std::string, TestChild::Role>& roles()
{
    static std::map<std::string, TestChild::Role> r;
    return r;
}
} // namespace

bool TestChild::add(const char* name, Role role)
{
    roles()[name] = role;
    return true;
}

int TestChild::run(const char* name, int argc, char** argv)
{
    auto found = roles().find(name);
    if (found == roles().end()) {
        std::fprintf(stderr, "unknown test child role %s\n", name);
        return 127;
    }
    return found->second(argc, argv);
}

std::string TestChild::selfPath()
{
    char buffer[4096];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}
