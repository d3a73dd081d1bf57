// Test support for the diagnostics: a handler that keeps what it is given, and a fixture that
// sets the diagnostics up with two of them (events, trace) and tears them down again.
#ifndef OSTARA_TEST_DIAGNOSTICSTESTSUPPORT_H
#define OSTARA_TEST_DIAGNOSTICSTESTSUPPORT_H

#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "LogHandler.h"
#include "LogRecord.h"
#include "RAS.h"

class CapturingLogHandler : public LogHandler
{
public:
    explicit CapturingLogHandler(bool* deletedFlag = nullptr) : LogHandler(LogLevel::ALL), deleted(deletedFlag) {}
    ~CapturingLogHandler() override
    {
        if (deleted) {
            *deleted = true;
        }
    }
    void publish(LogRecord& record) override
    {
        {
            std::lock_guard<std::mutex> hold(lock);
            std::ostringstream line;
            line << record;
            lines.push_back(line.str());
            messages.push_back(record.getMessage());
            types.push_back(record.getType().getValue());
        }
        if (onPublish) {
            onPublish(record);
        }
    }
    std::vector<std::string> messagesOf(LogRecordType::LogRecordTypeValue type)
    {
        std::lock_guard<std::mutex> hold(lock);
        std::vector<std::string> found;
        for (std::size_t i = 0; i < messages.size(); ++i) {
            if (types[i] == type) {
                found.push_back(messages[i]);
            }
        }
        return found;
    }
    bool sawMessageContaining(const std::string& text)
    {
        std::lock_guard<std::mutex> hold(lock);
        for (const std::string& m : messages) {
            if (m.find(text) != std::string::npos) {
                return true;
            }
        }
        return false;
    }
    void clear()
    {
        std::lock_guard<std::mutex> hold(lock);
        lines.clear();
        messages.clear();
        types.clear();
    }

    std::mutex lock;
    std::vector<std::string> lines;
    std::vector<std::string> messages;
    std::vector<int> types;
    std::function<void(LogRecord&)> onPublish;

private:
    bool* deleted;
};

// Diagnostics initialised as a unit test with the prefix "com.quillon.velbrix.native"; the
// handlers belong to RAS and live until TearDown.
class DiagnosticsTest : public ::testing::Test
{
protected:
    static constexpr const char* PREFIX = "com.quillon.velbrix.native";

    void SetUp() override
    {
        RAS::shutdown();
        events = new CapturingLogHandler();
        trace = new CapturingLogHandler();
        RAS::initialize(RASEnvironment::UNITTEST, events, nullptr, trace, PREFIX);
    }
    void TearDown() override { RAS::shutdown(); }

    static std::string under(const std::string& name) { return std::string(PREFIX) + "." + name; }

    CapturingLogHandler* events = nullptr;
    CapturingLogHandler* trace = nullptr;
};

#endif
