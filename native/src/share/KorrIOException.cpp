#include "KorrIOException.h"

KORR_DEFINE_EXCEPTION(KorrIOException, KorrException)
