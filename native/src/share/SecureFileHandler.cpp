#include "SecureFileHandler.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <sstream>

#include "FileLock.h"
#include "KorrIOException.h"
#include "KorrThreadSyncImpl.h"
#include "KorrUtils.h"
#include "LogRecord.h"
#include "NLS.h"
#include "RasDescriptor.h"
#include "RasDescriptorSlot.h"
#include "Synchronize.h"
#include "Trace.h"

// Lock order: a trace record may wait for this handler while its thread holds the trace lock,
// so code under writeLock must not trace. Only making a file private that was already there
// (a one-file set starting again, a file put back by another process) calls traced code.

namespace {

const RasDescriptorSlot rdSlot("SecureFileHandler", "com.quillon.velbrix.nativ.common.ZRKNVMessages", nullptr);

const RasDescriptor& rd() { return rdSlot.get(); }

void traceModerate(const void* self, const char* method, const std::string& text)
{
    if (rd().isOn(TraceLevel::MODERATE)) {
        Trace::traceMethodData(rd(), TraceLevel::MODERATE, self, method, 1, text.c_str());
    }
}

[[noreturn]] void throwIO(const char* method, const std::string& message)
{
    KorrIOException e(message);
    if (rd().isFlowOn()) {
        Trace::throwing(rd(), method, &e);
    }
    throw e;
}

// A dangling link counts as present: it is not a free name.
bool exists(const std::string& path)
{
    std::error_code ignored;
    return std::filesystem::symlink_status(path, ignored).type() != std::filesystem::file_type::not_found;
}

bool isHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

unsigned int hexValue(char c)
{
    if (c >= '0' && c <= '9') {
        return static_cast<unsigned int>(c - '0');
    }
    return static_cast<unsigned int>((c | 0x20) - 'a' + 10);
}

} // namespace

SecureFileHandler::SecureFileHandler(const std::string& pattern, int lim, int cnt, bool append, bool read,
                                     int currentFileNumber)
    : limit(lim), count(cnt < 1 ? 1 : cnt), canRead(read), fileLock(nullptr), out(nullptr),
      writeLock(new KorrThreadSyncImpl()), writing(false)
{
    if (rd().isFlowOn()) {
        std::string l = std::to_string(lim), c = std::to_string(cnt), n = std::to_string(currentFileNumber);
        Trace::traceMethodEntry(rd(), this, "SecureFileHandler", 6, pattern.c_str(), l.c_str(), c.c_str(),
                                append ? "true" : "false", read ? "true" : "false", n.c_str());
    }
    try {
        // The first unique number whose file is usable and whose lock is not held elsewhere.
        long unique = 0;
        std::string name;
        for (;; ++unique) {
            if (unique >= INT_MAX) {
                throwIO("SecureFileHandler", NLS::format(rd(), "ZRKNV0055_UNABLE_TO_CREATE_FILE", pattern));
            }
            name = getfileName(pattern, currentFileNumber, unique);
            std::string parent = KorrUtils::getParent(name);
            if (!parent.empty() && KorrUtils::mkdirs(parent, canRead) != 0) {
                throwIO("SecureFileHandler", NLS::format(rd(), "ZRKNV0051_MKDIR_FAILED", parent));
            }
            if (exists(name)) {
                std::string refusal;
                std::FILE* probe = KorrUtils::openFile(name, false, canRead, &refusal);
                if (probe == nullptr) {
                    // Planted or foreign: left alone, and the next unique name is taken.
                    traceModerate(this, "SecureFileHandler", refusal.empty() ? KorrUtils::getLastErrorMessage() : refusal);
                    continue;
                }
                std::fclose(probe);
            }
            if (takeLock(name)) {
                break;
            }
        }
        fileNames.reserve(static_cast<std::size_t>(count));
        fileNames.push_back(name);
        for (int g = 1; g < count; ++g) {
            fileNames.push_back(getfileName(pattern, g, unique));
        }

        bool rotate = false;
        if (exists(fileNames[0])) {
            if (append) {
                std::FILE* current = KorrUtils::openFile(fileNames[0], false, canRead);
                if (current == nullptr) {
                    throwIO("SecureFileHandler", NLS::format(rd(), "ZRKNV0054_UNABLE_TO_OPEN_FILE", fileNames[0],
                                                             KorrUtils::getLastErrorMessage()));
                }
                long size = std::fseek(current, 0, SEEK_END) == 0 ? std::ftell(current) : -1;
                std::fclose(current);
                rotate = size >= 0 && size >= limit;
            } else {
                rotate = true;
            }
        }
        openCurrent(rotate, !append);
    } catch (...) {
        // No destructor runs for a constructor that throws.
        release();
        delete writeLock;
        throw;
    }
    if (rd().isFlowOn()) {
        std::string none;
        Trace::traceMethodExit(rd(), this, "SecureFileHandler", &none, "void");
    }
}

