// ostaractl: asks the process controller of an application for its status, stops it,
// changes its trace or wakes it. The work is AdminCommand's; this only finds the catalogues.
#include <climits>
#include <cstdlib>
#include <iostream>
#include <string>
#include <unistd.h>
#include <vector>

#include "AdminCommand.h"

int main(int argc, char** argv)
{
    // Installed as <install>/bin64/ostaractl beside the product root <install>/prod, which
    // holds the message catalogues; an explicit ZRK_PROD or KORR_PROD wins.
    if (!std::getenv("ZRK_PROD") && !std::getenv("KORR_PROD")) {
        char self[PATH_MAX];
        ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
        if (n > 0) {
            std::string exe(self, static_cast<std::size_t>(n));
            std::string bin = exe.substr(0, exe.rfind('/'));
            std::string root = bin.substr(0, bin.rfind('/')) + "/prod";
            setenv("ZRK_PROD", root.c_str(), 1);
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
