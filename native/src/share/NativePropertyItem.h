// One known property: its key, its type (string, integer or boolean), its default and, for
// integers, the allowed range. It turns the raw text of a properties file into a typed value
// and rejects text that is not valid for its type with a catalogue message.
#ifndef OSTARA_NATIVEPROPERTYITEM_H
#define OSTARA_NATIVEPROPERTYITEM_H

#include <cstdint>
#include <iosfwd>
#include <string>

class NativePropertyItem
{
public:
    enum Type { STRING_TYPE = 0, INTEGER_TYPE = 1, BOOLEAN_TYPE = 2 };

    explicit NativePropertyItem(const std::string& key);
    NativePropertyItem(const std::string& key, const std::string& defaultValue);
    // Without it a literal default would convert to bool and make a boolean item.
    NativePropertyItem(const std::string& key, const char* defaultValue);
    NativePropertyItem(const std::string& key, int32_t defaultValue);
    // The default itself is not tested against the range.
    NativePropertyItem(const std::string& key, int32_t defaultValue, int32_t minimum, int32_t maximum);
    NativePropertyItem(const std::string& key, bool defaultValue);
    virtual ~NativePropertyItem();

    const std::string& getKey() const { return key; }
    int getType() const { return type; }
    std::string getDefaultStringValue() const { return defaultStringValue; }
    int32_t getDefaultIntegerValue() const { return defaultIntegerValue; }
    bool getDefaultBooleanValue() const { return defaultBooleanValue; }
    int32_t getMinimum() const { return minimum; }
    int32_t getMaximum() const { return maximum; }

    // Each returns the default for a null value and throws KorrException when the item has
    // another type or the text is not valid.
    std::string getStringValue(const std::string* value) const;
    // Reads like "%d": leading blanks and a sign are accepted and text behind the digits is
    // ignored ("12abc" is 12). A number beyond 32 bits is out of range, never wrapped.
    int32_t getIntegerValue(const std::string* value) const;
    // true/yes/on and false/no/off, in any case.
    bool getBooleanValue(const std::string* value) const;

private:
    std::string key;
    int type;
    std::string defaultStringValue;
    int32_t defaultIntegerValue;
    bool defaultBooleanValue;
    int32_t minimum;
    int32_t maximum;
};

std::ostream& operator<<(std::ostream& out, const NativePropertyItem& item);

#endif
