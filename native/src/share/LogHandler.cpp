#include "LogHandler.h"

#include <ostream>

LogHandler::LogHandler(const LogLevel& l) : level(l) {}

LogHandler::~LogHandler() {}

std::ostream& operator<<(std::ostream& out, const LogHandler& handler) { return out << "Level: " << handler.getLevel(); }
