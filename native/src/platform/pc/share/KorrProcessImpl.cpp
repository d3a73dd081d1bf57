#include "KorrProcessImpl.h"

#include <memory>
#include <mutex>
#include <vector>

#include "KorrException.h"
#include "KorrThreadImpl.h"
#include "KorrUtils.h"
#include "NLS.h"
#include "ProcessStreamReaderImpl.h"
#include "RasDescriptor.h"
#include "Trace.h"

#include <windows.h>

namespace {

const RasDescriptor& rd()
{
    static const RasDescriptor* d =
        new RasDescriptor("KorrProcessImpl", "com.quillon.velbrix.nativ.common.ZRKNVMessages");
    return *d;
}

// A terminated process ends promptly; this only bounds the wait should it not.
const DWORD TERMINATION_WAIT_MS = 30000;

void closeQuietly(void*& handle)
{
    if (handle) {
        CloseHandle(handle);
        handle = nullptr;
    }
}

void traceModerate(const void* object, const char* method, const char* text, const std::string& value)
{
    if (rd().isOn(TraceLevel::MODERATE)) {
        Trace::traceMethodData(rd(), TraceLevel::MODERATE, object, method, 2, text, value.c_str());
    }
}

void traceExit(const void* object, const char* method, const std::string& result, const char* type)
{
    if (rd().isFlowOn()) {
        Trace::traceMethodExit(rd(), object, method, &result, type);
    }
}

KorrException thrown(const char* method, const std::string& message)
{
    KorrException e(message);
    if (rd().isFlowOn()) {
        Trace::throwing(rd(), method, &e);
    }
    return e;
}

// Starts are serialised: while one is under way its child's ends are inheritable, and no
// other start of ours may hand them to its own child.
std::mutex& startLock()
{
    static std::mutex* m = new std::mutex();
    return *m;
}

// The whole text in double quotes, with backslashes and quotes written so that the
// C runtime's and CommandLineToArgvW's parsing give back exactly this text.
std::string quote(const std::string& text)
{
    std::string out(1, '"');
    std::size_t backslashes = 0;
    for (char c : text) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        out.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        backslashes = 0;
        out += c;
    }
    out.append(2 * backslashes, '\\');
    out += '"';
    return out;
}

} // namespace

uint32_t KorrProcess::getCurrentProcessId() { return KorrProcessImpl::getCurrentProcessId(); }

uint32_t KorrProcessImpl::getCurrentProcessId() { return static_cast<uint32_t>(GetCurrentProcessId()); }

KorrProcess* KorrProcess::newInstance(int argc, char** argv, const std::string& workingDirectory)
{
    return new KorrProcessImpl(argc, argv, workingDirectory);
}

std::string KorrProcessImpl::escape(const std::string& argument, bool prefix)
{
    if (prefix) {
        std::size_t colon = argument.find(':');
        if (colon != std::string::npos && argument.find_first_of(" \t\"") > colon) {
            return argument.substr(0, colon + 1) + quote(argument.substr(colon + 1));
        }
    }
    return quote(argument);
}

KorrProcessImpl::KorrProcessImpl(int argc, char** argv) : KorrProcessImpl(argc, argv, std::string()) {}

KorrProcessImpl::KorrProcessImpl(int argc, char** argv, const std::string& directory)
    : workingDirectory(directory), processHandle(nullptr), threadHandle(nullptr), job(nullptr), terminated(false), processId(0), stdinRead(nullptr),
      stdinWrite(nullptr), stdoutRead(nullptr), stdoutWrite(nullptr), stderrRead(nullptr), stderrWrite(nullptr),
      outputReader(nullptr), errorReader(nullptr), outputReaderThread(nullptr), errorReaderThread(nullptr)
{
    std::string shown;
    for (int i = 0; i < argc; ++i) {
        const char* entry = argv ? argv[i] : nullptr;
        if (i > 0) {
            shown += ", ";
        }
        shown += entry ? entry : "null";
        if (i > 1) {
            arguments += ' ';
        }
        if (i > 0) {
            arguments += escape(entry ? entry : "", i == 1);
        }
    }
    if (rd().isFlowOn()) {
        std::string count = std::to_string(argc);
        Trace::traceMethodEntry(rd(), this, "KorrProcessImpl", 3, count.c_str(), shown.c_str(), directory.c_str());
    }
    program = argc > 0 && argv && argv[0] ? argv[0] : "";
    createPipe(stdoutRead, stdoutWrite, "ZRKNV0001_CREATE_PIPE_STDOUT");
    createPipe(stdinRead, stdinWrite, "ZRKNV0003_CREATE_PIPE_STDIN");
    createPipe(stderrRead, stderrWrite, "ZRKNV0005_CREATE_PIPE_STDERR");
    if (rd().isFlowOn()) {
        Trace::traceMethodExit(rd(), this, "KorrProcessImpl", nullptr, "");
    }
}

