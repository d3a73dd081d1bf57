#include "ProcessStreamReaderListener.h"

#include <ostream>

#include "Trace.h"

std::ostream& operator<<(std::ostream& out, const ProcessStreamReaderListener& listener)
{
    return out << "ProcessStreamReaderListener " << Trace::pointerText(&listener);
}
