#include "IPCNotFoundException.h"

KORR_DEFINE_EXCEPTION(IPCNotFoundException, IPCException)
