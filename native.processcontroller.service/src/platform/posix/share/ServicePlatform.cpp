#include "ServicePlatform.h"

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ChildReaper.h"
#include "KorrUtils.h"
#include "ServiceLog.h"

namespace {

int startupError = -1;   // the kept standard error, -1 when there was none

} // namespace

std::string ServicePlatform::libraryPathVariable()
{
    return "LD_LIBRARY_PATH";
}

void ServicePlatform::prepareProcess(ServiceLog* serviceLog)
{
    // Descendants of the agent that outlive it become this process's children, and are collected.
    if (!ChildReaper::start()) {
        serviceLog->log("Unable to become a child subreaper, reason: " + KorrUtils::getLastErrorMessage());
    }
}

void ServicePlatform::keepStarterError()
{
    startupError = ::fcntl(2, F_DUPFD_CLOEXEC, 3);
}

void ServicePlatform::tellStarter(const std::string& line)
{
    if (startupError < 0) {
        return;
    }
    std::string text = line + "\n";
    ssize_t ignored = ::write(startupError, text.data(), text.size());
    (void)ignored;
}

const char* ServicePlatform::usageNotes()
{
    return "Runs one process controller as a systemd service (Type=notify): SIGTERM or SIGINT (Ctrl-C)\n"
           "stop it, SIGHUP reports its status again. The program always runs in the foreground;\n"
           "-console is accepted for the same command line as on Windows and changes nothing.\n"
           "-install writes a systemd unit (VELBRIX_SYSTEMD_UNIT_DIR, default /etc/systemd/system).\n"
           "\n"
           "Files: LOG_DIRECTORY/logs holds stdout.log, stderr.log and serviceYYYYMMDD.log; the\n"
           "controller writes pcevent*.log and its trace to DIR/logs. Errors go to syslog under the\n"
           "service name (journalctl -t SERVICE_NAME).\n";
}

std::string ServicePlatform::temporaryDirectory()
{
    std::string tmp = KorrUtils::getenv("TMP");
    return tmp.empty() ? std::string("/tmp") : tmp;
}

void ServicePlatform::standardStreamsMoved()
{
    // A log file is read as it grows: write each line out at once.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
}

std::string ServicePlatform::standardErrorTail(const std::string&, std::size_t limit)
{
    // Descriptor 2 is the stderr.log this process opened (for writing only); /proc reopens
    // that same file for reading. Its name may since have been replaced by a link or a FIFO,
    // the open file cannot.
    int fd = ::open("/proc/self/fd/2", O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        return std::string();
    }
    std::string tail;
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
        std::size_t size = static_cast<std::size_t>(st.st_size);
        std::size_t length = size < limit ? size : limit;
        tail.assign(length, '\0');
        ssize_t got = ::pread(fd, &tail[0], length, static_cast<off_t>(size - length));
        tail.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    }
    ::close(fd);
    return tail;
}
