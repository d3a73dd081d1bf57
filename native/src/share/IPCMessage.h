// One request or reply on an IPC connection (id, status, text of at most 1024 bytes) and
// its fixed big-endian wire encoding, shared with the Java side of the product.
#ifndef OSTARA_IPCMESSAGE_H
#define OSTARA_IPCMESSAGE_H

#include <cstdint>
#include <iosfwd>
#include <string>

class IPCMessage
{
public:
    static constexpr unsigned int MAX_MESSAGE_TEXT_LEN = 1024;
    // 20 header bytes plus the longest text: the largest encoded message.
    static constexpr unsigned int MAX_MESSAGE_DATA_LEN = 1044;
    static constexpr long STATUS_SUCCESS = 0;
    static constexpr long STATUS_EXCEPTION = 1;
    static constexpr long STATUS_TIMEOUT = 2;
    static constexpr long STATUS_WARNING = 3;

    IPCMessage();
    IPCMessage(long id, const std::string& text);
    IPCMessage(long id, long status, const std::string& text);
    // Decodes length bytes; never reads past them. Throws KorrMessageTooShortException or
    // KorrException when the bytes are not a well-formed message.
    IPCMessage(const unsigned char* bytes, unsigned int length);
    IPCMessage(const IPCMessage& other);
    IPCMessage& operator=(const IPCMessage& other);
    virtual ~IPCMessage();

    long getMessageId() const { return messageId; }
    long getMessageStatus() const { return messageStatus; }
    const std::string& getMessageText() const { return messageText; }

    // Encodes into buffer, which needs 20 + text length bytes (MAX_MESSAGE_DATA_LEN always
    // suffices); stores the encoded length through length and returns buffer.
    unsigned char* getMessageBytes(unsigned char* buffer, int* length) const;

private:
    void initialize(long id, long status, const std::string& text);

    char eyeCatcher[4];
    std::uint32_t headerLength;
    std::int32_t messageId;
    std::int32_t messageStatus;
    std::uint32_t textLength;
    std::string messageText;
};

std::ostream& operator<<(std::ostream& out, const IPCMessage& message);

#endif
