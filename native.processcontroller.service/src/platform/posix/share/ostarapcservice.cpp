// Entry point of the service program. The installer works; the service host is not built
// yet: say how the program will be called and fail, so that nobody mistakes it for a service.
#include <cstdio>
#include <cstring>

#include "serviceInstaller.h"

int main(int argc, char** argv)
{
    const char* usage =
        "Usage: ostarapcservice SERVICE_NAME LOG_DIRECTORY LOG_LEVEL CONTROLLER_OPTIONS... PROGRAM [ARGS...]\n"
        "       ostarapcservice -install OPTIONS...\n";
    if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(usage, stdout);
        return 0;
    }
    if (argc > 1 && std::strncmp(argv[1], "-install", 8) == 0) {
        return install(argc - 2, argv + 2);
    }
    std::fputs(usage, stderr);
    std::fputs("ostarapcservice: the service host is not available in this build\n", stderr);
    return 1;
}
