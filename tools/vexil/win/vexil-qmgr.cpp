// Simulated queue-manager daemon for Windows: serves the pipe of NAME in $VEXIL_SIM_DIR until
// it is ended, answering each connection with accept, or refuse (--refuse, or while
// <dir>\NAME.refuse exists). Prints "ready" on stdout once it serves.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "VexilSim.h"

int main(int argc, char** argv)
{
    const char* name = nullptr;
    bool refusing = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--refuse") == 0) {
            refusing = true;
        } else if (!name && argv[i][0] != '-') {
            name = argv[i];
        } else {
            std::fprintf(stderr, "Usage: vexil-qmgr NAME [--refuse]\n");
            return 2;
        }
    }
    if (!vexilsim::validName(name)) {
        std::fprintf(stderr, "vexil-qmgr: a queue manager name is required\n");
        return 2;
    }
    CreateDirectoryA(vexilsim::directory().c_str(), nullptr);
    std::string pipe = vexilsim::pipeName(name);
    std::string flag = vexilsim::refuseFlagPath(name);
    bool announced = false;
    for (;;) {
        HANDLE h = CreateNamedPipeA(pipe.c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE | PIPE_WAIT,
                                    PIPE_UNLIMITED_INSTANCES, 16, 16, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            std::fprintf(stderr, "vexil-qmgr: cannot serve %s: %lu\n", pipe.c_str(), GetLastError());
            return 1;
        }
        if (!announced) {
            std::printf("ready %s\n", pipe.c_str());
            std::fflush(stdout);
            announced = true;
        }
        if (ConnectNamedPipe(h, nullptr) || GetLastError() == ERROR_PIPE_CONNECTED) {
            bool refuse = refusing || GetFileAttributesA(flag.c_str()) != INVALID_FILE_ATTRIBUTES;
            char answer = refuse ? vexilsim::REFUSE : vexilsim::ACCEPT;
            DWORD done = 0;
            WriteFile(h, &answer, 1, &done, nullptr);
            FlushFileBuffers(h);
            DisconnectNamedPipe(h);
        }
        CloseHandle(h);
    }
}
