#include "EventWatch.h"

#include <windows.h>

#include <fstream>
#include <map>

#include "ServiceManagerSupport.h"
#include "UnderWine.h"

namespace {

std::string servicesLog() { return windowsPath(OSTARA_WINE_SERVICES_LOG); }

long long sizeOf(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) {
        return 0;
    }
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

unsigned long nextRecord()
{
    HANDLE log = OpenEventLogA(nullptr, "Application");
    DWORD oldest = 0, count = 0;
    if (log) {
        GetOldestEventLogRecord(log, &oldest);
        GetNumberOfEventLogRecords(log, &count);
        CloseEventLog(log);
    }
    return oldest + count;
}

} // namespace

EventWatch::EventWatch() : servicesLogStart(sizeOf(servicesLog())), windowsStart(underWine() ? 0 : nextRecord()) {}

std::vector<std::string> EventWatch::eventsOf(const std::string& source) const
{
    std::vector<std::string> events;
    if (underWine()) {
        // Each string is one line "<thread>:err:eventlog:ReportEventW L"<string>"". The events
        // here have two strings, the source first; a thread's next string is the text.
        std::ifstream in(servicesLog(), std::ios::binary);
        in.seekg(servicesLogStart);
        const std::string marker = ":err:eventlog:ReportEventW ";
        std::map<std::string, size_t> open; // thread -> event waiting for its text
        for (std::string line; std::getline(in, line);) {
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            size_t at = line.find(marker);
            if (at == std::string::npos) {
                continue;
            }
            std::string thread = line.substr(0, at), text = line.substr(at + marker.size());
            auto waiting = open.find(thread);
            if (waiting != open.end()) {
                events[waiting->second] += "\n" + text;
                open.erase(waiting);
            } else if (text == "L\"" + source + "\"") {
                open[thread] = events.size();
                events.push_back(text);
            }
        }
        return events;
    }
    HANDLE log = OpenEventLogA(nullptr, "Application");
    if (!log) {
        return events;
    }
    std::vector<char> buffer(64 * 1024);
    DWORD read = 0, needed = 0;
    DWORD flags = EVENTLOG_SEEK_READ | EVENTLOG_FORWARDS_READ;
    while (ReadEventLogA(log, flags, windowsStart, buffer.data(), static_cast<DWORD>(buffer.size()), &read, &needed)) {
        flags = EVENTLOG_SEQUENTIAL_READ | EVENTLOG_FORWARDS_READ;
        for (DWORD at = 0; at < read;) {
            const EVENTLOGRECORD* record = reinterpret_cast<const EVENTLOGRECORD*>(buffer.data() + at);
            const char* name = reinterpret_cast<const char*>(record + 1);
            if (record->RecordNumber >= windowsStart && source == name) {
                std::string strings;
                const char* s = reinterpret_cast<const char*>(record) + record->StringOffset;
                for (WORD i = 0; i < record->NumStrings; ++i, s += std::string(s).size() + 1) {
                    strings += (i ? "\n" : "") + std::string(s);
                }
                events.push_back(strings);
            }
            at += record->Length;
        }
    }
    CloseEventLog(log);
    return events;
}
