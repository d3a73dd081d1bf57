// Run-time binding to the queue manager's client library: loads it from the product's
// bin64 directory and passes connect and disconnect straight through to it.
#ifndef OSTARA_VANTARIFACE_H
#define OSTARA_VANTARIFACE_H

#include <cstdint>
#include <string>

class Vantariface
{
public:
    // Entry points of the library; all codes are 32-bit integers.
    typedef void (*ConnectFunction)(const char* queueManagerName, std::int32_t* connection,
                                    std::int32_t* completionCode, std::int32_t* reason);
    typedef void (*DisconnectFunction)(std::int32_t* connection, std::int32_t* completionCode,
                                       std::int32_t* reason);

    static Vantariface* newInstance();

    Vantariface();
    virtual ~Vantariface();

    // Loads the library once; throws KorrException (ZRKNV0154, 0151, 0152, 0153).
    virtual void initialize(const std::string& productRoot) = 0;
    // Unloads the library; throws KorrException (ZRKNV0158) and stays loaded on failure.
    virtual void cleanup() = 0;
    virtual void connect(const std::string& queueManagerName, long* completionCode, long* reason);
    virtual void disconnect(long* completionCode, long* reason);

protected:
    std::int32_t connection;
    ConnectFunction connectEntry;
    DisconnectFunction disconnectEntry;
};

#endif
