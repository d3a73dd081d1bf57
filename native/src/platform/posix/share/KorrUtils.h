// What the rest of the system needs from the operating system: environment, paths and
// directories, error texts, file permissions, groups and signals, as static operations.
// On POSIX, permissions are mode bits; see the operations below for the mapping.
#ifndef OSTARA_KORRUTILS_H
#define OSTARA_KORRUTILS_H

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

    static int mkdirs(const std::string& path, bool canRead);
    static void mkpriv(const std::string& path, bool everyoneRead, bool everyoneWrite);
    static void mkGroupVexilWrite(const std::string& path, bool everyoneWrite);
    static void mkGroupWrite(const std::string& path, const std::string& group, bool flag);
    static std::string getUID();
    static void chmod(const std::string& path, int mode);
    static void checkFilePermissions(const std::string& path);
    static bool isCurrentUserMemberOfGroup(const std::string& group);
    static bool doesCurrentUserHaveSpecialAuthority(const std::string& name);
    static void handleSignals(ProcessSignalActionHandler* handler);
    static void newProcessSession();

private:
    KorrUtils();
};

#endif
