#include "ControllerCommandLine.h"

const char* const ControllerCommandLine::TRACE_OPTION = "-Dcom.quillon.velbrix.traceSpecification=";

namespace {

const std::string DIRECTORY_OPTION = "-directory=";
const std::string APPID_OPTION = "-appId=";
const std::string FOREGROUND_OPTION = "-F";
const std::string PROPERTIES_OPTION = "-properties=";
const std::string ROOT_OPTION = "-Dcom.quillon.velbrix.product.root=";
const char* const JAVA_SUFFIXES[] = {"java", "java.exe", "javaw", "javaw.exe"};

bool startsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool endsWith(const std::string& text, const std::string& suffix)
{
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

} // namespace

ControllerCommandLine::ControllerCommandLine(int c, char** v)
    : argc(v && c > 0 ? c : 0), argv(v), optionCount(0), directoryGiven(false), appIdGiven(false), foreground(false)
{
    while (optionCount < argc && argv[optionCount] && argv[optionCount][0] == '-') {
        ++optionCount;
    }
}

void ControllerCommandLine::scan()
{
    for (int i = 0; i < argc; ++i) {
        std::string arg = word(i);
        if (startsWith(arg, TRACE_OPTION)) {
            traceSpecification = arg;
        } else if (startsWith(arg, DIRECTORY_OPTION)) {
            directory = arg.substr(DIRECTORY_OPTION.size());
            directoryGiven = true;
        } else if (startsWith(arg, APPID_OPTION)) {
            appId = arg.substr(APPID_OPTION.size());
            appIdGiven = true;
        } else if (startsWith(arg, FOREGROUND_OPTION)) {
            foreground = true;
        } else if (startsWith(arg, PROPERTIES_OPTION)) {
            propertiesPath = arg.substr(PROPERTIES_OPTION.size());
        } else if (startsWith(arg, ROOT_OPTION)) {
            productRoot = arg.substr(ROOT_OPTION.size());
        }
    }
}

std::string ControllerCommandLine::joined(int from) const
{
    std::string text;
    for (int i = from; i < argc; ++i) {
        text += (i > from ? " " : "") + word(i);
    }
    return text;
}

std::string ControllerCommandLine::applicationArguments() const { return joined(optionCount + 1); }

std::string ControllerCommandLine::allArguments() const { return joined(0); }

std::vector<std::string> ControllerCommandLine::childArguments(const std::string& traceOption,
                                                               const std::vector<std::string>& extra) const
{
    std::vector<std::string> args;
    if (!hasProgram()) {
        return args;
    }
    args.push_back(getProgram());
    if (!traceOption.empty()) {
        args.push_back(traceOption);
    }
    args.insert(args.end(), extra.begin(), extra.end());
    // A trace option among the application's arguments was taken over above, so that one set
    // at run time wins.
    for (int i = optionCount + 1; i < argc; ++i) {
        std::string arg = word(i);
        if (!startsWith(arg, TRACE_OPTION)) {
            args.push_back(arg);
        }
    }
    return args;
}

bool ControllerCommandLine::isJava(const std::string& program)
{
    for (const char* suffix : JAVA_SUFFIXES) {
        if (endsWith(program, suffix)) {
            return true;
        }
    }
    return false;
}

std::string ControllerCommandLine::getJavaHome(const std::string& program)
{
    for (const char* suffix : JAVA_SUFFIXES) {
        if (endsWith(program, suffix)) {
            std::string::size_type p = program.size() - std::string(suffix).size();
            return p > 4 ? program.substr(0, p - 5) : std::string();
        }
    }
    return std::string();
}
