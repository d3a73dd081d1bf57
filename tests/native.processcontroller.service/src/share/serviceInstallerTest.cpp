// The installer against the platform's real service manager (on Linux a unit directory of the
// test's own): what it refuses, what a second install and an uninstall give.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "KorrUtils.h"
#include "TempDir.h"
#include "serviceInstaller.h"

namespace {

struct Outcome
{
    int result;
    std::string out, err;
};

Outcome run(int (*step)(int, char**), std::vector<std::string> args)
{
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(&a[0]);
    }
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    Outcome o;
    o.result = step(static_cast<int>(argv.size()), argv.data());
    o.err = testing::internal::GetCapturedStderr();
    o.out = testing::internal::GetCapturedStdout();
    return o;
}

// A name of its own for each run: tests of several builds may share one service manager.
std::string uniqueName(const std::string& base)
{
    std::random_device random;
    return base + std::to_string(random() % 1000000);
}

} // namespace

TEST(InstallerTest, InstallsOnceRefusesASecondAndUninstallsOnce)
{
    TempDir units;
    KorrUtils::setenv("VELBRIX_SYSTEMD_UNIT_DIR", units.path());
    const std::string name = uniqueName("ostaraInstallerTest");
    const std::string nameOption = "-serviceName=" + name;

    Outcome first = run(install, {nameOption, "-description=installer test", "-pcOptions=-appId=x", "agent"});
    ASSERT_EQ(0, first.result) << first.err;
    EXPECT_NE(std::string::npos, first.out.find("ZRKPC0019")) << first.out;

    Outcome second = run(install, {nameOption, "-pcOptions=-appId=x", "agent"});
    EXPECT_EQ(-6, second.result);
    EXPECT_NE(std::string::npos, second.err.find("ZRKPC0017")) << second.err;

    Outcome removed = run(uninstall, {nameOption});
    EXPECT_EQ(0, removed.result) << removed.err;
    Outcome again = run(uninstall, {nameOption});
    EXPECT_EQ(-8, again.result) << again.out;
    KorrUtils::setenv("VELBRIX_SYSTEMD_UNIT_DIR", "");
}

// A name with a path separator or a value with a line break would reach the manager as
// something else (another path, a second line of configuration): refused, nothing installed.
TEST(InstallerTest, RefusesNamesAndValuesTheManagerCannotTake)
{
    TempDir units;
    KorrUtils::setenv("VELBRIX_SYSTEMD_UNIT_DIR", units.path());
    const std::string base = uniqueName("ostaraRefused");
    for (const std::string& name : {base + "/x", base + "\\x", base + "\nx"}) {
        Outcome o = run(install, {"-serviceName=" + name, "-pcOptions=agent"});
        EXPECT_EQ(-6, o.result) << name;
        EXPECT_NE(std::string::npos, o.err.find("ZRKPC0017")) << o.err;
    }
    Outcome o = run(install, {"-serviceName=" + base, "-description=two\nlines", "-pcOptions=agent"});
    EXPECT_EQ(-6, o.result);
    EXPECT_EQ(-8, run(uninstall, {"-serviceName=" + base}).result);
    KorrUtils::setenv("VELBRIX_SYSTEMD_UNIT_DIR", "");
}
