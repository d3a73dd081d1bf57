// The kind of a request on the controller's pipe, told by the leading letters of its text:
// stops, status, trace changes and wake-ups the controller handles, and requests it relays.
#ifndef OSTARAPC_IPCMESSAGETYPE_H
#define OSTARAPC_IPCMESSAGETYPE_H

#include <iosfwd>
#include <string>

class IPCMessageType
{
public:
    enum IPCMessageTypeValue { STOPC = 1, STOPI = 2, GETS = 3, TRAC = 4, JCOR = 5, STAG = 6, GETA = 7, UNKNOWN = 9999 };

    IPCMessageType() : value(UNKNOWN) {}
    IPCMessageType(IPCMessageTypeValue v) : value(v) {}
    IPCMessageType(const IPCMessageType& other) : value(other.value) {}
    IPCMessageType& operator=(const IPCMessageType& other)
    {
        value = other.value;
        return *this;
    }
    virtual ~IPCMessageType() {}

    bool operator==(const IPCMessageType& o) const { return value == o.value; }
    bool operator!=(const IPCMessageType& o) const { return value != o.value; }
    int toInt() const { return value; }
    // "STOPC", "STOPI", "GETS", "TRAC", "JCOR", "STAG", "GETA" or "UNKNOWN".
    const char* toString() const;

    // The first kind, in value order, whose text begins `text` (case-sensitive); UNKNOWN
    // when none does. "GETSTATUS" is GETS; "STOP" and the empty text are UNKNOWN.
    static IPCMessageType fromMessageText(const std::string& text);

private:
    int value;
};

std::ostream& operator<<(std::ostream& out, const IPCMessageType& type);

#endif
