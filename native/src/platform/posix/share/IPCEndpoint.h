// The socket file that stands for one IPC service name: a SOCK_SEQPACKET socket at
// <ipc dir>/NAME. <ipc dir> is $VELBRIX_IPC_DIR when set; else it belongs to the server's user,
// so that no other user can create a name in it: /run/velbrix-ipc for root (0755),
// /tmp/.velbrix-ipc-<uid> for another user (0700). A server binds its socket mode 0600; a live
// one is never taken over, a stale one (its server died) is replaced, both decided under a
// non-blocking flock on <ipc dir>/NAME.lock. A socket or lock file of another user is left
// alone and named in the error.
#ifndef OSTARA_IPCENDPOINT_H
#define OSTARA_IPCENDPOINT_H

#include <sys/types.h>

#include <string>

class IPCEndpoint
{
public:
    static const char* const ROOT_DIRECTORY;
    static const char* const USER_DIRECTORY_PREFIX;

    // Where the servers of user serverUid live.
    static std::string directory(uid_t serverUid);
    // The socket path of a service name served by serverUid; throws KorrException
    // ("ZRKNV0178_INVALID_IPC_NAME") for a name that is empty, "." or "..", holds "/" or a zero
    // byte, or makes the path too long for a socket address.
    static std::string socketPath(const std::string& serviceName, uid_t serverUid);
    // Makes this process's IPC directory when missing and checks it; 0, or an errno value with
    // reason set (naming the owner when the directory is another user's).
    static int prepareDirectory(const std::string& dir, std::string& reason);
    // "name (uid)", or the uid alone for a user without a name.
    static std::string userText(uid_t uid);
    static std::size_t maxPathLength();
    // The user at the other end of a connected socket; false when it cannot be told.
    static bool peerUid(int fd, uid_t& uid);
    // The rule of the server and the client alike: root and the server's own user may talk.
    static bool mayConnect(uid_t client, uid_t server) { return client == 0 || client == server; }

    explicit IPCEndpoint(const std::string& serviceName);
    // Removes the socket file if it is still this endpoint's, and closes the socket.
    ~IPCEndpoint();

    // Creates, binds and listens on the socket (non-blocking, close-on-exec). Returns 0, or an
    // errno value with errorMessage set to the catalogue message that explains it.
    int open(std::string& errorMessage);
    int getDescriptor() const { return fd; }
    void close();

private:
    IPCEndpoint(const IPCEndpoint&);
    IPCEndpoint& operator=(const IPCEndpoint&);

    int bindOrTakeOver(std::string& errorMessage);
    int fail(int code, std::string& errorMessage, const std::string& reason);

    std::string serviceName;
    std::string path;
    int fd;
    bool bound;
    dev_t boundDevice;
    ino_t boundInode;
};

#endif
