#include "FilePermissionsException.h"

KORR_DEFINE_EXCEPTION(FilePermissionsException, KorrException)
