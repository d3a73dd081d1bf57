#include "OutputLogFile.h"

#include <cstring>

#include "EventLog.h"
#include "KorrException.h"
#include "KorrUtils.h"
#include "NLS.h"
#include "OutputDescriptor.h"
#include "OutputDirectory.h"
#include "RasDescriptorSlot.h"

namespace {

const RasDescriptorSlot rdSlot("OutputLogFile", "com.quillon.velbrix.nativ.common.ZRKNVMessages");

const RasDescriptor& rd() { return rdSlot.get(); }

// The most generations the properties allow; numbers past it are never written.
const int MAX_GENERATIONS = 100;

std::string generation(const std::string& name, int number) { return name + "." + std::to_string(number); }

// The number of a generation's suffix as this class writes it ("1" to "101"); 0 for any other.
int generationNumber(const std::string& suffix)
{
    if (suffix.empty() || suffix.size() > 3 || suffix[0] == '0') {
        return 0;
    }
    int number = 0;
    for (char c : suffix) {
        if (c < '0' || c > '9') {
            return 0;
        }
        number = number * 10 + (c - '0');
    }
    return number;
}

} // namespace

OutputLogFile::OutputLogFile(int fd)
    : limit(0), generations(0), target(-1), descriptor(fd), owned(false), size(0), atLineStart(true), lost(0)
{
}

OutputLogFile::OutputLogFile(const std::string& p, long long l, int g, int t)
    : path(p), limit(l < 1 ? 1 : l), generations(g < 1 ? 1 : g), target(t), descriptor(-1), owned(true), size(0),
      atLineStart(true), lost(0)
{
    std::string refusal;
    descriptor = OutputDescriptor::openForAppend(path, &refusal);
    if (descriptor < 0) {
        throw KorrException(refusal.empty() ? KorrUtils::getLastErrorMessage() : refusal);
    }
    long long length = OutputDescriptor::sizeOf(descriptor);
    size = length < 0 ? 0 : length;
    if (target >= 0 && descriptor != target) {
        OutputDescriptor::redirect(descriptor, target);
    }
    OutputDirectory directory(path);
    if (directory.isOpen()) {
        std::string prefix = directory.fileName() + ".";
        for (const std::string& entry : directory.entriesStartingWith(prefix)) {
            int number = generationNumber(entry.substr(prefix.size()));
            if (number > generations && number <= MAX_GENERATIONS + 1) {
                directory.remove(entry);
            }
        }
    }
}

OutputLogFile::~OutputLogFile()
{
    if (owned && descriptor >= 0) {
        OutputDescriptor::close(descriptor);
    }
}

int OutputLogFile::openForAppend(const std::string& name, std::string* refusal)
{
    return OutputDescriptor::openForAppend(name, refusal);
}

void OutputLogFile::shiftGenerations(const std::string& name, int count)
{
    // Every name is taken within the directory reached as files are opened, so a link planted
    // on the way (a "logs" that leads into another user's directory) moves nothing there.
    OutputDirectory directory(name);
    const std::string& last = directory.fileName();
    if (!directory.isOpen() || !directory.holdsOutput(last)) {
        return;
    }
    // The oldest goes first, so no rename replaces a file (on ext4 that forces the replacing
    // file's data out to disk at once).
    int kept = count < 1 ? 1 : count;
    directory.remove(generation(last, kept));
    for (int i = kept - 1; i >= 1; --i) {
        directory.rename(generation(last, i), generation(last, i + 1));
    }
    directory.rename(last, generation(last, 1));
}

void OutputLogFile::write(const char* data, std::size_t n)
{
    std::lock_guard<std::mutex> hold(lock);
    while (n > 0) {
        std::size_t cut = n;
        bool turn = false;
        if (!path.empty()) {
            long long after = size + static_cast<long long>(n);
            if (after > limit) {
                // An outside truncate leaves our count high: appends land at the real end.
                long long real = OutputDescriptor::sizeOf(descriptor);
                if (real >= 0 && real < size) {
                    size = real;
                }
            }
            if (size >= limit && atLineStart) {
                rotate();
            }
            if (size + static_cast<long long>(n) > limit) {
                // The file ends at the first line end past the limit; a line that alone is
                // longer than the limit is split once it has added another limit's worth.
                std::size_t from = size >= limit ? 0 : static_cast<std::size_t>(limit - size - 1);
                long long room = 2 * limit - size;
                std::size_t hard = room <= 0 ? 0 : (room < static_cast<long long>(n) ? static_cast<std::size_t>(room) : n);
                if (hard == 0) {
                    rotate();
                    continue;
                }
                const void* end = from < hard ? std::memchr(data + from, '\n', hard - from) : nullptr;
                if (end) {
                    cut = static_cast<std::size_t>(static_cast<const char*>(end) - data) + 1;
                    turn = true;
                } else if (hard < n) {
                    cut = hard;
                    turn = true;
                }
            }
        }
        std::size_t written = OutputDescriptor::writeAll(descriptor, data, cut);
        if (written > 0) {
            size += static_cast<long long>(written);
            atLineStart = data[written - 1] == '\n';
        }
        if (written < cut) {
            dropped(n - written);
            return;
        }
        if (lost > 0) {
            EventLog::warningNoFormat(rd(), NLS::format(rd(), "ZRKNV0200_OUTPUT_RESUMED", where(),
                                                        std::to_string(lost)));
            lost = 0;
        }
        data += cut;
        n -= cut;
        if (turn) {
            rotate();
        }
    }
}

// Called with the lock held, at once after a failed write: the first loss of an outage is
// reported with the write's reason; the bytes are counted until a write succeeds again.
void OutputLogFile::dropped(std::size_t bytes)
{
    std::string reason = KorrUtils::getLastErrorMessage();
    if (lost == 0) {
        EventLog::errorNoFormat(rd(), NLS::format(rd(), "ZRKNV0199_OUTPUT_LOST", where(), reason));
    }
    lost += static_cast<long long>(bytes);
}

std::string OutputLogFile::where() const
{
    return path.empty() ? "descriptor " + std::to_string(descriptor) : path;
}

// Called with the lock held. The current file is renamed while open and the old descriptor
// stays valid, so nothing written before the switch is lost; a file that cannot be opened
// leaves the writes going to the renamed one.
void OutputLogFile::rotate()
{
    shiftGenerations(path, generations);
    int fresh = OutputDescriptor::openForAppend(path, nullptr);
    if (fresh < 0) {
        size = 0;   // tried again after another limit's worth, not at every chunk
        return;
    }
    OutputDescriptor::copyAccess(descriptor, fresh);
    if (target >= 0) {
        OutputDescriptor::redirect(fresh, target);
    }
    OutputDescriptor::close(descriptor);
    descriptor = fresh;
    size = 0;
    atLineStart = true;
}
