#include <dirent.h>
#include <fcntl.h>
#include <malloc.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <future>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "CollectingListener.h"

#include "KorrException.h"
#include "KorrProcessImpl.h"
#include "KorrUtils.h"
#include "ProcessStreamReaderListener.h"
#include "TempDir.h"
#include "TestChild.h"

namespace {

// Deterministic bytes that include NUL and every other value.
char patternByte(size_t i, unsigned seed) { return static_cast<char>((i * 2654435761u + seed) >> 11); }

std::string pattern(size_t length, unsigned seed)
{
    std::string s(length, '\0');
    for (size_t i = 0; i < length; ++i) {
        s[i] = patternByte(i, seed);
    }
    return s;
}

bool writeAll(int fd, const std::string& data)
{
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

std::string readLine(int fd)
{
    std::string line;
    char c;
    while (read(fd, &c, 1) == 1 && c != '\n') {
        line += c;
    }
    return line;
}

} // namespace

// argv: <stdout text> <stderr text> <exit code>
OSTARA_TEST_CHILD_ROLE(emit)
{
    if (argc < 4) {
        return 100;
    }
    writeAll(1, argv[1]);
    writeAll(2, argv[2]);
    return std::atoi(argv[3]);
}

// argv: <stdout bytes> <stderr bytes> <exit code>; each stream in one write, then exits at once.
OSTARA_TEST_CHILD_ROLE(flood)
{
    std::string out = pattern(std::strtoul(argv[1], nullptr, 10), 1);
    std::string err = pattern(std::strtoul(argv[2], nullptr, 10), 2);
    std::thread other([&] { writeAll(2, err); });
    writeAll(1, out);
    other.join();
    return std::atoi(argv[3]);
}

// Prints each open descriptor as "<n>:<fifo|other>".
OSTARA_TEST_CHILD_ROLE(listfds)
{
    DIR* dir = opendir("/proc/self/fd");
    std::string text;
    while (dirent* entry = readdir(dir)) {
        int fd = std::atoi(entry->d_name);
        if (entry->d_name[0] == '.' || fd == dirfd(dir)) {
            continue;
        }
        struct stat st;
        fstat(fd, &st);
        text += std::to_string(fd) + (S_ISFIFO(st.st_mode) ? ":fifo " : ":other ");
    }
    closedir(dir);
    writeAll(1, text);
    return 0;
}

// Prints the working directory, $OSTARA_PROBE and each argument on a line of its own.
OSTARA_TEST_CHILD_ROLE(describe)
{
    std::string text = KorrUtils::getCwd() + "\n" + KorrUtils::getenv("OSTARA_PROBE") + "\n";
    for (int i = 1; i < argc; ++i) {
        text += std::string("[") + argv[i] + "]\n";
    }
    writeAll(1, text);
    return argc - 1;
}

// Prints the SigIgn and SigBlk masks from /proc/self/status.
OSTARA_TEST_CHILD_ROLE(signals)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    std::string text;
    while (std::getline(status, line)) {
        if (line.rfind("SigIgn:", 0) == 0 || line.rfind("SigBlk:", 0) == 0) {
            text += line.substr(0, 6) + " " + line.substr(7) + "\n";
        }
    }
    writeAll(1, text);
    return 0;
}

// Echoes one line of input and exits with the code given as argv[1]; blocks until then.
OSTARA_TEST_CHILD_ROLE(echoline)
{
    std::string line = readLine(0);
    writeAll(1, "got " + line + "\n");
    return std::atoi(argv[1]);
}

// Writes numbered lines 0..argv[1]-1, pausing now and then.
OSTARA_TEST_CHILD_ROLE(counter)
{
    int count = std::atoi(argv[1]);
    for (int i = 0; i < count; ++i) {
        char line[16];
        int n = std::snprintf(line, sizeof line, "%06d\n", i);
        writeAll(1, std::string(line, static_cast<size_t>(n)));
        if (i % 20 == 0) {
            usleep(200);
        }
    }
    return 0;
}

