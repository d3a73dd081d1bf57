// The pipe stayed busy for longer than a client waits.
#ifndef OSTARA_IPCTIMEOUTEXCEPTION_H
#define OSTARA_IPCTIMEOUTEXCEPTION_H

#include "IPCException.h"

KORR_DECLARE_EXCEPTION(IPCTimeoutException, IPCException)

#endif
