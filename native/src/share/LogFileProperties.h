// The configuration of one set of rotating log files (name pattern with "%g" for the
// generation, size limit in bytes, number of files, append mode, readability by others) plus
// the application properties that the handlers print in their start banners.
#ifndef OSTARA_LOGFILEPROPERTIES_H
#define OSTARA_LOGFILEPROPERTIES_H

#include <iosfwd>
#include <map>
#include <string>

class LogFileProperties
{
public:
    LogFileProperties(const std::string& pattern, int limit, int count, bool append, bool canRead);
    virtual ~LogFileProperties();

    const std::string& getPattern() const { return pattern; }
    int getLimit() const { return limit; }
    int getCount() const { return count; }
    bool isAppend() const { return append; }
    bool isCanRead() const { return canRead; }
    const std::map<std::string, std::string>& getApplicationProperties() const { return applicationProperties; }
    // The first value given for a key stays.
    void addApplicationProperty(const std::string& key, const std::string& value);

private:
    std::string pattern;
    int limit;
    int count;
    bool append;
    bool canRead;
    std::map<std::string, std::string> applicationProperties;
};

// "pattern: P limit: L count: C append: 1 canRead: 0".
std::ostream& operator<<(std::ostream& out, const LogFileProperties& properties);

#endif
