// Starts and stops the simulated queue-manager daemon for a test, in its own directory.
#ifndef OSTARA_TEST_VEXILDAEMON_H
#define OSTARA_TEST_VEXILDAEMON_H

#include <string>
#include <sys/types.h>

class VexilDaemon
{
public:
    // Every daemon of this object serves in simDir; VEXIL_SIM_DIR is set to it for the process.
    explicit VexilDaemon(const std::string& simDir);
    ~VexilDaemon();
    // Starts the daemon and waits (at most 10 s) until it serves; false if it did not.
    bool start(const std::string& name, bool refuse = false);
    void stop();
    void refuse(bool on);
    bool running() const { return pid > 0; }

private:
    std::string dir;
    pid_t pid;
    void* process = nullptr; // Windows: the daemon's process handle
    std::string served;      // Windows: the name of the last start, for refuse()
};

#endif