// Neither end is inheritable: the child's end becomes so only inside start(), so no other
// process started meanwhile can hold it and keep the reader from seeing end of data.
void KorrProcessImpl::createPipe(void*& readEnd, void*& writeEnd, const char* createKey)
{
    SECURITY_ATTRIBUTES attributes = {sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
    HANDLE r = nullptr;
    HANDLE w = nullptr;
    if (!CreatePipe(&r, &w, &attributes, 0)) {
        closeHandles();
        throw thrown("KorrProcessImpl", NLS::format(rd(), createKey));
    }
    readEnd = r;
    writeEnd = w;
}

void KorrProcessImpl::closeHandles()
{
    closeQuietly(stdinRead);
    closeQuietly(stdinWrite);
    closeQuietly(stdoutRead);
    closeQuietly(stdoutWrite);
    closeQuietly(stderrRead);
    closeQuietly(stderrWrite);
    closeQuietly(threadHandle);
    closeQuietly(processHandle);
    closeQuietly(job);
}

KorrProcessImpl::~KorrProcessImpl()
{
    stopReader(outputReader, outputReaderThread);
    stopReader(errorReader, errorReaderThread);
    closeHandles();
}

void KorrProcessImpl::stopReader(ProcessStreamReaderImpl*& reader, KorrThreadImpl*& thread)
{
    if (thread) {
        try {
            thread->stop();
        } catch (const KorrException& e) {
            traceModerate(this, "~KorrProcessImpl", "stopping reader thread failed: ", e.toString());
        }
        delete thread;
        thread = nullptr;
    }
    delete reader;
    reader = nullptr;
}

void KorrProcessImpl::start()
{
    if (rd().isFlowOn()) {
        Trace::traceMethodEntry(rd(), this, "start", 0);
    }
    std::string copy = program;
    if (copy.size() < 5 || copy.compare(copy.size() - 4, 4, ".exe") != 0) {
        copy += ".exe";
    }
    std::string line = "\"" + copy + "\" " + arguments;
    std::vector<char> buffer(line.begin(), line.end());
    buffer.push_back('\0');

    DWORD error = 0;
    const char* inheritKey = nullptr;   // set when a child's end could not be made inheritable
    if (processHandle) {
        error = ERROR_ALREADY_EXISTS;
    } else {
        HANDLE inherited[3] = {stdinRead, stdoutWrite, stderrWrite};
        const char* inheritKeys[3] = {"ZRKNV0004_HANDLE_INFO_STDIN", "ZRKNV0002_HANDLE_INFO_STDOUT",
                                      "ZRKNV0006_HANDLE_INFO_STDERR"};
        SIZE_T size = 0;
        InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        std::unique_ptr<char[]> listMemory(new char[size]);
        LPPROC_THREAD_ATTRIBUTE_LIST list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(listMemory.get());
        bool listMade = InitializeProcThreadAttributeList(list, 1, 0, &size) != FALSE;
        if (!listMade ||
            !UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited, sizeof inherited,
                                       nullptr, nullptr)) {
            error = GetLastError();
        }
        std::lock_guard<std::mutex> hold(startLock());
        for (int i = 0; i < 3 && error == 0; ++i) {
            if (!SetHandleInformation(inherited[i], HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT)) {
                error = GetLastError();
                inheritKey = inheritKeys[i];
            }
        }
        if (error == 0) {
            STARTUPINFOEXA startup;
            ZeroMemory(&startup, sizeof startup);
            startup.StartupInfo.cb = sizeof startup;
            startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
            startup.StartupInfo.hStdInput = stdinRead;
            startup.StartupInfo.hStdOutput = stdoutWrite;
            startup.StartupInfo.hStdError = stderrWrite;
            startup.lpAttributeList = list;
            PROCESS_INFORMATION processInfo = {};
            // Started suspended and put in a job of its own before it runs, so that stop() ends
            // it with every process it started (they inherit the job).
            if (!CreateProcessA(copy.c_str(), buffer.data(), nullptr, nullptr, TRUE,
                                EXTENDED_STARTUPINFO_PRESENT | CREATE_SUSPENDED, nullptr,
                                workingDirectory.empty() ? nullptr : workingDirectory.c_str(), &startup.StartupInfo,
                                &processInfo)) {
                error = GetLastError();
            } else {
                processHandle = processInfo.hProcess;
                threadHandle = processInfo.hThread;
                processId = processInfo.dwProcessId;
                job = CreateJobObjectA(nullptr, nullptr);
                if (job && !AssignProcessToJobObject(job, processHandle)) {
                    // A job this process may not nest in: stop() ends the child alone.
                    traceModerate(this, "start", "no job for the child: ", std::to_string(GetLastError()));
                    closeQuietly(job);
                }
                ResumeThread(threadHandle);
            }
        }
        for (HANDLE handle : inherited) {
            SetHandleInformation(handle, HANDLE_FLAG_INHERIT, 0);
        }
        if (listMade) {
            DeleteProcThreadAttributeList(list);
        }
    }
    if (error != 0) {
        if (inheritKey) {
            throw thrown("start", NLS::format(rd(), inheritKey));
        }
        std::string reason = std::to_string(error) + " (" + KorrUtils::getLastErrorMessage(static_cast<int>(error)) + ")";
        throw thrown("start", NLS::format(rd(), "ZRKNV0007_UNABLE_TO_CREATE_PROCESS", copy, arguments, reason));
    }
    // Only the child holds these ends now, so the readers see end of data when it ends.
    closeQuietly(stdinRead);
    closeQuietly(stdoutWrite);
    closeQuietly(stderrWrite);
    traceExit(this, "start", std::to_string(processId), "void");
}

