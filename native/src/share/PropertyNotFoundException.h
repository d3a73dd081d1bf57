// A key that the process-wide environment does not hold was asked for.
#ifndef OSTARA_PROPERTYNOTFOUNDEXCEPTION_H
#define OSTARA_PROPERTYNOTFOUNDEXCEPTION_H

#include "KorrException.h"

KORR_DECLARE_EXCEPTION(PropertyNotFoundException, KorrException)

#endif
