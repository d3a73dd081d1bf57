#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "IPCListener.h"
#include "IPCMessage.h"
#include "KorrException.h"
#include "KorrMessageTooShortException.h"
#include "NLS.h"

namespace {

typedef std::vector<unsigned char> Bytes;

const char* const BUNDLE = "com.quillon.velbrix.nativ.common.ZRKNVMessages";

Bytes encode(const IPCMessage& m)
{
    Bytes out(IPCMessage::MAX_MESSAGE_DATA_LEN);
    int length = -1;
    EXPECT_EQ(m.getMessageBytes(out.data(), &length), out.data());
    out.resize(static_cast<std::size_t>(length));
    return out;
}

void put32(Bytes& b, unsigned long v)
{
    for (int shift = 24; shift >= 0; shift -= 8) {
        b.push_back(static_cast<unsigned char>(v >> shift));
    }
}

Bytes header(unsigned long h)
{
    Bytes b = {'K', 'R', 'R', 'I'};
    put32(b, h);
    return b;
}

// Decodes from a heap block of exactly the given size, so that a read past it is caught.
IPCMessage decode(const Bytes& b)
{
    std::vector<unsigned char> exact(b.begin(), b.end());
    return IPCMessage(exact.empty() ? nullptr : exact.data(), static_cast<unsigned int>(exact.size()));
}

// The message of the exception decoding fails with; tooShort tells which class is expected.
std::string failureOf(const Bytes& b, bool tooShort)
{
    try {
        decode(b);
        ADD_FAILURE() << "decoded " << b.size() << " bytes";
    } catch (const KorrMessageTooShortException& e) {
        EXPECT_TRUE(tooShort) << e.getMessage();
        return e.getMessage();
    } catch (const KorrException& e) {
        EXPECT_FALSE(tooShort) << e.getMessage();
        return e.getMessage();
    }
    return std::string();
}

} // namespace

