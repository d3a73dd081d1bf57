#include "IPCMessage.h"

#include <cstring>
#include <ostream>

#include "KorrException.h"
#include "KorrMessageTooShortException.h"
#include "NLS.h"
#include "RasDescriptor.h"
#include "RasDescriptorSlot.h"
#include "Trace.h"

namespace {

const RasDescriptorSlot rdSlot("IPCMessage", "com.quillon.velbrix.nativ.common.ZRKNVMessages");

const RasDescriptor& rd() { return rdSlot.get(); }

const char EYE_CATCHER[4] = {'K', 'R', 'R', 'I'};
const std::uint32_t HEADER_LENGTH = 8;

std::uint32_t readUnsigned(const unsigned char* p)
{
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | std::uint32_t(p[3]);
}

std::int32_t readSigned(const unsigned char* p) { return static_cast<std::int32_t>(readUnsigned(p)); }

unsigned char* writeUnsigned(unsigned char* p, std::uint32_t value)
{
    p[0] = static_cast<unsigned char>(value >> 24);
    p[1] = static_cast<unsigned char>(value >> 16);
    p[2] = static_cast<unsigned char>(value >> 8);
    p[3] = static_cast<unsigned char>(value);
    return p + 4;
}

template <class E>
E failure(E e)
{
    if (rd().isFlowOn()) {
        Trace::throwing(rd(), "IPCMessage", &e);
    }
    return e;
}

} // namespace

IPCMessage::IPCMessage() { initialize(-1, STATUS_SUCCESS, std::string()); }

IPCMessage::IPCMessage(long id, const std::string& text) { initialize(id, STATUS_SUCCESS, text); }

IPCMessage::IPCMessage(long id, long status, const std::string& text) { initialize(id, status, text); }

IPCMessage::IPCMessage(const unsigned char* bytes, unsigned int length)
{
    // All length arithmetic in 64 bits: a header or text length near 2^32 must not wrap.
    const std::uint64_t have = length;
    if (have < 8) {
        throw failure(KorrMessageTooShortException(
            NLS::format(rd(), "ZRKNV0091_MESSAGE_TOO_SHORT", std::to_string(have))));
    }
    if (std::memcmp(bytes, EYE_CATCHER, 4) != 0) {
        throw failure(KorrException(NLS::format(rd(), "ZRKNV0092_INVALID_EYE_CATCHER")));
    }
    const std::uint64_t h = readUnsigned(bytes + 4);
    if (have < h + 8) {
        throw failure(KorrMessageTooShortException(
            NLS::format(rd(), "ZRKNV0093_MESSAGE_TOO_SHORT", std::to_string(have), std::to_string(h + 8))));
    }
    std::int32_t id = h >= 4 ? readSigned(bytes + 8) : 0;
    std::int32_t status = h >= 8 ? readSigned(bytes + 12) : 0;
    // Ending inside the text-length field is too short for header plus (at least) no text.
    if (have < h + 12) {
        throw failure(KorrMessageTooShortException(
            NLS::format(rd(), "ZRKNV0094_MESSAGE_TOO_SHORT", std::to_string(have), std::to_string(h + 12))));
    }
    const std::uint64_t l = readUnsigned(bytes + 8 + h);
    if (have < h + 12 + l) {
        throw failure(KorrMessageTooShortException(
            NLS::format(rd(), "ZRKNV0094_MESSAGE_TOO_SHORT", std::to_string(have), std::to_string(h + 12 + l))));
    }
    if (l > MAX_MESSAGE_TEXT_LEN) {
        throw failure(KorrException(NLS::format(rd(), "ZRKNV0095_MESSAGE_TEXT_TOO_LONG", std::to_string(l),
                                                std::to_string(MAX_MESSAGE_TEXT_LEN))));
    }
    std::memcpy(eyeCatcher, EYE_CATCHER, 4);
    headerLength = HEADER_LENGTH;
    messageId = id;
    messageStatus = status;
    textLength = static_cast<std::uint32_t>(l);
    messageText.assign(reinterpret_cast<const char*>(bytes + 12 + h), static_cast<std::size_t>(l));
}

IPCMessage::IPCMessage(const IPCMessage& other)
    : headerLength(other.headerLength), messageId(other.messageId), messageStatus(other.messageStatus),
      textLength(other.textLength), messageText(other.messageText)
{
    std::memcpy(eyeCatcher, other.eyeCatcher, 4);
}

IPCMessage& IPCMessage::operator=(const IPCMessage& other)
{
    std::memcpy(eyeCatcher, other.eyeCatcher, 4);
    headerLength = other.headerLength;
    messageId = other.messageId;
    messageStatus = other.messageStatus;
    textLength = other.textLength;
    messageText = other.messageText;
    return *this;
}

IPCMessage::~IPCMessage() {}

void IPCMessage::initialize(long id, long status, const std::string& text)
{
    std::memcpy(eyeCatcher, EYE_CATCHER, 4);
    headerLength = HEADER_LENGTH;
    messageId = static_cast<std::int32_t>(id);
    messageStatus = static_cast<std::int32_t>(status);
    if (text.size() > MAX_MESSAGE_TEXT_LEN) {
        messageText.assign(text, 0, MAX_MESSAGE_TEXT_LEN);
        if (rd().isOn(TraceLevel::MODERATE)) {
            Trace::traceMethodData(rd(), TraceLevel::MODERATE, this, "initialize", 1, "Message truncated");
        }
    } else {
        messageText = text;
    }
    textLength = static_cast<std::uint32_t>(messageText.size());
}

unsigned char* IPCMessage::getMessageBytes(unsigned char* buffer, int* length) const
{
    std::memcpy(buffer, eyeCatcher, 4);
    unsigned char* p = writeUnsigned(buffer + 4, HEADER_LENGTH);
    p = writeUnsigned(p, static_cast<std::uint32_t>(messageId));
    p = writeUnsigned(p, static_cast<std::uint32_t>(messageStatus));
    p = writeUnsigned(p, textLength);
    std::memcpy(p, messageText.data(), textLength);
    *length = static_cast<int>(20 + textLength);
    return buffer;
}

std::ostream& operator<<(std::ostream& out, const IPCMessage& message)
{
    return out << "IPCMessage id: " << message.getMessageId() << " status: " << message.getMessageStatus()
               << " text : " << message.getMessageText();
}
