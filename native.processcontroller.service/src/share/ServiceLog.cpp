#include "ServiceLog.h"

#include <cstdio>

#include "KorrException.h"
#include "KorrThreadSyncImpl.h"
#include "KorrUtils.h"
#include "SecureFileHandler.h"
#include "Synchronize.h"

namespace {

void writeToStdout(const std::string& line)
{
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

} // namespace

ServiceLog::ServiceLog(const std::string& pattern, int limit, int count, bool append, bool canRead)
    : handler(nullptr), lock(nullptr)
{
    try {
        handler = new SecureFileHandler(pattern, limit, count, append, canRead, dateNumber(std::time(nullptr)));
    } catch (const KorrException& e) {
        std::fprintf(stderr, "Using stdout for service log as failed to open log handler due to error: %s\n",
                     e.getMessage().c_str());
        std::fflush(stderr);
    }
    try {
        lock = new KorrThreadSyncImpl();
    } catch (const KorrException& e) {
        log("Unable to obtain synchronization lock. Reason: " + e.getMessage());
    }
}

ServiceLog::~ServiceLog()
{
    close();
    delete lock;
}

std::string ServiceLog::timeStamp(std::time_t when)
{
    std::tm utc = KorrUtils::universalTime(when);
    char text[64];
    std::snprintf(text, sizeof text, "[%02d/%02d/%04d %02d:%02d:%02d GMT]", utc.tm_mday, utc.tm_mon + 1,
                  utc.tm_year + 1900, utc.tm_hour, utc.tm_min, utc.tm_sec);
    return text;
}

int ServiceLog::dateNumber(std::time_t when)
{
    std::tm local = KorrUtils::localTime(when);
    return (local.tm_year + 1900) * 10000 + (local.tm_mon + 1) * 100 + local.tm_mday;
}

void ServiceLog::log(const std::string& message)
{
    Synchronize hold(lock);
    std::string line = timeStamp(std::time(nullptr)) + " " + message;
    if (!handler) {
        writeToStdout(line);
        return;
    }
    try {
        handler->publish(line);
    } catch (const KorrException& e) {
        // The line is not lost: the failure goes to standard error, the line to standard output.
        std::fprintf(stderr, "%s %s", timeStamp(std::time(nullptr)).c_str(), e.getMessage().c_str());
        std::fflush(stderr);
        writeToStdout(line);
    }
}

void ServiceLog::close()
{
    Synchronize hold(lock);
    if (handler) {
        handler->close();
        delete handler;
        handler = nullptr;
    }
}
