// Where the running program's own file is, so that ostaractl finds the product beside it.
#ifndef OSTARA_EXECUTABLEPATH_H
#define OSTARA_EXECUTABLEPATH_H

#include <string>

// The full path of this program's file, empty when the system does not tell.
std::string executablePath();

#endif