void KorrProcessImpl::stop()
{
    if (rd().isFlowOn()) {
        Trace::traceMethodEntry(rd(), this, "stop", 0);
    }
    if (processHandle) {
        if (WaitForSingleObject(processHandle, 0) == WAIT_TIMEOUT) {
            // Marked before the child is ended: the waiting thread wakes as soon as it has gone
            // and must already read it as ended by us, whatever code the system gave it.
            bool before = terminated.exchange(true);
            // The whole job: a grandchild that kept the child's pipes open ends with it.
            bool ended = (job && TerminateJobObject(job, 0)) || TerminateProcess(processHandle, 0);
            traceModerate(this, "stop", "terminate result: ", ended ? std::string("0") : std::to_string(GetLastError()));
            if (!ended && !before) {
                terminated = false;
            }
            if (WaitForSingleObject(processHandle, TERMINATION_WAIT_MS) != WAIT_OBJECT_0) {
                traceModerate(this, "stop", "process has not ended: ", std::to_string(processId));
            }
        }
        if (outputReader) {
            outputReader->requestFinish();
        }
        if (errorReader) {
            errorReader->requestFinish();
        }
    }
    traceExit(this, "stop", std::string(), "void");
}

int KorrProcessImpl::waitForProcess()
{
    if (rd().isFlowOn()) {
        Trace::traceMethodEntry(rd(), this, "waitForProcess", 0);
    }
    DWORD code = 0;
    if (processHandle) {
        WaitForSingleObject(processHandle, INFINITE);
        // The readers end at end of data, so this returns after the child's last byte.
        KorrThreadImpl* threads[2] = {outputReaderThread, errorReaderThread};
        for (KorrThreadImpl* thread : threads) {
            if (thread) {
                try {
                    thread->join();
                } catch (const KorrException& e) {
                    traceModerate(this, "waitForProcess", "join failed: ", e.toString());
                }
            }
        }
        if (terminated || !GetExitCodeProcess(processHandle, &code)) {
            code = 0;
        }
    }
    traceExit(this, "waitForProcess", std::to_string(code), "int");
    return static_cast<int>(code);
}

int KorrProcessImpl::getExitCode()
{
    if (rd().isFlowOn()) {
        Trace::traceMethodEntry(rd(), this, "getExitCode", 0);
    }
    DWORD code = 0;
    bool success = processHandle && GetExitCodeProcess(processHandle, &code);
    if (!success || (terminated && code != STILL_ACTIVE)) {
        code = 0;
    }
    traceModerate(this, "getExitCode", "success: ", success ? "true" : "false");
    traceExit(this, "getExitCode", std::to_string(code), "int");
    return static_cast<int>(code);
}

void* KorrProcessImpl::getInputStream() { return stdinWrite; }

void* KorrProcessImpl::getOutputStream() { return stdoutRead; }

void* KorrProcessImpl::getErrorStream() { return stderrRead; }

uint32_t KorrProcessImpl::getProcessId() { return processId; }

void KorrProcessImpl::registerOutputStreamListener(ProcessStreamReaderListener& listener)
{
    replaceReader(outputReader, outputReaderThread, stdoutRead, listener, "stopping previous outputStreamReaderThread ");
}

void KorrProcessImpl::registerErrorStreamListener(ProcessStreamReaderListener& listener)
{
    replaceReader(errorReader, errorReaderThread, stderrRead, listener, "stopping previous errorStreamReaderThread ");
}

// The old reader is stopped before the new one starts, so no byte is read twice or by two
// readers at once; what the old one had not read is left in the pipe for the new one.
void KorrProcessImpl::replaceReader(ProcessStreamReaderImpl*& reader, KorrThreadImpl*& thread, void* handle,
                                    ProcessStreamReaderListener& listener, const char* text)
{
    if (rd().isFlowOn()) {
        std::string p = Trace::pointerText(&listener);
        Trace::traceMethodEntry(rd(), this, "registerStreamListener", 1, p.c_str());
    }
    std::unique_ptr<ProcessStreamReaderImpl> fresh(new ProcessStreamReaderImpl(handle, listener));
    if (thread) {
        traceModerate(this, "registerStreamListener", text, Trace::pointerText(thread));
        thread->stop();
        delete thread;
        thread = nullptr;
    }
    delete reader;
    reader = nullptr;
    std::unique_ptr<KorrThreadImpl> runner(new KorrThreadImpl(fresh.get()));
    runner->start();
    reader = fresh.release();
    thread = runner.release();
    traceExit(this, "registerStreamListener", std::string(), "void");
}
