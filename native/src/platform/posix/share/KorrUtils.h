// What the rest of the system needs from the operating system: environment, paths and
// directories, error texts, file permissions, groups and signals, as static operations.
// Permissions are mode bits here: the owner gets full rights (root needs none), the group
// "vexil", when it exists, becomes the file's group with read and write, and "Everyone" is
// the other-bits; directories get execute wherever they get read.
#ifndef OSTARA_KORRUTILS_H
#define OSTARA_KORRUTILS_H

#include <cstdio>
#include <ctime>
#include <string>

class ProcessSignalActionHandler;
class WindowsGroupType;

class KorrUtils
{
public:
    static std::string getenv(const std::string& name);
    static void setenv(const std::string& name, const std::string& value);
    static std::string getLastErrorMessage();
    static std::string getLastErrorMessage(int code);
    static std::string getCwd();
    static std::string getParent(const std::string& path);
    static std::string getName(const std::string& path);
    static std::string separator();
    // Separator of search paths such as PATH: ":" here.
    static std::string pathSeparator();
    static std::string getZRKProdRoot();
    static void addBinDirToPath(const std::string& root);

    // 0 when the directory exists afterwards, else -1 (errno tells why); never throws. Only the
    // levels this call creates are protected: created 0700, then mkpriv(level, canRead, false),
    // so others may read them when canRead but never write them.
    static int mkdirs(const std::string& path, bool canRead);
    // Owner read/write (directories: rwx), no group access, others as asked. A regular
    // file keeps its owner-execute bit; set-id bits are cleared; a directory that others may
    // write is made sticky.
    static void mkpriv(const std::string& path, bool everyoneRead, bool everyoneWrite);
    // As mkpriv with others reading, plus group "vexil" read/write when that group exists and
    // this process may give the file to it (otherwise the group is left out, as the lookup
    // that finds no account leaves it out). Directories also get set-group-id, so that
    // entries created in them keep the group.
    static void mkGroupVexilWrite(const std::string& path, bool everyoneWrite);
    // As mkGroupVexilWrite, for the named group; flag lets others write. An unknown group or
    // a group this process may not give the file to throws KorrIOException.
    static void mkGroupWrite(const std::string& path, const std::string& group, bool flag);
    // The real user id in decimal.
    static std::string getUID();
    // chmod(2); failure throws KorrIOException ZRKNV0179.
    static void chmod(const std::string& path, int mode);
    // The one way the product opens a file it creates or writes: open(2) flags and, for a file
    // it creates, exactly mode. Never blocks on a planted FIFO, never follows a symbolic link
    // in a directory that another user can write nor in the last component, and refuses an
    // existing name that is not a regular file of this user (or root) with one link; see
    // SafePath. Returns a close-on-exec descriptor, or -1 with errno set and refusal (when not
    // null) set to a catalogue message naming the file and why it was refused.
    static int openSafely(const std::string& path, int flags, int mode, bool* created, std::string* refusal);
    // openSafely for appending, emptied first when truncate. A missing file is created with its
    // final mode (owner read/write, others read when everyoneRead); an existing one that grants
    // more is narrowed to that. Never traces: callers may hold a lock that trace records wait
    // for. Null with errno (and refusal, when not null) set on failure.
    // Renames from to to, replacing to, each name taken within the directory the openSafely walk
    // reaches: a link planted on the way (a log directory swapped for a link into another
    // user's directory) moves nothing there. False with errno set when refused or failed.
    static bool renameFile(const std::string& from, const std::string& to);
    // Reads a whole regular file of at most READ_FILE_LIMIT bytes into content. False (errno
    // set) when it cannot be opened, is not a regular file (a FIFO or device planted at the name
    // is refused without waiting for a writer), is larger (EFBIG) or a read fails. Never traces:
    // catalogue reading, which tracing needs, uses it.
    static const long long READ_FILE_LIMIT = 16LL * 1024 * 1024;
    static bool readFile(const std::string& path, std::string& content);
    static std::FILE* openFile(const std::string& path, bool truncate, bool everyoneRead,
                               std::string* refusal = nullptr);
    // Thread-safe conversions of a time to local and to universal calendar time.
    static std::tm localTime(std::time_t time);
    static std::tm universalTime(std::time_t time);
    // Throws FilePermissionsException ZRKNV0145 when others have any access ("Everyone"), or
    // when the file's group is "users" ("Users") or "nogroup"/"guests" ("Guests") and the
    // group bits grant anything.
    static void checkFilePermissions(const std::string& path);
    // Supplementary groups and the effective group, compared by name, case-sensitively.
    static bool isCurrentUserMemberOfGroup(const std::string& group);
    // True exactly when the effective user is root.
    static bool doesCurrentUserHaveSpecialAuthority(const std::string& name);
    // Delivers SIGINT (shutdownAction(130)), SIGTERM (shutdownAction(143)) and SIGQUIT
    // (defaultAction(3)) to handler on one dispatcher thread, never inside the signal handler.
    // A later call replaces the handler; null stops deliveries. A handler must stay alive until
    // it is replaced and any action already running has returned.
    static void handleSignals(ProcessSignalActionHandler* handler);
    // setsid() when there is no controlling terminal (a terminal keeps Ctrl-C working); a
    // process that already leads its group stays where it is.
    static void newProcessSession();

private:
    KorrUtils();
};

#endif
