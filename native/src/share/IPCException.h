// Base of the IPC failures: a pipe could not be served, reached or used.
#ifndef OSTARA_IPCEXCEPTION_H
#define OSTARA_IPCEXCEPTION_H

#include "KorrException.h"

KORR_DECLARE_EXCEPTION(IPCException, KorrException)

#endif
