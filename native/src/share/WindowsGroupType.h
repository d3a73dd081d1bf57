// The broad groups that the file-permission check refuses: Guests, Users, Everyone, or any
// other group. Its text form names the group in the permission message.
#ifndef OSTARA_WINDOWSGROUPTYPE_H
#define OSTARA_WINDOWSGROUPTYPE_H

#include <iosfwd>
#include <string>

class WindowsGroupType
{
public:
    enum WindowsGroupTypeValue { GUESTS = 1, USERS = 2, EVERYONE = 3, OTHER = 4 };

    WindowsGroupType() : value(USERS) {}
    WindowsGroupType(WindowsGroupTypeValue v) : value(v) {}
    explicit WindowsGroupType(int v) : value(v) {}
    virtual ~WindowsGroupType() {}

    bool operator==(const WindowsGroupType& o) const { return value == o.value; }
    bool operator!=(const WindowsGroupType& o) const { return value != o.value; }
    int getValue() const { return value; }
    // "Guests", "Users", "Everyone", or "other" for every other value.
    std::string toString() const;

private:
    int value;
};

std::ostream& operator<<(std::ostream& out, const WindowsGroupType& group);

#endif
