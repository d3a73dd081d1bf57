#include "ServicePlatform.h"

#include <cstdio>
#include <fcntl.h>
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