TEST(IPCMessageTest, EncodesTheDocumentedBytesExactly)
{
    const Bytes abc = {'K', 'R', 'R', 'I', 0, 0, 0, 8, 0, 0, 0, 5, 0, 0, 0, 0, 0, 0, 0, 3, 0x61, 0x62, 0x63};
    EXPECT_EQ(encode(IPCMessage(5, IPCMessage::STATUS_SUCCESS, "abc")), abc);
    EXPECT_EQ(encode(IPCMessage(5, "abc")), abc);

    const Bytes empty = {'K', 'R', 'R', 'I', 0, 0, 0, 8, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(encode(IPCMessage()), empty);

    Bytes negative = encode(IPCMessage(-2, IPCMessage::STATUS_WARNING, ""));
    EXPECT_EQ(Bytes(negative.begin() + 8, negative.begin() + 16), Bytes({0xFF, 0xFF, 0xFF, 0xFE, 0, 0, 0, 3}));
}

TEST(IPCMessageTest, TruncatesLongTextsAndRoundTripsEveryField)
{
    IPCMessage longText(1, std::string(1500, 'x'));
    EXPECT_EQ(longText.getMessageText(), std::string(1024, 'x'));
    EXPECT_EQ(encode(longText).size(), 1044u);

    std::string binary("a\0b\xff\x80", 5);
    const IPCMessage samples[] = {IPCMessage(), IPCMessage(0, 1, binary), IPCMessage(2147483647, 2, "t"),
                                  IPCMessage(-2147483647 - 1, 3, std::string(1024, 'z'))};
    for (const IPCMessage& m : samples) {
        IPCMessage back = decode(encode(m));
        EXPECT_EQ(back.getMessageId(), m.getMessageId());
        EXPECT_EQ(back.getMessageStatus(), m.getMessageStatus());
        EXPECT_EQ(back.getMessageText(), m.getMessageText());
    }

    IPCMessage copy(samples[1]);
    IPCMessage assigned;
    assigned = copy;
    EXPECT_EQ(encode(assigned), encode(samples[1]));
}

TEST(IPCMessageTest, ReadsAnyHeaderLength)
{
    Bytes h0 = header(0);       // no id, no status: the text length follows at once
    put32(h0, 2);
    h0.push_back('h');
    h0.push_back('i');
    IPCMessage m0 = decode(h0);
    EXPECT_EQ(m0.getMessageId(), 0);
    EXPECT_EQ(m0.getMessageStatus(), 0);
    EXPECT_EQ(m0.getMessageText(), "hi");

    Bytes h6 = header(6);       // id only, then two header bytes that are skipped
    put32(h6, 77);
    h6.push_back(0xEE);
    h6.push_back(0xEE);
    put32(h6, 1);
    h6.push_back('x');
    IPCMessage m6 = decode(h6);
    EXPECT_EQ(m6.getMessageId(), 77);
    EXPECT_EQ(m6.getMessageStatus(), 0);
    EXPECT_EQ(m6.getMessageText(), "x");

    Bytes h12 = header(12);     // id and status, four skipped bytes, length at 20, text at 24
    put32(h12, 9);
    put32(h12, 3);
    put32(h12, 0xDEADBEEF);
    put32(h12, 3);
    h12.insert(h12.end(), {'a', 'b', 'c', 'J', 'U', 'N', 'K'});
    IPCMessage m12 = decode(h12);
    EXPECT_EQ(m12.getMessageId(), 9);
    EXPECT_EQ(m12.getMessageStatus(), 3);
    EXPECT_EQ(m12.getMessageText(), "abc");
    // Whatever the header length read, the message writes 8.
    EXPECT_EQ(encode(m12), encode(IPCMessage(9, 3, "abc")));
}

TEST(IPCMessageTest, RejectsMalformedInputWithItsKeyAndInserts)
{
    Bytes seven = {'K', 'R', 'R', 'I', 0, 0, 0};
    EXPECT_EQ(failureOf(seven, true), NLS::format(BUNDLE, "ZRKNV0091_MESSAGE_TOO_SHORT", "7"));
    EXPECT_EQ(failureOf(Bytes(), true), NLS::format(BUNDLE, "ZRKNV0091_MESSAGE_TOO_SHORT", "0"));

    Bytes wrongEye = encode(IPCMessage(1, "long enough"));
    wrongEye[3] = 'J';
    EXPECT_EQ(failureOf(wrongEye, false), NLS::format(BUNDLE, "ZRKNV0092_INVALID_EYE_CATCHER"));

    EXPECT_EQ(failureOf(header(8), true), NLS::format(BUNDLE, "ZRKNV0093_MESSAGE_TOO_SHORT", "8", "16"));
    Bytes hugeHeader = header(0xFFFFFFFF);
    hugeHeader.resize(40, 0);
    EXPECT_EQ(failureOf(hugeHeader, true),
              NLS::format(BUNDLE, "ZRKNV0093_MESSAGE_TOO_SHORT", "40", "4294967303"));

    // Ends inside the text-length field: too short, and nothing past the end is read.
    Bytes cut = encode(IPCMessage(1, ""));
    cut.resize(18);
    EXPECT_EQ(failureOf(cut, true), NLS::format(BUNDLE, "ZRKNV0094_MESSAGE_TOO_SHORT", "18", "20"));

    Bytes lying = header(8);
    put32(lying, 1);
    put32(lying, 0);
    put32(lying, 2000);
    Bytes partial = lying;
    partial.resize(partial.size() + 100, 'q');
    EXPECT_EQ(failureOf(partial, true), NLS::format(BUNDLE, "ZRKNV0094_MESSAGE_TOO_SHORT", "120", "2020"));
    Bytes whole = lying;
    whole.resize(whole.size() + 2000, 'q');
    EXPECT_EQ(failureOf(whole, false), NLS::format(BUNDLE, "ZRKNV0095_MESSAGE_TEXT_TOO_LONG", "2000", "1024"));

    Bytes hugeText = header(8);
    put32(hugeText, 1);
    put32(hugeText, 0);
    put32(hugeText, 0xFFFFFFFF);
    EXPECT_EQ(failureOf(hugeText, true),
              NLS::format(BUNDLE, "ZRKNV0094_MESSAGE_TOO_SHORT", "20", "4294967315"));

    Bytes wrongEyeShort = {'X', 'R', 'R', 'I', 0, 0, 0, 8};
    EXPECT_EQ(failureOf(wrongEyeShort, false), NLS::format(BUNDLE, "ZRKNV0092_INVALID_EYE_CATCHER"));
}

namespace {
class NullListener : public IPCListener
{
public:
    IPCMessage onMessage(const IPCMessage& request) override { return request; }
};
} // namespace

TEST(IPCMessageTest, StreamFormsOfMessageAndListener)
{
    std::ostringstream m;
    m << IPCMessage(-1, 3, "t x");
    EXPECT_EQ(m.str(), "IPCMessage id: -1 status: 3 text : t x");

    NullListener listener;
    std::ostringstream l;
    l << listener;
    char expected[64];
    std::snprintf(expected, sizeof expected, "IPCListener &%llx",
                  static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(&listener)));
    EXPECT_EQ(l.str(), expected);
}
