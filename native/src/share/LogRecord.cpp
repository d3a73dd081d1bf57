#include "LogRecord.h"

#include "KorrUtils.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <ostream>

#include "FFDC.h"
#include "KorrThreadSyncImpl.h"
#include "Synchronize.h"

namespace {

// Guards the sequence numbering below and the C library's shared local-time buffer. Never
// destroyed: records are built during static construction and destruction too.
KorrThreadSync& recordLock()
{
    static KorrThreadSync* lock = new KorrThreadSyncImpl();
    return *lock;
}

int64_t lastLogTime = 0;
int32_t lastLogTimeSubseconds = 0;

// The conversion of the latest second is kept: the C library looks at the time-zone set-up
// on every call, which would otherwise dominate the cost of a trace line.
int64_t convertedSecond = -1;
std::tm convertedTime{};

std::tm localTime(int64_t seconds)
{
    Synchronize hold(&recordLock());
    if (seconds != convertedSecond) {
        convertedTime = KorrUtils::localTime(static_cast<std::time_t>(seconds)); // thread-safe form
        convertedSecond = seconds;
    }
    return convertedTime;
}

const char HEX[] = "0123456789ABCDEF";

} // namespace

LogRecord::LogRecord(const LogLevel& level, const LogRecordType& t, const std::string& m)
    : logLevel(level), type(t), message(m), objectReference(nullptr),
      logTime(static_cast<int64_t>(std::time(nullptr))), sequenceInSecond(0), threadId(0), numArguments(0),
      thrown(nullptr)
{
    Synchronize hold(&recordLock());
    lastLogTimeSubseconds = logTime == lastLogTime ? lastLogTimeSubseconds + 1 : 0;
    lastLogTime = logTime;
    sequenceInSecond = static_cast<uint32_t>(lastLogTimeSubseconds);
}

LogRecord::~LogRecord() {}

LogRecord& LogRecord::operator=(const LogRecord&)
{
    FFDC::capture("LogRecord", this, "operator=", FFDC::PROBE_001(), nullptr, 1, "not supported!");
    return *this;
}

std::string LogRecord::getMessage() const { return message; }

std::string LogRecord::getArgument(unsigned int i) const { return i < numArguments ? arguments[i] : std::string(); }

void LogRecord::setArguments(unsigned int count, const std::string* values)
{
    unsigned int n = count < MAX_ARGUMENTS ? count : MAX_ARGUMENTS;
    for (unsigned int i = 0; i < n; ++i) {
        arguments[i] = values[i];
    }
    numArguments = n;
}

std::string LogRecord::getTimestamp() const
{
    std::tm t = localTime(logTime);
    char buffer[64];
    char hex[3] = {HEX[(sequenceInSecond % 256) / 16], HEX[sequenceInSecond % 16], '\0'};
    std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d.%03d.%s", t.tm_hour, t.tm_min, t.tm_sec,
                  static_cast<int>(sequenceInSecond / 256), hex);
    return buffer;
}

std::string LogRecord::getDateTimestamp() const
{
    std::tm t = localTime(logTime);
    char zone[64] = "";
    if (std::strftime(zone, sizeof zone, "%Z", &t) == 0 || zone[0] == '\0') {
        std::snprintf(zone, sizeof zone, "???");
    }
    char buffer[160];
    std::snprintf(buffer, sizeof buffer, "%02d/%02d/%04d %02d:%02d:%02d.%03d %s", t.tm_mday, t.tm_mon + 1,
                  t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec, static_cast<int>(sequenceInSecond / 256), zone);
    return buffer;
}

std::string LogRecord::getLogRecordOutputHeader()
{
    std::string first(127, ' ');
    first.replace(0, 9, "TimeStamp");
    first.replace(17, 3, "TID");
    first.replace(34, 8, "ObjectId");
    first.replace(52, 5, "Class");
    first.replace(123, 4, "Data");
    return first + "\n" + std::string(166, '=');
}

namespace {

// Fixed-width columns without printf: a trace line is written for every traced call.
std::string hexColumn(unsigned long long value, int digits)
{
    std::string text(static_cast<std::size_t>(digits), '0');
    for (int i = digits - 1; i >= 0 && value != 0; --i, value >>= 4) {
        text[static_cast<std::size_t>(i)] = "0123456789abcdef"[value & 0xf];
    }
    return text;
}

// Like "%-N.Ns": cut to N characters or padded with blanks to N.
std::string textColumn(const std::string& text, std::size_t width)
{
    std::string column = text.substr(0, std::min(width, text.find('\0')));
    column.resize(width, ' ');
    return column;
}

} // namespace

std::ostream& operator<<(std::ostream& out, const LogRecord& record)
{
    std::string tid = hexColumn(record.getThreadId(), 16);
    if (record.getType() == LogRecordType::EVENT) {
        out << "[" << record.getDateTimestamp() << "]  " << tid << " " << textColumn(record.getSourceClassName(), 13)
            << " " << record.getLogLevel().getIndicator() << " " << record.getMessage();
        return out;
    }
    const void* object = record.getObjectReference();
    std::string objectColumn =
        object ? "@" + hexColumn(static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(object)), 16)
               : "           static";
    out << record.getTimestamp() << "  " << tid << " " << objectColumn << " "
        << textColumn(record.getSourceClassName(), 70) << " " << record.getMessage();
    return out;
}
