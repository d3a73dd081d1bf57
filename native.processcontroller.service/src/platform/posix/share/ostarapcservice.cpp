// ostarapcservice: runs one process controller as a systemd service, or installs it as one
// ("-install"). The work is serviceEntry's; main only hands over the command line.
#include <malloc.h>

#include "serviceMain.h"

int main(int argc, char** argv)
{
    // A supervisor allocates little and from few threads: one heap instead of one per thread
    // keeps its idle footprint small.
    mallopt(M_ARENA_MAX, 1);
    return serviceEntry(argc, argv);
}
