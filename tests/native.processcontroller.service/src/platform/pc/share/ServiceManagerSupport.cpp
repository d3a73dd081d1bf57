#include "ServiceManagerSupport.h"

#include <windows.h>

#include <fstream>
#include <sstream>

namespace {

// Quoted so that the C runtime's command-line splitting gives the argument back unchanged.
std::string quoted(const std::string& arg)
{
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) {
        return arg;
    }
    std::string out = "\"";
    size_t slashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++slashes;
        } else {
            out.append(c == '"' ? slashes * 2 + 1 : slashes, '\\');
            slashes = 0;
        }
        if (c != '\\') {
            out += c;
        }
    }
    out.append(slashes * 2, '\\');
    return out + "\"";
}

} // namespace

ProgramResult runProgram(const std::vector<std::string>& argv, int timeoutMs)
{
    // Output goes to a temporary file rather than a pipe: nothing to drain while waiting.
    char dir[MAX_PATH], file[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    GetTempFileNameA(dir, "opc", 0, file);
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE out = CreateFileA(file, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_TEMPORARY, nullptr);
    std::string command;
    for (const std::string& arg : argv) {
        command += (command.empty() ? "" : " ") + quoted(arg);
    }
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = out;
    startup.hStdError = out;
    PROCESS_INFORMATION info{};
    ProgramResult result = {-1, ""};
    if (out == INVALID_HANDLE_VALUE ||
        !CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &startup, &info)) {
        result.output = "cannot run " + command + ": error " + std::to_string(GetLastError());
    } else {
        CloseHandle(info.hThread);
        if (WaitForSingleObject(info.hProcess, static_cast<DWORD>(timeoutMs)) == WAIT_OBJECT_0) {
            DWORD code = 0;
            GetExitCodeProcess(info.hProcess, &code);
            result.exitCode = static_cast<int>(code);
        } else {
            TerminateProcess(info.hProcess, 1);
            WaitForSingleObject(info.hProcess, 10000);
        }
        CloseHandle(info.hProcess);
    }
    if (out != INVALID_HANDLE_VALUE) {
        CloseHandle(out);
    }
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    for (char c : text.str()) {
        if (c != '\r') {
            result.output += c;
        }
    }
    in.close();
    DeleteFileA(file);
    return result;
}

std::string windowsPath(const std::string& path)
{
    std::string out = !path.empty() && (path[0] == '/' || path[0] == '\\') && path.compare(0, 2, "//") != 0 ? "Z:" + path
                                                                                                             : path;
    for (char& c : out) {
        if (c == '/') {
            c = '\\';
        }
    }
    return out;
}

std::vector<std::string> readLines(const std::string& path)
{
    std::vector<std::string> lines;
    std::ifstream in(path, std::ios::binary);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(line);
    }
    return lines;
}

int findLine(const std::vector<std::string>& lines, const std::string& text, int from)
{
    for (int i = from; i < static_cast<int>(lines.size()); ++i) {
        if (lines[i].find(text) != std::string::npos) {
            return i;
        }
    }
    return -1;
}
