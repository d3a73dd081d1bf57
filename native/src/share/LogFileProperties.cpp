#include "LogFileProperties.h"

#include <ostream>

LogFileProperties::LogFileProperties(const std::string& p, int l, int c, bool a, bool r)
    : pattern(p), limit(l), count(c), append(a), canRead(r)
{
}

LogFileProperties::~LogFileProperties() {}

void LogFileProperties::addApplicationProperty(const std::string& key, const std::string& value)
{
    applicationProperties.emplace(key, value);
}

std::ostream& operator<<(std::ostream& out, const LogFileProperties& p)
{
    return out << "pattern: " << p.getPattern() << " limit: " << p.getLimit() << " count: " << p.getCount()
               << " append: " << (p.isAppend() ? 1 : 0) << " canRead: " << (p.isCanRead() ? 1 : 0);
}
