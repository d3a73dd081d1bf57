#include "KorrMessageTooShortException.h"

KORR_DEFINE_EXCEPTION(KorrMessageTooShortException, KorrException)
