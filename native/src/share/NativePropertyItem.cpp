#include "NativePropertyItem.h"

#include <cctype>
#include <cstdlib>
#include <limits>
#include <ostream>

#include "KorrException.h"
#include "NLS.h"
#include "RasDescriptor.h"
#include "RasDescriptorSlot.h"
#include "Trace.h"

namespace {

const RasDescriptorSlot rdSlot("NativePropertyItem", "com.quillon.velbrix.nativ.common.ZRKNVMessages");

const RasDescriptor& rd() { return rdSlot.get(); }

KorrException traced(const char* method, const std::string& message)
{
    KorrException e(message);
    if (rd().isFlowOn()) {
        Trace::throwing(rd(), method, &e);
    }
    return e;
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// The "%d" reading: blanks, an optional sign, at least one digit; the rest is ignored.
// Returns false when there are no digits; sets overflow when the number exceeds 64 bits.
bool scanInteger(const std::string& text, long long& number, bool& overflow)
{
    std::string::size_type i = 0;
    while (i < text.size() && isBlank(text[i])) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i >= text.size() || !std::isdigit(static_cast<unsigned char>(text[i]))) {
        return false;
    }
    const long long limit = std::numeric_limits<long long>::max() / 10 - 1;
    number = 0;
    overflow = false;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        if (number > limit) {
            overflow = true;   // far outside any 32-bit range; the digits no longer matter
        } else {
            number = number * 10 + (text[i] - '0');
        }
    }
    if (negative) {
        number = -number;
    }
    return true;
}

} // namespace

NativePropertyItem::NativePropertyItem(const std::string& k)
    : key(k), type(STRING_TYPE), defaultIntegerValue(0), defaultBooleanValue(false), minimum(0), maximum(0)
{
}

NativePropertyItem::NativePropertyItem(const std::string& k, const std::string& d)
    : key(k), type(STRING_TYPE), defaultStringValue(d), defaultIntegerValue(0), defaultBooleanValue(false),
      minimum(0), maximum(0)
{
}

NativePropertyItem::NativePropertyItem(const std::string& k, const char* d)
    : NativePropertyItem(k, std::string(d ? d : ""))
{
}

NativePropertyItem::NativePropertyItem(const std::string& k, int32_t d)
    : NativePropertyItem(k, d, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max())
{
}

NativePropertyItem::NativePropertyItem(const std::string& k, int32_t d, int32_t low, int32_t high)
    : key(k), type(INTEGER_TYPE), defaultIntegerValue(d), defaultBooleanValue(false), minimum(low), maximum(high)
{
}

NativePropertyItem::NativePropertyItem(const std::string& k, bool d)
    : key(k), type(BOOLEAN_TYPE), defaultIntegerValue(0), defaultBooleanValue(d), minimum(0), maximum(0)
{
}

NativePropertyItem::~NativePropertyItem() {}

std::string NativePropertyItem::getStringValue(const std::string* value) const
{
    if (type != STRING_TYPE) {
        throw traced("getStringValue", NLS::format(rd(), "ZRKNV0115_NOT_A_STRING_PROP", key));
    }
    return value ? *value : defaultStringValue;
}

int32_t NativePropertyItem::getIntegerValue(const std::string* value) const
{
    if (type != INTEGER_TYPE) {
        throw traced("getIntegerValue", NLS::format(rd(), "ZRKNV0116_NOT_AN_INTEGER_PROP", key));
    }
    if (value == nullptr) {
        return defaultIntegerValue;
    }
    long long number = 0;
    bool overflow = false;
    if (!scanInteger(*value, number, overflow)) {
        throw traced("getIntegerValue", NLS::format(rd(), "ZRKNV0118_NOT_AN_INTEGER", key, *value));
    }
    if (overflow || number < minimum || number > maximum) {
        throw traced("getIntegerValue", NLS::format(rd(), "ZRKNV0119_OUT_OF_RANGE", key, *value,
                                                    std::to_string(minimum), std::to_string(maximum)));
    }
    return static_cast<int32_t>(number);
}

bool NativePropertyItem::getBooleanValue(const std::string* value) const
{
    if (type != BOOLEAN_TYPE) {
        throw traced("getBooleanValue", NLS::format(rd(), "ZRKNV0117_NOT_A_BOOLEAN_PROP", key));
    }
    if (value == nullptr) {
        return defaultBooleanValue;
    }
    std::string text = *value;
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (text == "true" || text == "yes" || text == "on") {
        return true;
    }
    if (text == "false" || text == "no" || text == "off") {
        return false;
    }
    throw traced("getBooleanValue", NLS::format(rd(), "ZRKNV0120_INVALID_BOOLEAN", key, *value));
}

std::ostream& operator<<(std::ostream& out, const NativePropertyItem& item)
{
    out << item.getKey();
    switch (item.getType()) {
    case NativePropertyItem::STRING_TYPE: return out << "string value: " << item.getDefaultStringValue();
    case NativePropertyItem::INTEGER_TYPE:
        return out << "integer value: " << item.getDefaultIntegerValue() << " (min: " << item.getMinimum()
                   << ", max: " << item.getMaximum() << ")";
    case NativePropertyItem::BOOLEAN_TYPE: return out << "boolean value: " << item.getDefaultBooleanValue();
    default: return out << "unknown type";
    }
}
