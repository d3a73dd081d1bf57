#include "IPCNotAvailableForUserException.h"

KORR_DEFINE_EXCEPTION(IPCNotAvailableForUserException, IPCException)
