#include "ServicePlatform.h"

#include <cstdio>
#include <io.h>
#include <windows.h>

#include "KorrUtils.h"

namespace {

int startupError = -1;   // the kept standard error, -1 when there was none

} // namespace

std::string ServicePlatform::libraryPathVariable()
{
    return "PATH";
}

void ServicePlatform::prepareProcess(ServiceLog*)
{
}

void ServicePlatform::keepStarterError()
{
    // A service started by the manager has no standard error: _dup fails and nothing is kept.
    if (_get_osfhandle(2) >= 0) {
        startupError = _dup(2);
    }
}

void ServicePlatform::tellStarter(const std::string& line)
{
    if (startupError < 0) {
        return;
    }
    std::string text = line + "\n";
    int ignored = _write(startupError, text.data(), static_cast<unsigned int>(text.size()));
    (void)ignored;
}

const char* ServicePlatform::usageNotes()
{
    return "Runs one process controller as a Windows service: the service control manager starts it\n"
           "(sc start NAME) and stops it (sc stop NAME); sc interrogate NAME re-reports its status.\n"
           "Run from a prompt, it needs -console as its first argument: the same service then runs in\n"
           "the foreground without the manager, and Ctrl-C or Ctrl-Break stops it. -install registers\n"
           "the service (own process, started automatically) with the command line above; -uninstall\n"
           "removes it again (stop it first).\n"
           "\n"
           "Files: LOG_DIRECTORY\\logs holds stdout.log, stderr.log and serviceYYYYMMDD.log; the\n"
           "controller writes pcevent*.log and its trace to DIR\\logs. A non-zero exit status is\n"
           "reported as an error event (id 0xC0020001) under the service name in the Application\n"
           "event log, and as the service-specific exit code (sc query NAME).\n";
}

std::string ServicePlatform::temporaryDirectory()
{
    std::string tmp = KorrUtils::getenv("TMP");
    if (tmp.empty()) {
        tmp = KorrUtils::getenv("TEMP");
    }
    if (tmp.empty()) {
        char path[MAX_PATH + 1];
        DWORD n = ::GetTempPathA(sizeof path, path);
        if (n > 0 && n < sizeof path) {
            tmp.assign(path, n);
            if (tmp.size() > 3 && (tmp.back() == '\\' || tmp.back() == '/')) {
                tmp.pop_back();
            }
        }
    }
    return tmp;
}

void ServicePlatform::standardStreamsMoved()
{
    // Whatever asks the process for its standard handles gets the files too.
    ::SetStdHandle(STD_OUTPUT_HANDLE, reinterpret_cast<HANDLE>(_get_osfhandle(1)));
    ::SetStdHandle(STD_ERROR_HANDLE, reinterpret_cast<HANDLE>(_get_osfhandle(2)));
    // A log file is read as it grows: write each line out at once (the C runtime has no line
    // buffering, so no buffering at all).
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    std::setvbuf(stderr, nullptr, _IONBF, 0);
}

std::string ServicePlatform::standardErrorTail(const std::string& logDirectory, std::size_t limit)
{
    // Read by name (Windows has no FIFO to plant there), only a file, and only its tail: the
    // application's output shares stderr.log, which may hold megabytes.
    std::string path = logDirectory + "\\stderr.log";
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return std::string();
    }
    unsigned long long size = static_cast<unsigned long long>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
    std::size_t length = size < limit ? static_cast<std::size_t>(size) : limit;
    std::string tail(length, '\0');
    std::FILE* in = std::fopen(path.c_str(), "rb");
    if (in == nullptr) {
        return std::string();
    }
    std::size_t got = _fseeki64(in, -static_cast<long long>(length), SEEK_END) == 0 && length > 0
                          ? std::fread(&tail[0], 1, length, in)
                          : 0;
    std::fclose(in);
    tail.resize(got);
    return tail;
}
