// A file is open to broader groups than the product allows, or its permissions cannot be read.
#ifndef OSTARA_FILEPERMISSIONSEXCEPTION_H
#define OSTARA_FILEPERMISSIONSEXCEPTION_H

#include "KorrException.h"

KORR_DECLARE_EXCEPTION(FilePermissionsException, KorrException)

#endif