SecureFileHandler::~SecureFileHandler()
{
    release();
    delete writeLock;
}

void SecureFileHandler::release()
{
    if (out) {
        std::fclose(out);
        out = nullptr;
    }
    close();
}

// True when the lock is held now, or when it could not be taken for a reason other than
// another holder (the handler then writes without it). False when another handler holds it.
bool SecureFileHandler::takeLock(const std::string& fileName)
{
    std::string name = fileName + ".lck";
    try {
        fileLock = FileLock::newInstance(name, false, false);
        lockFileName = name;
        return true;
    } catch (const KorrException& e) {
        if (exists(name)) {
            traceModerate(this, "SecureFileHandler", "In use by another handler: " + fileName);
            return false;
        }
        traceModerate(this, "SecureFileHandler", "Failed to lock file: " + name + " reason: " + e.getMessage());
        return true;
    }
}

std::string SecureFileHandler::getfileName(const std::string& pattern, int generation, long unique)
{
    std::string name;
    for (std::string::size_type i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '%' && i + 1 < pattern.size() && pattern[i + 1] == 'g') {
            name += std::to_string(generation);
            ++i;
        } else {
            name += pattern[i];
        }
    }
    if (unique > 0) {
        name += "." + std::to_string(unique);
    }
    return name;
}

// Opens the current file, rotating the set first when asked. The open gives a new file its
// final mode and narrows an old one that grants more (by descriptor, so a name swapped for a
// link meanwhile is never changed); a name that is not safe to open is refused.
void SecureFileHandler::openCurrent(bool rotate, bool truncate)
{
    bool movedAway = rotate && rotateFile();
    // A set that cannot move its current file away (one file, or generations that share its
    // name) starts the file again instead.
    bool empty = truncate || (rotate && !movedAway);
    std::string refusal;
    std::FILE* file = KorrUtils::openFile(fileNames[0], empty, canRead, &refusal);
    if (file == nullptr) {
        throw KorrIOException(NLS::format(rd(), "ZRKNV0054_UNABLE_TO_OPEN_FILE", fileNames[0],
                                          refusal.empty() ? KorrUtils::getLastErrorMessage() : refusal));
    }
    // One write per line, so a failed write never leaves part of a line behind in a buffer.
    std::setvbuf(file, nullptr, _IONBF, 0);
    out = file;
}

// Moves generation g-1 to g, oldest first. True when the current file was moved away.
bool SecureFileHandler::rotateFile()
{
    bool movedAway = false;
    for (int g = count - 1; g >= 1; --g) {
        const std::string& from = fileNames[static_cast<std::size_t>(g - 1)];
        const std::string& to = fileNames[static_cast<std::size_t>(g)];
        if (to == from || to == fileNames[0] || !exists(from)) {
            continue;
        }
        if (!KorrUtils::renameFile(from, to)) {
            throw KorrIOException(
                NLS::format(rd(), "ZRKNV0056_RENAME_FAILED", from, to, KorrUtils::getLastErrorMessage()));
        }
        movedAway = movedAway || g == 1;
    }
    return movedAway;
}

