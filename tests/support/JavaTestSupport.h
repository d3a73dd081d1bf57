// Runs the real JVM for the tests of the Java bindings and the Java sample agent: the harness
// classes of tests/java with -Xcheck:jni, the staged ostara.jar and the staged libostara,
// output in files of the test's directory. Every wait has a deadline.
#ifndef OSTARA_TEST_JAVATESTSUPPORT_H
#define OSTARA_TEST_JAVATESTSUPPORT_H

#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "IPCMessage.h"
#include "TempDir.h"
#include "TestChild.h"

extern char** environ;

// Sanitizer runtimes must come first in a JVM that loads an instrumented libostara.
extern "C" void __asan_init() __attribute__((weak));
extern "C" void __tsan_init() __attribute__((weak));

namespace javatest {

inline std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A program started with extra environment entries, its standard output and error in files.
class Program
{
public:
    Program(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv, const std::string& outPath,
            const std::string& errPath)
        : outFile(outPath), errFile(errPath)
    {
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) {
            std::string entry(*e);
            bool replaced = false;
            for (const std::string& extra : extraEnv) {
                replaced = replaced || entry.compare(0, extra.find('=') + 1, extra, 0, extra.find('=') + 1) == 0;
            }
            if (!replaced && entry.compare(0, 18, "OSTARA_TEST_CHILD=") != 0) {
                env.push_back(entry);
            }
        }
        env.insert(env.end(), extraEnv.begin(), extraEnv.end());
        std::vector<char*> envp;
        for (std::string& s : env) {
            envp.push_back(&s[0]);
        }
        envp.push_back(nullptr);
        std::vector<std::string> args = argv;
        std::vector<char*> argp;
        for (std::string& s : args) {
            argp.push_back(&s[0]);
        }
        argp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int rc = posix_spawn(&pid, argp[0], &actions, nullptr, argp.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0) {
            pid = -1;
            ADD_FAILURE() << "cannot start " << argv[0] << ": " << std::strerror(rc);
        }
    }
    ~Program()
    {
        if (pid > 0 && exitCode == NOT_ENDED) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    bool waitForOutput(const std::string& text, int deadlineMs)
    {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(deadlineMs);
        while (out().find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() > end || wait(0) != NOT_ENDED) {
                return out().find(text) != std::string::npos;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }
    // The exit code (128 + N after signal N), or NOT_ENDED when the deadline passed first.
    int wait(int deadlineMs)
    {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(deadlineMs);
        while (pid > 0 && exitCode == NOT_ENDED) {
            int status = 0;
            if (::waitpid(pid, &status, WNOHANG) == pid) {
                exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            } else if (std::chrono::steady_clock::now() > end) {
                break;
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
        return exitCode;
    }
    std::string out() const { return readFile(outFile); }
    std::string err() const { return readFile(errFile); }

    static constexpr int NOT_ENDED = -1;
    pid_t pid = -1;

private:
    std::string outFile;
    std::string errFile;
    int exitCode = NOT_ENDED;
};

// The shared object that defines symbol, for LD_PRELOAD.
inline std::string libraryOf(void* symbol)
{
    Dl_info info;
    return symbol && dladdr(symbol, &info) && info.dli_fname ? info.dli_fname : "";
}

// What a JVM that loads an instrumented libostara needs in a sanitizer build: the sanitizer
// runtime first, told to leave the JVM's own signals alone. Nothing in other builds.
inline std::vector<std::string> sanitizerEnvironment()
{
    std::vector<std::string> env;
    std::string asan = libraryOf(reinterpret_cast<void*>(&__asan_init));
    std::string tsan = libraryOf(reinterpret_cast<void*>(&__tsan_init));
    // libstdc++ too: a runtime finds the exception machinery it wraps only when the library
    // is there as it starts, and the java launcher does not load it.
    if (!asan.empty()) {
        env.push_back("LD_PRELOAD=" + asan + " libstdc++.so.6");
        env.push_back("ASAN_OPTIONS=detect_leaks=0:handle_segv=0:handle_sigbus=0:handle_sigfpe=0:"
                      "allow_user_segv_handler=1:use_sigaltstack=0:abort_on_error=1");
    } else if (!tsan.empty()) {
        // The JVM's own code is not instrumented, so the synchronisation it does for us
        // (a Java lock between two native threads) is invisible: only our code is judged.
        env.push_back("LD_PRELOAD=" + tsan + " libstdc++.so.6");
        const char* inherited = std::getenv("TSAN_OPTIONS");
        env.push_back(std::string("TSAN_OPTIONS=") + (inherited ? inherited : "") +
                      ":ignore_noninstrumented_modules=1:report_signal_unsafe=0");
    }
    return env;
}

// The environment of a JVM: its own IPC directory, the staged product root, the sanitizer.
inline std::vector<std::string> jvmEnvironment(const TempDir& dir)
{
    std::vector<std::string> env = {"VELBRIX_IPC_DIR=" + dir.path(), std::string("ZRK_PROD=") + OSTARA_PRODUCT_ROOT};
    std::vector<std::string> sanitizer = sanitizerEnvironment();
    env.insert(env.end(), sanitizer.begin(), sanitizer.end());
    return env;
}

// java with -Xcheck:jni, the product's and the harness's classes and the staged library.
inline std::vector<std::string> javaCommand(const std::vector<std::string>& mainAndArgs)
{
    std::vector<std::string> argv = {OSTARA_JAVA_EXECUTABLE, "-Xcheck:jni", "-XX:+UseSerialGC", "-Xmx128m",
                                     "-XX:TieredStopAtLevel=1",
                                     std::string("-Djava.library.path=") + OSTARA_STAGE_DIR + "/java/lib64",
                                     "-cp", std::string(OSTARA_JAVA_LIB_JAR_DIR) + "/ostara.jar:" + OSTARA_JAVA_TEST_JAR};
    argv.insert(argv.end(), mainAndArgs.begin(), mainAndArgs.end());
    return argv;
}

// The lines in which -Xcheck:jni complains or the JVM reports a crash; empty when none.
inline std::string jvmComplaints(const std::string& text)
{
    std::istringstream lines(text);
    std::string line;
    std::string found;
    while (std::getline(lines, line)) {
        if (line.find("WARNING") != std::string::npos || line.find("FATAL ERROR") != std::string::npos ||
            line.find("hs_err") != std::string::npos || line.find("ERROR: AddressSanitizer") != std::string::npos) {
            found += line + "\n";
        }
    }
    return found;
}

// A JVM running one case of the harness in dir.
inline Program* startHarness(const TempDir& dir, const std::vector<std::string>& caseAndArgs)
{
    std::vector<std::string> args = {"com.quillon.velbrix.test.JniHarness", caseAndArgs[0], dir.path()};
    args.insert(args.end(), caseAndArgs.begin() + 1, caseAndArgs.end());
    return new Program(javaCommand(args), jvmEnvironment(dir), dir.file("jvm.out"), dir.file("jvm.err"));
}

// Runs a harness case to its end and checks what every case must show: exit code 0, its
// PASS line, and not one complaint of -Xcheck:jni.
inline void runHarnessCase(const TempDir& dir, const std::vector<std::string>& caseAndArgs, int deadlineMs = 120000)
{
    std::unique_ptr<Program> jvm(startHarness(dir, caseAndArgs));
    int code = jvm->wait(deadlineMs);
    std::string out = jvm->out();
    std::string err = jvm->err();
    EXPECT_EQ(0, code) << "stdout:\n" << out << "\nstderr:\n" << err;
    EXPECT_NE(std::string::npos, out.find("PASS " + caseAndArgs[0])) << out << err;
    EXPECT_EQ("", jvmComplaints(out + err));
}

// Sends one packet longer than any message to the endpoint at path; the server's reader
// thread reports it as an event (ZRKNV0085) and serves the message in its first bytes.
inline void sendOversizedPacket(const std::string& path)
{
    int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    sockaddr_un a = {};
    a.sun_family = AF_UNIX;
    std::snprintf(a.sun_path, sizeof a.sun_path, "%s", path.c_str());
    ASSERT_EQ(0, ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a));
    std::vector<unsigned char> packet(3000, 'x');
    int length = 0;
    IPCMessage(1, IPCMessage::STATUS_SUCCESS, "GETA").getMessageBytes(packet.data(), &length);
    ASSERT_EQ(static_cast<ssize_t>(packet.size()), ::send(fd, packet.data(), packet.size(), MSG_NOSIGNAL));
    char reply[2048];
    EXPECT_GT(::recv(fd, reply, sizeof reply, 0), 0);
    ::close(fd);
}

} // namespace javatest

#endif
