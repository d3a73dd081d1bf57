// What the rest of the system needs from Windows: environment, paths and directories, error
// texts, access lists, groups of the process token and console signals, as static operations.
// Directories that mkdirs creates are never writable by Everyone; new log files are private.
#ifndef OSTARA_KORRUTILS_H
#define OSTARA_KORRUTILS_H

#include <cstdio>
#include <ctime>
#include <string>

struct _ACL;
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
    // Separator of search paths such as PATH: ";" here.
    static std::string pathSeparator();
    static std::string getZRKProdRoot();
    static void addBinDirToPath(const std::string& root);
    static int mkdirs(const std::string& path, bool canRead);
    static void mkpriv(const std::string& path, bool everyoneRead, bool everyoneWrite);
    static void mkGroupVexilWrite(const std::string& path, bool everyoneWrite);
    static void mkGroupWrite(const std::string& path, const std::string& group, bool flag);
    static std::string getUID();
    static void chmod(const std::string& path, int mode);
    // Opens path for appending, created with a private access list (Everyone may read when
    // everyoneRead). A link or a name that is not a regular file is refused, not followed.
    // Null with errno (and refusal, when not null) set on failure.
    // Renames from to to, replacing to. False with errno set on failure.
    static bool renameFile(const std::string& from, const std::string& to);
    // Reads a whole regular file of at most READ_FILE_LIMIT bytes into content. False (errno
    // set) when it cannot be opened, is not a regular file (a FIFO or device planted at the name
    // is refused without waiting for a writer), is larger (EFBIG) or a read fails. Never traces:
    // catalogue reading, which tracing needs, uses it.
    static const long long READ_FILE_LIMIT = 16LL * 1024 * 1024;
    static bool readFile(const std::string& path, std::string& content);
    static std::FILE* openFile(const std::string& path, bool truncate, bool everyoneRead,
                               std::string* refusal = nullptr);
    static std::tm localTime(std::time_t time);
    static std::tm universalTime(std::time_t time);
    static void checkFilePermissions(const std::string& path);
    // The walk of checkFilePermissions over one access list (null: the path has none).
    static void checkAccessList(const std::string& path, _ACL* acl);
    static bool isCurrentUserMemberOfGroup(const std::string& group);
    static bool doesCurrentUserHaveSpecialAuthority(const std::string& name);
    static void handleSignals(ProcessSignalActionHandler* handler);
    static void newProcessSession();

private:
    KorrUtils();
    static void setWindowsACLs(const std::string& path, bool withVexilGroup, bool everyoneRead, bool everyoneWrite);
};

#endif
