// The operation is not available on this platform.
#ifndef OSTARA_KORRUNSUPPORTEDOPERATIONEXCEPTION_H
#define OSTARA_KORRUNSUPPORTEDOPERATIONEXCEPTION_H

#include "KorrException.h"

KORR_DECLARE_EXCEPTION(KorrUnsupportedOperationException, KorrException)

#endif
