// Decodes arbitrary bytes as an IPC message and checks the outcome against an independent
// reading of the wire format: the same failure key, or the same id, status and text, and a
// re-encoding that decodes to the same message. AddressSanitizer catches any read past the input.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "IPCMessage.h"
#include "KorrException.h"

namespace {

std::uint64_t be32(const std::uint8_t* p)
{
    return (std::uint64_t(p[0]) << 24) | (std::uint64_t(p[1]) << 16) | (std::uint64_t(p[2]) << 8) | p[3];
}

// The key decoding must fail with, or "" when the bytes are a valid message.
const char* expectedFailure(const std::uint8_t* d, std::uint64_t n)
{
    if (n < 8) {
        return "ZRKNV0091";
    }
    if (std::memcmp(d, "KRRI", 4) != 0) {
        return "ZRKNV0092";
    }
    std::uint64_t h = be32(d + 4);
    if (n < h + 8) {
        return "ZRKNV0093";
    }
    if (n < h + 12 || n < h + 12 + be32(d + 8 + h)) {
        return "ZRKNV0094";
    }
    return be32(d + 8 + h) > 1024 ? "ZRKNV0095" : "";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > 0xFFFFFFFFu) {
        return 0;
    }
    const char* expected = expectedFailure(data, size);
    try {
        IPCMessage m(data, static_cast<unsigned int>(size));
        if (*expected) {
            std::abort();   // accepted what it must reject
        }
        std::uint64_t h = be32(data + 4);
        std::int32_t id = h >= 4 ? static_cast<std::int32_t>(be32(data + 8)) : 0;
        std::int32_t status = h >= 8 ? static_cast<std::int32_t>(be32(data + 12)) : 0;
        std::string text(reinterpret_cast<const char*>(data + 12 + h), static_cast<std::size_t>(be32(data + 8 + h)));
        if (m.getMessageId() != id || m.getMessageStatus() != status || m.getMessageText() != text) {
            std::abort();
        }
        unsigned char buffer[IPCMessage::MAX_MESSAGE_DATA_LEN];
        int length = 0;
        m.getMessageBytes(buffer, &length);
        IPCMessage again(buffer, static_cast<unsigned int>(length));
        if (length != static_cast<int>(20 + text.size()) || again.getMessageId() != id ||
            again.getMessageStatus() != status || again.getMessageText() != text) {
            std::abort();
        }
    } catch (const KorrException& e) {
        if (!*expected || e.getMessage().find(expected) == std::string::npos) {
            std::abort();   // rejected valid bytes, or for the wrong reason
        }
    }
    return 0;
}
