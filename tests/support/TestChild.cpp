#include "TestChild.h"

#include <cstdio>
#include <map>
#include <string>

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
