// A file, lock or permission operation on the file system failed.
#ifndef OSTARA_KORRIOEXCEPTION_H
#define OSTARA_KORRIOEXCEPTION_H

#include "KorrException.h"

KORR_DECLARE_EXCEPTION(KorrIOException, KorrException)

#endif
