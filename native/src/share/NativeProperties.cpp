#include "NativeProperties.h"

#include <chrono>
#include <filesystem>
#include <sstream>
#include <ostream>

#include "KorrException.h"
#include "KorrUtils.h"
#include "NLS.h"
#include "NativePropertyItem.h"
#include "RasDescriptor.h"
#include "RasDescriptorSlot.h"
#include "Trace.h"

namespace {

const RasDescriptorSlot rdSlot("NativeProperties", "com.quillon.velbrix.nativ.common.ZRKNVMessages");

const RasDescriptor& rd() { return rdSlot.get(); }

std::string trim(const std::string& text)
{
    const char* blanks = " \t\n\r";
    std::string::size_type first = text.find_first_not_of(blanks);
    if (first == std::string::npos) {
        return "";
    }
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

} // namespace

NativeProperties::NativeProperties() {}

NativeProperties::NativeProperties(const NativeProperties& other) : entries(other.entries) {}

NativeProperties& NativeProperties::operator=(const NativeProperties& other)
{
    entries = other.entries;
    readKnown = false;   // the entries no longer are the file's: the next reload reads it
    return *this;
}

NativeProperties::~NativeProperties() {}

void NativeProperties::loadProperties(const std::string& path)
{
    propertiesFile = path;
    read();
}

void NativeProperties::reloadProperties()
{
    std::error_code failed;
    std::uintmax_t size = std::filesystem::file_size(propertiesFile, failed);
    long long time = 0;
    if (!failed) {
        time = std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::filesystem::last_write_time(propertiesFile, failed).time_since_epoch())
                   .count();
    }
    if (failed || !readKnown || size != readSize || time != readTime) {
        read();   // also reports a file that has gone or cannot be read
    }
}

void NativeProperties::read()
{
    const std::string& path = propertiesFile;
    if (path.empty()) {
        KorrException e(NLS::format(rd(), "ZRKNV0123_PROP_FILE_PATH_EMPTY", path));
        if (rd().isFlowOn()) {
            Trace::throwing(rd(), "loadProperties", &e);
        }
        throw e;
    }
    // Taken before the read, so that a change made while reading is seen by the next reload.
    std::error_code unknown;
    std::uintmax_t size = std::filesystem::file_size(path, unknown);
    long long time = unknown ? 0
                             : std::chrono::duration_cast<std::chrono::nanoseconds>(
                                   std::filesystem::last_write_time(path, unknown).time_since_epoch())
                                   .count();
    // Only a regular file is read: a directory would read as empty (every setting silently at
    // its default), and a FIFO planted at the name would hold the reader until someone writes.
    std::string content;
    if (!KorrUtils::readFile(path, content)) {
        KorrException e(NLS::format(rd(), "ZRKNV0122_PROP_FILE_OPEN_FAILED", path));
        if (rd().isFlowOn()) {
            Trace::throwing(rd(), "loadProperties", &e);
        }
        throw e;
    }
    std::istringstream in(content);
    if (rd().isOn(TraceLevel::MODERATE)) {
        Trace::traceMethodData(rd(), TraceLevel::MODERATE, this, "loadProperties", 1,
                               ("Loading properties from " + path).c_str());
    }
    std::map<std::string, std::string> loaded;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line[0] == '#') {
            continue;
        }
        std::string::size_type at = line.find('=');
        if (at == std::string::npos || at == 0) {
            continue;
        }
        std::string key = trim(line.substr(0, at));
        if (key.empty()) {
            continue;
        }
        loaded.emplace(key, trim(line.substr(at + 1)));   // the first occurrence wins
    }
    if (in.bad()) {
        // A read error part-way: keep what was loaded before rather than half a file.
        KorrException e(NLS::format(rd(), "ZRKNV0122_PROP_FILE_OPEN_FAILED", path));
        if (rd().isFlowOn()) {
            Trace::throwing(rd(), "loadProperties", &e);
        }
        throw e;
    }
    entries.swap(loaded);
    readKnown = !unknown;
    readSize = size;
    readTime = time;
}

void NativeProperties::setProperty(const std::string& key, const std::string& value) { entries[key] = value; }

bool NativeProperties::contains(const NativePropertyItem& item) const { return entries.count(item.getKey()) != 0; }

std::string NativeProperties::getPropertyAsString(const NativePropertyItem& item) const
{
    auto found = entries.find(item.getKey());
    return item.getStringValue(found == entries.end() ? nullptr : &found->second);
}

int32_t NativeProperties::getPropertyAsInteger(const NativePropertyItem& item) const
{
    auto found = entries.find(item.getKey());
    return item.getIntegerValue(found == entries.end() ? nullptr : &found->second);
}

bool NativeProperties::getPropertyAsBoolean(const NativePropertyItem& item) const
{
    auto found = entries.find(item.getKey());
    return item.getBooleanValue(found == entries.end() ? nullptr : &found->second);
}

bool NativeProperties::isAgentProperties() const { return propertiesFile.find("agent.properties") != std::string::npos; }

bool NativeProperties::isLoggerProperties() const
{
    return propertiesFile.find("logger.properties") != std::string::npos;
}

std::ostream& operator<<(std::ostream& out, const NativeProperties& properties)
{
    bool first = true;
    for (const auto& entry : properties.getEntries()) {
        out << (first ? "" : ",") << entry.first << "=" << entry.second;
        first = false;
    }
    return out;
}
