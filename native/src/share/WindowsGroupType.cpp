#include "WindowsGroupType.h"

#include <ostream>

std::string WindowsGroupType::toString() const
{
    switch (value) {
    case GUESTS: return "Guests";
    case USERS: return "Users";
    case EVERYONE: return "Everyone";
    default: return "other";
    }
}

std::ostream& operator<<(std::ostream& out, const WindowsGroupType& group) { return out << group.toString(); }
