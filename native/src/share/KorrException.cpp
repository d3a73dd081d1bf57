#include "KorrException.h"

#include <ostream>
#include <sstream>

#include "NLS.h"

namespace {
const char* const ELEMENTS = "com.quillon.velbrix.nativ.common.ZRKNVElements";
}

KorrException::KorrException(const std::string& msg) : message(msg), cause(nullptr) {}

KorrException::KorrException(const std::string& msg, const KorrException* c)
    : message(msg), cause(c ? new KorrException(*c) : nullptr)
{
}

// The cause is always stored as a plain KorrException: the chain keeps texts, not classes.
KorrException::KorrException(const KorrException& other)
    : message(other.message), cause(other.cause ? new KorrException(*other.cause) : nullptr)
{
}

KorrException& KorrException::operator=(const KorrException& other)
{
    if (this != &other) {
        KorrException* copy = other.cause ? new KorrException(*other.cause) : nullptr;
        delete cause;
        cause = copy;
        message = other.message;
    }
    return *this;
}

KorrException::~KorrException() { delete cause; }

std::string KorrException::getMessage() const { return message; }

KorrException KorrException::getCause() const
{
    return cause ? KorrException(*cause) : KorrException(std::string());
}

std::string KorrException::toString() const
{
    std::ostringstream out;
    out << "class " << className() << ": " << message;
    if (cause) {
        out << ' ' << NLS::format(ELEMENTS, "ZRKNV_CAUSED_BY") << ' ' << cause->toString();
    }
    return out.str();
}

std::ostream& operator<<(std::ostream& out, const KorrException& e) { return out << e.toString(); }
