// The process controller's command line: its leading options (the words that begin with "-"),
// the application program, the application's arguments, and the argument vector each start
// of the child gets. The words are borrowed from the caller and never changed.
#ifndef OSTARAPC_CONTROLLERCOMMANDLINE_H
#define OSTARAPC_CONTROLLERCOMMANDLINE_H

#include <string>
#include <vector>

class ControllerCommandLine
{
public:
    static const char* const TRACE_OPTION;   // "-Dcom.quillon.velbrix.traceSpecification="

    ControllerCommandLine(int argc, char** argv);

    // How many words before the program begin with "-"; the program's index.
    int getOptionCount() const { return optionCount; }
    bool hasProgram() const { return optionCount < argc; }
    std::string getProgram() const { return word(optionCount); }
    std::string word(int i) const { return i < argc && argv[i] ? argv[i] : ""; }

    // Reads the controller's options from every word, program arguments included; of two
    // alike the later wins, and words that are none of them are passed over.
    void scan();
    const std::string& getTraceSpecification() const { return traceSpecification; }
    bool isDirectoryGiven() const { return directoryGiven; }
    const std::string& getDirectory() const { return directory; }
    bool isAppIdGiven() const { return appIdGiven; }
    const std::string& getAppId() const { return appId; }
    bool isForeground() const { return foreground; }
    const std::string& getPropertiesPath() const { return propertiesPath; }
    const std::string& getProductRoot() const { return productRoot; }

    // The application's arguments, and every word, each joined by single blanks.
    std::string applicationArguments() const;
    std::string allArguments() const;
    // Program, trace option (when not empty), the extra options, then the application's
    // arguments less any trace option of their own. The controller's options never appear.
    std::vector<std::string> childArguments(const std::string& traceOption, const std::vector<std::string>& extra) const;

    static bool isJava(const std::string& program);
    // The program path less its last five characters before the executable name (the bin
    // directory and its separators, unexamined); empty when nothing stands before them.
    static std::string getJavaHome(const std::string& program);

private:
    std::string joined(int from) const;

    int argc;
    char** argv;
    int optionCount;
    std::string traceSpecification;
    bool directoryGiven;
    std::string directory;
    bool appIdGiven;
    std::string appId;
    bool foreground;
    std::string propertiesPath;
    std::string productRoot;
};

#endif