// Leaves a grandchild holding the output pipes, reports its pid, then waits for input.
OSTARA_TEST_CHILD_ROLE(grandparent)
{
    pid_t grandchild = fork();
    if (grandchild == 0) {
        sleep(60);
        _exit(0);
    }
    writeAll(1, std::to_string(grandchild) + "\n");
    readLine(0);
    return 0;
}

// Leaves a grandchild holding both pipes, says its pid, and exits 3 at once.
OSTARA_TEST_CHILD_ROLE(orphaner)
{
    pid_t grandchild = fork();
    if (grandchild == 0) {
        sleep(60);
        _exit(0);
    }
    writeAll(1, std::to_string(grandchild) + "\n");
    return 3;
}

// argv[1] "note": says "term" on SIGTERM and exits 9; "ignore": ignores SIGTERM. Runs until ended.
OSTARA_TEST_CHILD_ROLE(terminated)
{
    if (std::string(argv[1]) == "note") {
        signal(SIGTERM, [](int) {
            ssize_t ignored = write(1, "term\n", 5);   // only async-signal-safe calls here
            (void)ignored;
            _exit(9);
        });
    } else {
        signal(SIGTERM, SIG_IGN);
    }
    writeAll(1, "ready\n");
    for (;;) {
        pause();
    }
}

// Runs the "emit" role with this process's standard streams closed, so that the pipes
// take the lowest descriptors; 0 when the output came back right.
OSTARA_TEST_CHILD_ROLE(nostreams)
{
    class Keep : public ProcessStreamReaderListener
    {
    public:
        void onData(std::string& data) override { text += data; }
        std::string text;
    };
    close(0);
    close(1);
    close(2);
    setenv("OSTARA_TEST_CHILD", "emit", 1);
    std::string self = TestChild::selfPath();
    char* argvChild[] = {&self[0], const_cast<char*>("to out"), const_cast<char*>("to err"),
                         const_cast<char*>("5"), nullptr};
    try {
        KorrProcessImpl process(4, argvChild);
        Keep out;
        Keep err;
        process.registerOutputStreamListener(out);
        process.registerErrorStreamListener(err);
        process.start();
        int code = process.waitForProcess();
        return (code == 5 && out.text == "to out" && err.text == "to err") ? 0 : 1;
    } catch (const KorrException&) {
        return 2;
    }
}

