// Test entry point. With OSTARA_TEST_CHILD=<role> set, the binary runs that registered child
// role instead of the tests, so process and IPC tests need no helper scripts.
#include <cstdlib>
#include <cstdio>

#include <gtest/gtest.h>

#include "TestChild.h"

int main(int argc, char** argv)
{
    const char* role = std::getenv("OSTARA_TEST_CHILD");
    if (role && *role) {
        return TestChild::run(role, argc, argv);
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
