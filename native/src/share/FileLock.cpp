#include "FileLock.h"

#include <ostream>

std::ostream& operator<<(std::ostream& out, const FileLock& lock) { return out << lock.getPidFileName(); }
