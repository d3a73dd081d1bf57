#include "IPCMessageType.h"

#include <ostream>

namespace {

const IPCMessageType::IPCMessageTypeValue KINDS[] = {IPCMessageType::STOPC, IPCMessageType::STOPI,
                                                     IPCMessageType::GETS,  IPCMessageType::TRAC,
                                                     IPCMessageType::JCOR,  IPCMessageType::STAG,
                                                     IPCMessageType::GETA};

} // namespace

const char* IPCMessageType::toString() const
{
    switch (value) {
    case STOPC: return "STOPC";
    case STOPI: return "STOPI";
    case GETS: return "GETS";
    case TRAC: return "TRAC";
    case JCOR: return "JCOR";
    case STAG: return "STAG";
    case GETA: return "GETA";
    default: return "UNKNOWN";
    }
}

IPCMessageType IPCMessageType::fromMessageText(const std::string& text)
{
    for (IPCMessageTypeValue kind : KINDS) {
        std::string form = IPCMessageType(kind).toString();
        if (text.compare(0, form.size(), form) == 0) {
            return IPCMessageType(kind);
        }
    }
    return IPCMessageType();
}

std::ostream& operator<<(std::ostream& out, const IPCMessageType& type) { return out << type.toString(); }