namespace {

using Clock = std::chrono::steady_clock;

template <class P> bool within(int seconds, P predicate)
{
    auto deadline = Clock::now() + std::chrono::seconds(seconds);
    while (Clock::now() < deadline) {
        if (predicate()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return predicate();
}

// Runs `work` on a thread of its own; true when it finished within the deadline. A hung
// call aborts the test program, as nothing else could end it.
template <class F> bool finishesWithin(int seconds, F work)
{
    auto done = std::make_shared<std::promise<void>>();
    std::thread runner([done, work]() mutable {
        work();
        done->set_value();
    });
    if (done->get_future().wait_for(std::chrono::seconds(seconds)) != std::future_status::ready) {
        std::fprintf(stderr, "operation did not finish within %d s\n", seconds);
        std::abort();
    }
    runner.join();
    return true;
}

int openDescriptors()
{
    int count = 0;
    DIR* dir = opendir("/proc/self/fd");
    while (readdir(dir)) {
        ++count;
    }
    closedir(dir);
    return count;
}

// True while the process exists and is not a zombie.
bool runs(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::string::size_type end = text.rfind(')');
    return end != std::string::npos && end + 2 < text.size() && text[end + 2] != 'Z';
}

bool noChildLeft()
{
    int status;
    return waitpid(-1, &status, WNOHANG) == -1 && errno == ECHILD;
}

int descriptor(void* handle) { return static_cast<int>(reinterpret_cast<intptr_t>(handle)); }

// A process running one of this binary's roles.
std::unique_ptr<KorrProcessImpl> role(const std::string& name, std::vector<std::string> args = {},
                                      const std::string& directory = std::string())
{
    setenv("OSTARA_TEST_CHILD", name.c_str(), 1);
    args.insert(args.begin(), TestChild::selfPath());
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(&a[0]);
    }
    argv.push_back(nullptr);
    return std::unique_ptr<KorrProcessImpl>(new KorrProcessImpl(static_cast<int>(args.size()), argv.data(), directory));
}

std::string failureOf(const std::vector<std::string>& command, const std::string& directory = std::string())
{
    std::vector<std::string> copy(command);
    std::vector<char*> argv;
    for (std::string& a : copy) {
        argv.push_back(&a[0]);
    }
    KorrProcessImpl process(static_cast<int>(argv.size()), argv.data(), directory);
    CollectingListener out;
    process.registerOutputStreamListener(out);
    try {
        process.start();
    } catch (const KorrException& e) {
        EXPECT_EQ(process.getProcessId(), 0u);
        EXPECT_EQ(process.getExitCode(), 0);
        return e.getMessage();
    }
    ADD_FAILURE() << "start() succeeded for " << command[0];
    process.waitForProcess();
    return std::string();
}

} // namespace

TEST(KorrProcessImplTest, UnrunnableProgramFailsStartAtOnceWithTheReasonAndLeavesNothing)
{
    TempDir dir;
    std::string plain = dir.write("plain", "#!/bin/sh\nexit 0\n"); // not executable
    std::string junk = dir.write("junk", "not a program\n");
    chmod(junk.c_str(), 0755);
    int before = openDescriptors();

    std::string missing = failureOf({dir.file("missing"), "-x"});
    EXPECT_NE(missing.find("ZRKNV0007"), std::string::npos) << missing;
    EXPECT_NE(missing.find(dir.file("missing")), std::string::npos) << missing;
    EXPECT_NE(missing.find("-x"), std::string::npos) << missing;
    EXPECT_NE(missing.find("No such file or directory"), std::string::npos) << missing;

    EXPECT_NE(failureOf({plain}).find("Permission denied"), std::string::npos);
    EXPECT_NE(failureOf({dir.path()}).find("Permission denied"), std::string::npos);
    EXPECT_NE(failureOf({junk}).find("Exec format error"), std::string::npos);
    EXPECT_NE(failureOf({"ostara-no-such-program-on-path"}).find("No such file or directory"), std::string::npos);
    std::string badDirectory = failureOf({"/bin/true"}, dir.file("gone"));
    EXPECT_NE(badDirectory.find("No such file or directory"), std::string::npos) << badDirectory;

    EXPECT_EQ(openDescriptors(), before);
    EXPECT_TRUE(noChildLeft());
}

TEST(KorrProcessImplTest, ChildInheritsOnlyItsThreeStandardStreams)
{
    int stray = open("/dev/null", O_RDONLY); // deliberately inheritable
    ASSERT_GE(stray, 0);
    auto process = role("listfds");
    CollectingListener out;
    process->registerOutputStreamListener(out);
    process->start();
    EXPECT_EQ(process->waitForProcess(), 0);
    EXPECT_EQ(out.received(), "0:fifo 1:fifo 2:fifo ");
    close(stray);
}

TEST(KorrProcessImplTest, PassesArgumentsUnchangedInTheWorkingDirectoryWithTheChangedEnvironment)
{
    TempDir dir;
    KorrUtils::setenv("OSTARA_PROBE", "set by the parent");
    auto process = role("describe", {"two words", "", "say \"hi\"", "C:\\dir\\x", "a:b"}, dir.path());
    CollectingListener out;
    process->registerOutputStreamListener(out);
    process->start();
    EXPECT_EQ(process->waitForProcess(), 5);
    char real[4096];
    ASSERT_NE(realpath(dir.path().c_str(), real), nullptr);
    EXPECT_EQ(out.received(), std::string(real) +
                                  "\nset by the parent\n[two words]\n[]\n[say \"hi\"]\n[C:\\dir\\x]\n[a:b]\n");
    unsetenv("OSTARA_PROBE");
}

TEST(KorrProcessImplTest, FindsABareProgramNameOnThePath)
{
    std::string self = TestChild::selfPath();
    std::string oldPath = KorrUtils::getenv("PATH");
    KorrUtils::setenv("PATH", "/nonexistent:" + KorrUtils::getParent(self) + ":" + oldPath);
    setenv("OSTARA_TEST_CHILD", "emit", 1);
    std::string name = KorrUtils::getName(self);
    char* argv[] = {&name[0], const_cast<char*>("found"), const_cast<char*>(""), const_cast<char*>("0")};
    KorrProcessImpl process(4, argv);
    CollectingListener out;
    process.registerOutputStreamListener(out);
    process.start();
    KorrUtils::setenv("PATH", oldPath);
    EXPECT_EQ(process.waitForProcess(), 0);
    EXPECT_EQ(out.received(), "found");
}

TEST(KorrProcessImplTest, ChildStartsWithDefaultSignalsAndAnEmptyMaskWhateverTheParentHas)
{
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    struct sigaction oldTerm;
    struct sigaction oldPipe;
    sigaction(SIGTERM, &ignore, &oldTerm);
    sigaction(SIGPIPE, &ignore, &oldPipe);
    sigset_t block;
    sigset_t oldMask;
    sigemptyset(&block);
    sigaddset(&block, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &block, &oldMask);

    auto process = role("signals");
    CollectingListener out;
    process->registerOutputStreamListener(out);
    process->start();
    pthread_sigmask(SIG_SETMASK, &oldMask, nullptr);
    sigaction(SIGTERM, &oldTerm, nullptr);
    sigaction(SIGPIPE, &oldPipe, nullptr);
    EXPECT_EQ(process->waitForProcess(), 0);

    unsigned long long ignored = 0;
    unsigned long long blocked = 0;
    std::istringstream lines(out.received());
    std::string key;
    std::string hex;
    while (lines >> key >> hex) {
        (key == "SigIgn" ? ignored : blocked) = std::stoull(hex, nullptr, 16);
    }
    EXPECT_EQ(ignored & (1ull << (SIGTERM - 1)), 0u) << out.received();
    EXPECT_EQ(ignored & (1ull << (SIGPIPE - 1)), 0u) << out.received();
    EXPECT_EQ(blocked & (1ull << (SIGUSR1 - 1)), 0u) << out.received();
}

TEST(KorrProcessImplTest, WaitReturnsAfterEveryByteOfBothStreamsInOrder)
{
    const size_t outBytes = 4 * 1024 * 1024 + 17; // far more than a pipe holds
    const size_t errBytes = 3 * 1024 * 1024 + 5;
    auto process = role("flood", {std::to_string(outBytes), std::to_string(errBytes), "7"});
    CollectingListener out;
    CollectingListener err;
    process->registerOutputStreamListener(out); // one reader before start, one after
    process->start();
    process->registerErrorStreamListener(err);
    EXPECT_EQ(process->waitForProcess(), 7);
    // No sleep, no retry: everything must be there when the wait returns.
    EXPECT_TRUE(out.received() == pattern(outBytes, 1)) << "stdout: " << out.received().size() << " bytes";
    EXPECT_TRUE(err.received() == pattern(errBytes, 2)) << "stderr: " << err.received().size() << " bytes";
}

TEST(KorrProcessImplTest, LargeWriteArrivesInSeveralChunksAndSilenceCausesNoCall)
{
    auto loud = role("flood", {"100000", "0", "0"});
    CollectingListener out;
    CollectingListener err;
    loud->registerOutputStreamListener(out);
    loud->registerErrorStreamListener(err);
    loud->start();
    EXPECT_EQ(loud->waitForProcess(), 0);
    EXPECT_GE(out.chunks(), 2);
    EXPECT_TRUE(out.received() == pattern(100000, 1));
    EXPECT_EQ(err.chunks(), 0);

    auto silent = role("emit", {"", "", "0"});
    CollectingListener quiet;
    silent->registerOutputStreamListener(quiet);
    silent->start();
    EXPECT_EQ(silent->waitForProcess(), 0);
    EXPECT_EQ(quiet.chunks(), 0);
}

TEST(KorrProcessImplTest, ExitCodeIsStillActiveWhileRunningThenTheChildsCode)
{
    auto process = role("echoline", {"42"});
    EXPECT_EQ(process->getExitCode(), 0); // nothing to read before start
    CollectingListener out;
    process->registerOutputStreamListener(out);
    process->start();
    EXPECT_GT(process->getProcessId(), 0u);
    EXPECT_NE(process->getProcessId(), KorrProcess::getCurrentProcessId());
    EXPECT_EQ(process->getExitCode(), KorrProcess::STILL_ACTIVE);
    ASSERT_TRUE(writeAll(descriptor(process->getInputStream()), "hello\n"));
    EXPECT_EQ(process->waitForProcess(), 42);
    EXPECT_EQ(process->getExitCode(), 42);
    EXPECT_EQ(out.received(), "got hello\n");
}

TEST(KorrProcessImplTest, SignalNReads128PlusNButStopReadsZero)
{
    auto terminated = role("echoline", {"1"});
    terminated->start();
    ASSERT_EQ(kill(static_cast<pid_t>(terminated->getProcessId()), SIGTERM), 0);
    EXPECT_EQ(terminated->waitForProcess(), 128 + SIGTERM);

    auto killed = role("echoline", {"1"});
    killed->start();
    ASSERT_EQ(kill(static_cast<pid_t>(killed->getProcessId()), SIGKILL), 0); // not through stop()
    EXPECT_EQ(killed->waitForProcess(), 128 + SIGKILL);

    auto stopped = role("echoline", {"1"});
    stopped->start();
    stopped->stop();
    EXPECT_EQ(stopped->getExitCode(), 0);
    EXPECT_EQ(stopped->waitForProcess(), 0);
    stopped->stop(); // a second stop finds nothing to end
    EXPECT_EQ(stopped->getExitCode(), 0);
}

TEST(KorrProcessImplTest, StopFromAnotherThreadEndsTheWaitEvenWhenAGrandchildHoldsThePipes)
{
    auto process = role("grandparent");
    CollectingListener out;
    CollectingListener err;
    process->registerOutputStreamListener(out);
    process->registerErrorStreamListener(err);
    process->start();
    ASSERT_TRUE(within(10, [&] { return out.received().find('\n') != std::string::npos; }));
    pid_t grandchild = static_cast<pid_t>(std::stol(out.received()));

    int code = -1;
    std::thread owner([&] { code = process->waitForProcess(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    finishesWithin(10, [&] { process->stop(); });
    finishesWithin(10, [&] { owner.join(); });
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(within(10, [&] { return !runs(grandchild); })) << "a forced stop leaves the child's group running";
    kill(grandchild, SIGKILL);
}

TEST(KorrProcessImplTest, TheChildsEndIsNoticedWhileAGrandchildHoldsItsPipes)
{
    auto process = role("orphaner");
    CollectingListener out;
    process->registerOutputStreamListener(out);
    process->start();
    int code = -1;
    finishesWithin(10, [&] { code = process->waitForProcess(); });
    EXPECT_EQ(code, 3);
    EXPECT_NE(out.received().find('\n'), std::string::npos);   // what it wrote still arrives
    kill(static_cast<pid_t>(std::stol(out.received())), SIGKILL);
}

TEST(KorrProcessImplTest, StopSendsSigtermFirstAndSigkillAfterTheGracePeriod)
{
    for (const char* mode : {"note", "ignore"}) {
        auto process = role("terminated", {mode});
        process->setStopGracePeriod(300);
        CollectingListener out;
        process->registerOutputStreamListener(out);
        process->start();
        ASSERT_TRUE(within(10, [&] { return out.received() == "ready\n"; })) << mode;
        auto before = Clock::now();
        finishesWithin(10, [&] { process->stop(); });
        EXPECT_EQ(process->waitForProcess(), 0) << mode;
        if (std::string(mode) == "note") {
            EXPECT_EQ(out.received(), "ready\nterm\n");
        } else {
            EXPECT_GE(Clock::now() - before, std::chrono::milliseconds(250));
        }
    }
}

TEST(KorrProcessImplTest, ReplacingTheReaderWhileTheChildWritesLosesAndRepeatsNothing)
{
    const int lines = 20000;
    auto process = role("counter", {std::to_string(lines)});
    std::vector<std::unique_ptr<CollectingListener>> readers;
    readers.emplace_back(new CollectingListener);
    process->registerOutputStreamListener(*readers.back());
    process->start();
    std::vector<std::string> atReplacement;
    for (int i = 0; i < 15; ++i) {
        CollectingListener* previous = readers.back().get();
        within(5, [&] { return !previous->received().empty(); });
        readers.emplace_back(new CollectingListener);
        process->registerOutputStreamListener(*readers.back());
        atReplacement.push_back(previous->received()); // the old reader has stopped by now
    }
    int running = process->getExitCode(); // the replacements left no lock behind
    EXPECT_TRUE(running == KorrProcess::STILL_ACTIVE || running == 0) << running;
    EXPECT_EQ(process->waitForProcess(), 0);

    std::string expected;
    for (int i = 0; i < lines; ++i) {
        char line[16];
        std::snprintf(line, sizeof line, "%06d\n", i);
        expected += line;
    }
    std::string joined;
    for (size_t i = 0; i < readers.size(); ++i) {
        if (i < atReplacement.size()) {
            EXPECT_EQ(readers[i]->received(), atReplacement[i]) << "reader " << i << " read after it was replaced";
        }
        joined += readers[i]->received();
    }
    EXPECT_TRUE(joined == expected) << joined.size() << " of " << expected.size() << " bytes";
}

TEST(KorrProcessImplTest, DestroyingWhileReadersBlockNeitherHangsNorLeaks)
{
    int before = openDescriptors();
    auto process = role("echoline", {"3"});
    CollectingListener out;
    CollectingListener err;
    process->registerOutputStreamListener(out);
    process->registerErrorStreamListener(err);
    process->start();
    pid_t child = static_cast<pid_t>(process->getProcessId());
    std::this_thread::sleep_for(std::chrono::milliseconds(50)); // both readers now wait in poll
    finishesWithin(10, [&] { process.reset(); });
    EXPECT_EQ(openDescriptors(), before);

    // The child's input has reached its end, so it finishes by itself (its reply then meets
    // a closed pipe).
    int status = 0;
    EXPECT_TRUE(within(10, [&] { return waitpid(child, &status, WNOHANG) == child; }));
    EXPECT_EQ(out.received(), "");
}

TEST(KorrProcessImplTest, StartsRightWhenThisProcessHasNoStandardStreams)
{
    auto process = role("nostreams");
    process->start();
    EXPECT_EQ(process->waitForProcess(), 0);
}

TEST(KorrProcessImplTest, ASecondStartIsRefused)
{
    auto process = role("emit", {"", "", "0"});
    process->start();
    try {
        process->start();
        ADD_FAILURE() << "second start accepted";
    } catch (const KorrException& e) {
        EXPECT_NE(e.getMessage().find("ZRKNV0007"), std::string::npos);
    }
    EXPECT_EQ(process->waitForProcess(), 0);
}

TEST(KorrProcessImplTest, AThousandCyclesLeaveDescriptorsAndMemoryWhereTheyBegan)
{
    auto cycle = [] {
        std::unique_ptr<KorrProcess> process(role("emit", {"o", "e", "3"}).release());
        CollectingListener out;
        CollectingListener err;
        process->registerOutputStreamListener(out);
        process->registerErrorStreamListener(err);
        process->start();
        EXPECT_EQ(process->waitForProcess(), 3);
        EXPECT_EQ(out.received(), "o");
        EXPECT_EQ(err.received(), "e");
    };
    for (int i = 0; i < 20; ++i) {
        cycle(); // settles one-time allocations
    }
    int descriptors = openDescriptors();
    size_t heap = mallinfo2().uordblks;
    for (int i = 0; i < 1000 && !HasFailure(); ++i) {
        cycle();
    }
    EXPECT_EQ(openDescriptors(), descriptors);
    size_t after = mallinfo2().uordblks;
    EXPECT_LT(after, heap + 64 * 1024) << "heap grew from " << heap << " to " << after;
    EXPECT_TRUE(noChildLeft());
}
