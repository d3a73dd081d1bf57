#include "IPCException.h"

KORR_DEFINE_EXCEPTION(IPCException, KorrException)
