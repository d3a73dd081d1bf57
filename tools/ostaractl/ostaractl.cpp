// ostaractl: asks the process controller of an application for its status, stops it,
// changes its trace or wakes it. The work is AdminCommand's; this only finds the catalogues.
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "AdminCommand.h"
#include "ExecutablePath.h"
#include "KorrUtils.h"

int main(int argc, char** argv)
{
    // Installed as <install>/bin64/ostaractl beside the product root <install>/prod, which
    // holds the message catalogues; an explicit ZRK_PROD or KORR_PROD wins.
    if (!std::getenv("ZRK_PROD") && !std::getenv("KORR_PROD")) {
        std::string exe = executablePath();
        if (!exe.empty()) {
            std::string bin = KorrUtils::getParent(exe);
            KorrUtils::setenv("ZRK_PROD", KorrUtils::getParent(bin) + KorrUtils::separator() + "prod");
        }
    }
    std::vector<std::string> args(argv + 1, argv + argc);
    int code = AdminCommand::run(args, std::cout, std::cerr);
    std::cout.flush();
    std::cerr.flush();
    if (code == AdminCommand::EXIT_TIMEOUT) {
        std::_Exit(code);   // the request thread still waits: end without tearing anything down
    }
    return code;
}
