#include "BuildLevel.h"

// The build names the release; a build without it still says which library wrote the file.
#ifndef OSTARA_BUILD_LEVEL
#define OSTARA_BUILD_LEVEL "ostara"
#endif

std::string BuildLevel::getText() { return OSTARA_BUILD_LEVEL; }
