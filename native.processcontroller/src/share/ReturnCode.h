// Exit codes shared by the controller, its host and the supervised application:
// 0 success, 1 failure, 2 exit, 70 abend, 75 queue manager unavailable, 78 configuration.
#ifndef OSTARAPC_RETURNCODE_H
#define OSTARAPC_RETURNCODE_H

#include <iosfwd>
#include <string>

class ReturnCode
{
public:
    enum ReturnCodeValue { RC_SUCCESS = 0, RC_FAILURE = 1, RC_EXIT = 2, RC_ABEND = 70, RC_QMUNAVAIL = 75, RC_CONFIG = 78 };

    ReturnCode() : value(RC_SUCCESS) {}
    ReturnCode(ReturnCodeValue v) : value(v) {}
    explicit ReturnCode(int v) : value(v) {}
    virtual ~ReturnCode() {}

    bool operator==(const ReturnCode& o) const { return value == o.value; }
    bool operator!=(const ReturnCode& o) const { return value != o.value; }
    bool operator>=(const ReturnCode& o) const { return value >= o.value; }

    int toInt() const { return value; }
    // The 12-character text form, "???         " for unknown values.
    std::string toString() const;

private:
    int value;
};

std::ostream& operator<<(std::ostream& out, const ReturnCode& code);

#endif
