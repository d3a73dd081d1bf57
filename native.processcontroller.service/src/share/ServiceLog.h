// The service program's own log: one line per event of the service's life, each stamped
// "[dd/mm/yyyy hh:mm:ss GMT]", in a rotating private file named with the date of the start
// (service<yyyymmdd>.log), or on standard output when that file cannot be had or after close().
// Safe to use from any thread; construction never fails, the log only degrades.
#ifndef OSTARAPCSERVICE_SERVICELOG_H
#define OSTARAPCSERVICE_SERVICELOG_H

#include <ctime>
#include <string>

class KorrThreadSync;
class SecureFileHandler;

class ServiceLog
{
public:
    // pattern contains "%g", which the local date as yyyymmdd replaces in the current file's name.
    ServiceLog(const std::string& pattern, int limit, int count, bool append, bool canRead);
    virtual ~ServiceLog();

    void log(const std::string& message);
    // Releases the file (and its lock file); later lines go to standard output.
    void close();

    // "[31/01/2024 09:05:07 GMT]" for that moment in UTC.
    static std::string timeStamp(std::time_t when);
    // The local date of when as year * 10000 + month * 100 + day.
    static int dateNumber(std::time_t when);

private:
    ServiceLog(const ServiceLog&);
    ServiceLog& operator=(const ServiceLog&);

    SecureFileHandler* handler;   // null when it could not be opened, or after close()
    KorrThreadSync* lock;         // null if it could not be created
};

#endif
