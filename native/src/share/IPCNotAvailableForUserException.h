// The pipe exists but the calling user may not use it.
#ifndef OSTARA_IPCNOTAVAILABLEFORUSEREXCEPTION_H
#define OSTARA_IPCNOTAVAILABLEFORUSEREXCEPTION_H

#include "IPCException.h"

KORR_DECLARE_EXCEPTION(IPCNotAvailableForUserException, IPCException)

#endif
