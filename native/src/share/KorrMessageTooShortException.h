// An IPC buffer is shorter than the lengths its own fields announce.
#ifndef OSTARA_KORRMESSAGETOOSHORTEXCEPTION_H
#define OSTARA_KORRMESSAGETOOSHORTEXCEPTION_H

#include "KorrException.h"

KORR_DECLARE_EXCEPTION(KorrMessageTooShortException, KorrException)

#endif
