// No pipe of the requested name is being served.
#ifndef OSTARA_IPCNOTFOUNDEXCEPTION_H
#define OSTARA_IPCNOTFOUNDEXCEPTION_H

#include "IPCException.h"

KORR_DECLARE_EXCEPTION(IPCNotFoundException, IPCException)

#endif
