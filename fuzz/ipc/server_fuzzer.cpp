// Feeds arbitrary packets to a live IPC server over one connection per input. The input is
// a sequence of packets, each a 2-byte big-endian length and that many bytes (the last one
// takes what is left). Every packet must get, within a deadline, the reply the wire format
// calls for: the listener's echo for a valid request, a STATUS_EXCEPTION reply for anything
// else, and a closed connection only for an empty packet. A hang or crash is a finding.
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "IPCListener.h"
#include "IPCMessage.h"
#include "IPCServer.h"
#include "KorrException.h"

namespace {

const int REPLY_DEADLINE_MS = 5000;

class EchoListener : public IPCListener
{
public:
    IPCMessage onMessage(const IPCMessage& request) override
    {
        if (request.getMessageText().compare(0, 5, "throw") == 0) {
            throw KorrException("refused");
        }
        return IPCMessage(request.getMessageId(), IPCMessage::STATUS_SUCCESS, "echo:" + request.getMessageText());
    }
};

std::string socketPath;

void startServer()
{
    static EchoListener listener;
    char pattern[] = "/tmp/ipc-fuzz-XXXXXX";
    const char* dir = ::mkdtemp(pattern);
    if (!dir) {
        std::abort();
    }
    ::setenv("VELBRIX_IPC_DIR", dir, 1);
    socketPath = std::string(dir) + "/fuzz";
    static IPCServer* server = IPCServer::newInstance("fuzz", listener, -1);
    server->connect();
}

// What the server must answer to a packet: true with the expected reply text for a request
// that decodes and is echoed, false for one that must be answered with STATUS_EXCEPTION.
bool expectedEcho(const std::vector<std::uint8_t>& packet, std::string& text)
{
    try {
        // At most 1044 bytes are read of a longer packet; the rest is dropped.
        std::size_t n = packet.size() < IPCMessage::MAX_MESSAGE_DATA_LEN ? packet.size()
                                                                          : IPCMessage::MAX_MESSAGE_DATA_LEN;
        IPCMessage request(packet.data(), static_cast<unsigned int>(n));
        if (request.getMessageText().compare(0, 5, "throw") == 0) {
            return false;
        }
        text = ("echo:" + request.getMessageText()).substr(0, IPCMessage::MAX_MESSAGE_TEXT_LEN);
        return true;
    } catch (const KorrException&) {
        return false;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (socketPath.empty()) {
        startServer();
    }
    std::vector<std::vector<std::uint8_t>> packets;
    std::size_t at = 0;
    while (at < size && packets.size() < 32) {
        if (size - at < 2) {
            packets.emplace_back(data + at, data + size);
            break;
        }
        std::size_t announced = (std::size_t(data[at]) << 8) | data[at + 1];
        at += 2;
        std::size_t length = announced < size - at ? announced : size - at;
        packets.emplace_back(data + at, data + at + length);
        at += length;
    }

    int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        std::abort();   // the server is gone
    }
    std::vector<std::uint8_t> reply(70000);
    for (const auto& packet : packets) {
        // libFuzzer's timeout alarm interrupts system calls now and then.
        ssize_t sent;
        do {
            sent = ::send(fd, packet.data(), packet.size(), MSG_NOSIGNAL);
        } while (sent < 0 && errno == EINTR);
        if (sent != static_cast<ssize_t>(packet.size())) {
            std::abort();
        }
        pollfd ready = {fd, POLLIN, 0};
        int polled;
        do {
            polled = ::poll(&ready, 1, REPLY_DEADLINE_MS);
        } while (polled < 0 && errno == EINTR);
        if (polled != 1) {
            std::abort();   // no reply and no hang-up: the server hangs
        }
        ssize_t got;
        do {
            got = ::recv(fd, reply.data(), reply.size(), 0);
        } while (got < 0 && errno == EINTR);
        if (packet.empty()) {
            if (got != 0) {
                std::abort();
            }
            break;   // an empty packet ends the connection
        }
        if (got <= 0) {
            std::abort();   // closed on a packet that deserves a reply
        }
        IPCMessage answer(reply.data(), static_cast<unsigned int>(got));   // the server writes valid messages
        std::string text;
        if (expectedEcho(packet, text)) {
            if (answer.getMessageStatus() != IPCMessage::STATUS_SUCCESS || answer.getMessageText() != text) {
                std::abort();
            }
        } else if (answer.getMessageStatus() != IPCMessage::STATUS_EXCEPTION) {
            std::abort();
        }
    }
    ::close(fd);
    return 0;
}
