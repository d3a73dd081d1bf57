// Simulated queue-manager client library for Windows (vexil.dll): a connect succeeds while
// a vexil-qmgr daemon of that name serves its pipe and accepts; the same answers as on Linux.
#include <windows.h>

#include <cstdint>

#include "VexilSim.h"

namespace {

const std::int32_t CC_OK = 0;
const std::int32_t CC_FAILED = 2;
const std::int32_t RC_NOT_AUTHORIZED = 2035;
const std::int32_t RC_HCONN_ERROR = 2018;
const std::int32_t RC_NAME_ERROR = 2058;
const std::int32_t RC_NOT_AVAILABLE = 2059;

void result(std::int32_t* cc, std::int32_t* reason, std::int32_t c, std::int32_t r)
{
    if (cc) {
        *cc = c;
    }
    if (reason) {
        *reason = r;
    }
}

// Connections are numbered; the daemon holds no state for them.
volatile LONG nextConnection = 0;

} // namespace

extern "C" __declspec(dllexport) void TARNCONN(const char* name, std::int32_t* hconn, std::int32_t* cc,
                                               std::int32_t* reason)
{
    if (!vexilsim::validName(name) || std::string(name).find('\\') != std::string::npos) {
        result(cc, reason, CC_FAILED, RC_NAME_ERROR);
        return;
    }
    std::string pipe = vexilsim::pipeName(name);
    HANDLE h = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 50 && h == INVALID_HANDLE_VALUE; ++attempt) {
        h = CreateFileA(pipe.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE && (GetLastError() != ERROR_PIPE_BUSY || !WaitNamedPipeA(pipe.c_str(), 100))) {
            if (GetLastError() != ERROR_PIPE_BUSY && GetLastError() != ERROR_SEM_TIMEOUT) {
                break;
            }
        }
    }
    if (h == INVALID_HANDLE_VALUE) {
        result(cc, reason, CC_FAILED, RC_NOT_AVAILABLE);
        return;
    }
    char answer = 0;
    DWORD got = 0;
    BOOL ok = ReadFile(h, &answer, 1, &got, nullptr);
    CloseHandle(h);
    if (!ok || got != 1 || answer != vexilsim::ACCEPT) {
        result(cc, reason, CC_FAILED, ok && answer == vexilsim::REFUSE ? RC_NOT_AUTHORIZED : RC_NOT_AVAILABLE);
        return;
    }
    if (hconn) {
        *hconn = static_cast<std::int32_t>(InterlockedIncrement(&nextConnection)); // 0 stays "no connection"
    }
    result(cc, reason, CC_OK, 0);
}

extern "C" __declspec(dllexport) void TARNDISC(std::int32_t* hconn, std::int32_t* cc, std::int32_t* reason)
{
    if (!hconn || *hconn <= 0) {
        result(cc, reason, CC_FAILED, RC_HCONN_ERROR);
        return;
    }
    *hconn = 0;
    result(cc, reason, CC_OK, 0);
}
