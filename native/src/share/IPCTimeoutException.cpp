#include "IPCTimeoutException.h"

KORR_DEFINE_EXCEPTION(IPCTimeoutException, IPCException)
