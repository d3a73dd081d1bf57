// One log or trace record: level, kind, class, method, message, object, time with a
// sequence number inside its second, thread and up to five argument texts, plus its
// one-line text form (event form or trace form) that the log files are made of.
#ifndef OSTARA_LOGRECORD_H
#define OSTARA_LOGRECORD_H

#include <cstdint>
#include <iosfwd>
#include <string>

#include "LogLevel.h"
#include "LogRecordType.h"

class KorrException;

class LogRecord
{
public:
    static const unsigned int MAX_ARGUMENTS = 5;

    LogRecord(const LogLevel& level, const LogRecordType& type, const std::string& message);
    LogRecord(const LogRecord& other) = default;
    virtual ~LogRecord();
    // For trace records the stored message is the indentation prefix; subclasses add the rest.
    virtual std::string getMessage() const;

    const LogLevel& getLogLevel() const { return logLevel; }
    const LogRecordType& getType() const { return type; }
    const std::string& getSourceClassName() const { return sourceClassName; }
    const std::string& getSourceMethodName() const { return sourceMethodName; }
    const void* getObjectReference() const { return objectReference; }
    int64_t getLogTime() const { return logTime; }
    uint32_t getSequenceInSecond() const { return sequenceInSecond; }
    uint32_t getThreadId() const { return threadId; }
    const KorrException* getThrown() const { return thrown; }
    uint32_t getNumArguments() const { return numArguments; }
    // A copy; empty when i is not below getNumArguments().
    std::string getArgument(unsigned int i) const;
    const std::string& getMethodReturnType() const { return methodReturnType; }

    // "HH:MM:SS.sss.XX" in local time: sss is the sequence number / 256, XX its rest in hex.
    std::string getTimestamp() const;
    // "DD/MM/YYYY HH:MM:SS.sss ZONE" in local time.
    std::string getDateTimestamp() const;
    // The two column-header lines that trace lines line up with (no final line end).
    static std::string getLogRecordOutputHeader();

    void setSourceClassName(const std::string& name) { sourceClassName = name; }
    void setSourceMethodName(const std::string& name) { sourceMethodName = name; }
    void setObjectReference(const void* object) { objectReference = object; }
    void setThreadId(uint32_t id) { threadId = id; }
    void setThrown(const KorrException* exception) { thrown = exception; }
    void setMethodReturnType(const std::string& name) { methodReturnType = name; }
    // Keeps at most MAX_ARGUMENTS of the values.
    void setArguments(unsigned int count, const std::string* values);

private:
    // Records are values that are built once; assigning one is misuse and only reported.
    LogRecord& operator=(const LogRecord& other);

    LogLevel logLevel;
    LogRecordType type;
    std::string sourceClassName;
    std::string sourceMethodName;
    std::string message;
    const void* objectReference;
    int64_t logTime;
    uint32_t sequenceInSecond;
    uint32_t threadId;
    uint32_t numArguments;
    std::string arguments[MAX_ARGUMENTS];
    std::string methodReturnType;
    const KorrException* thrown;
};

// The record's line without a line end: the event form for EVENT records, else the trace form.
std::ostream& operator<<(std::ostream& out, const LogRecord& record);

#endif
