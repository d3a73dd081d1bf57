// Child roles of the test binary: OSTARA_TEST_CHILD_ROLE(name) { ... return code; } defines
// a role; TestChild::selfPath() and TestChild::environmentFor(role) start it.
#ifndef OSTARA_TEST_TESTCHILD_H
#define OSTARA_TEST_TESTCHILD_H

#include <string>

class TestChild
{
public:
    typedef int (*Role)(int argc, char** argv);
    static bool add(const char* name, Role role);
    static int run(const char* name, int argc, char** argv);
    // Absolute path of the running test binary.
    static std::string selfPath();
};

#define OSTARA_TEST_CHILD_ROLE(name)                                                   \
    static int testChildRole_##name([[maybe_unused]] int argc, [[maybe_unused]] char** argv); \
    static const bool testChildRoleAdded_##name = TestChild::add(#name, testChildRole_##name); \
    static int testChildRole_##name([[maybe_unused]] int argc, [[maybe_unused]] char** argv)

#endif
