// ostarapcservice for Windows. The service host (dispatcher, control handler, service log)
// is not built for Windows yet; until it is, the program only says how it is to be called.
#include <cstdio>

int main(int, char**)
{
    std::fprintf(stderr, "Usage: ostarapcservice <service name> [controller arguments]\n"
                         "The Windows service host is not available in this build.\n");
    return 2;
}