void SecureFileHandler::publish(const std::string& line)
{
    std::string text = getUtf8EncodedString(line);
    text += '\n';
    Synchronize hold(writeLock);
    if (writing) {
        // Reached again from inside this thread's own write (an event raised on the way).
        throw KorrIOException(NLS::format(rd(), "ZRKNV0058_UNABLE_TO_WRITE_FILE", fileNames[0],
                                          "the file is already being written by this thread"));
    }
    struct Writing {
        bool& flag;
        explicit Writing(bool& f) : flag(f) { flag = true; }
        ~Writing() { flag = false; }
    } writingNow(writing);

    long before = -1;   // where this record starts; the end is looked up once per record
    if (out == nullptr) {
        // An earlier failure left no file open: carry on where the set stands.
        std::error_code ec;
        auto size = std::filesystem::file_size(fileNames[0], ec);
        openCurrent(!ec && static_cast<long long>(size) >= limit, false);
    } else {
        before = std::fseek(out, 0, SEEK_END) == 0 ? std::ftell(out) : -1;
        if (before >= 0 && before >= limit) {
            std::fclose(out);
            out = nullptr;
            openCurrent(true, false);
            before = -1;
        }
    }
    if (before < 0) {
        before = std::fseek(out, 0, SEEK_END) == 0 ? std::ftell(out) : -1;
    }
    if (std::fwrite(text.data(), 1, text.size(), out) != text.size() || std::fflush(out) != 0) {
        int error = errno;
        std::fclose(out);
        out = nullptr;
        // The caller reports a record that failed elsewhere: what part of it reached the file
        // (a full disk takes a short write) is cut off again, so it is never there twice.
        std::error_code ec;
        auto size = std::filesystem::file_size(fileNames[0], ec);
        if (before >= 0 && !ec && size > static_cast<std::uintmax_t>(before)) {
            std::filesystem::resize_file(fileNames[0], static_cast<std::uintmax_t>(before), ec);
        }
        throw KorrIOException(NLS::format(rd(), "ZRKNV0058_UNABLE_TO_WRITE_FILE", fileNames[0],
                                          KorrUtils::getLastErrorMessage(error)));
    }
}

void SecureFileHandler::publish(const LogRecord& record)
{
    std::ostringstream line;
    line << record;
    publish(line.str());
}

// The lock file goes while the lock is still held: removed after the release, it could
// already be the next holder's file.
void SecureFileHandler::close()
{
    Synchronize hold(writeLock);
    if (!lockFileName.empty()) {
        if (fileLock != nullptr && !fileLock->removeLockFile()) {
            traceModerate(this, "close", "Failed to delete file: " + lockFileName);
        }
        lockFileName.clear();
    }
    delete fileLock;
    fileLock = nullptr;
}

std::string SecureFileHandler::getUtf8EncodedString(const std::string& text)
{
    std::string result;
    result.reserve(text.size());
    std::string::size_type i = 0;
    while (i < text.size()) {
        if (text[i] != '\\' || i + 1 >= text.size() || text[i + 1] != 'u') {
            result += text[i++];
            continue;
        }
        // Only the digits are taken: the characters behind a short escape stay text.
        std::string::size_type at = i + 2;
        unsigned int codePoint = 0;
        while (at < text.size() && at < i + 6 && isHexDigit(text[at])) {
            codePoint = codePoint * 16 + hexValue(text[at]);
            ++at;
        }
        if (at == i + 2) {
            result += "\\u";
        } else {
            result += convertToUtf8(codePoint);
        }
        i = at;
    }
    return result;
}

std::string SecureFileHandler::convertToUtf8(unsigned int cp)
{
    std::string bytes;
    if (cp < 0x80) {
        bytes += static_cast<char>(cp);
    } else if (cp < 0x800) {
        bytes += static_cast<char>(0xC0 | (cp >> 6));
        bytes += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        bytes += static_cast<char>(0xE0 | (cp >> 12));
        bytes += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        bytes += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp <= 0x10FFFF) {
        bytes += static_cast<char>(0xF0 | (cp >> 18));
        bytes += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        bytes += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        bytes += static_cast<char>(0x80 | (cp & 0x3F));
    }
    return bytes;
}
