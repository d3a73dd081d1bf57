// ostarapcservice: runs one process controller as a Windows service (with "-console" in the
// foreground, outside the service control manager), or installs it as one ("-install"). The
// work is serviceEntry's; main only hands over the command line.
#include "serviceMain.h"

int main(int argc, char** argv)
{
    return serviceEntry(argc, argv);
}
