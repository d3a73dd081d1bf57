#include "PropertyNotFoundException.h"

KORR_DEFINE_EXCEPTION(PropertyNotFoundException, KorrException)
