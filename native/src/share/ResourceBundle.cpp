#include "ResourceBundle.h"

#include <atomic>
#include <cctype>
#include <cstdio>
#include <mutex>
#include <string_view>
#include <utility>

#include "EventLog.h"
#include "KorrUtils.h"
#include "RasDescriptor.h"
#include "RasDescriptorSlot.h"
#include "Trace.h"

namespace {

const RasDescriptorSlot rdSlot("ResourceBundle", "com.quillon.velbrix.nativ.common.ZRKNVMessages");

const RasDescriptor& rd() { return rdSlot.get(); }

// The cache is never emptied and never destroyed: threads may still format messages while
// the process exits.
struct Cache {
    std::mutex lock;
    std::map<std::string, std::shared_ptr<const std::map<std::string, std::string>>> bundles;
};

Cache& cache()
{
    static Cache* instance = new Cache;
    return *instance;
}

std::atomic<bool> propsFilesMissing(false);

void traceModerate(const std::string& text)
{
    if (rd().isOn(TraceLevel::MODERATE)) {
        Trace::traceMethodData(rd(), TraceLevel::MODERATE, nullptr, "getBundle", 1, text.c_str());
    }
}

bool endsWith(std::string_view text, std::string_view end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The line that starts at `at` (without its line feed) and where the next one starts; false
// once nothing is left, as std::getline reports.
bool nextLine(const std::string& content, std::size_t& at, std::string_view& line)
{
    if (at >= content.size()) {
        return false;
    }
    std::size_t end = content.find('\n', at);
    std::size_t stop = end == std::string::npos ? content.size() : end;
    line = std::string_view(content).substr(at, stop - at);
    at = end == std::string::npos ? content.size() : end + 1;
    return true;
}

} // namespace

ResourceBundle::ResourceBundle(const std::string& n, std::shared_ptr<const Messages> m) : name(n), messages(m) {}

ResourceBundle::ResourceBundle(const std::string& n, const std::string& localeName)
    : name(n), messages(load(n, localeName))
{
}

ResourceBundle ResourceBundle::getBundle(const std::string& name)
{
    std::shared_ptr<const Messages> cached;
    {
        std::lock_guard<std::mutex> hold(cache().lock);
        auto found = cache().bundles.find(name);
        if (found != cache().bundles.end()) {
            cached = found->second;
        }
    }
    // Traced outside the cache lock: a trace handler may itself format catalogue messages.
    if (cached) {
        traceModerate("Re-loading bundle from hash map");
        return ResourceBundle(name, cached);
    }
    traceModerate("Instantiating bundle for first time");
    std::string localeName = defaultLocaleName();
    // Loaded outside the lock: loading may log, and logging may format messages.
    std::shared_ptr<const Messages> loaded = load(name, localeName);
    std::lock_guard<std::mutex> hold(cache().lock);
    auto inserted = cache().bundles.emplace(name, loaded); // a concurrent first load may have won
    return ResourceBundle(name, inserted.first->second);
}

std::string ResourceBundle::getString(const std::string& key) const
{
    auto found = messages->find(key);
    return found == messages->end() ? key : found->second;
}

bool ResourceBundle::containsKey(const std::string& key) const { return messages->count(key) != 0; }

void ResourceBundle::setupUnitTest()
{
    auto filled = std::make_shared<Messages>(*messages);
    for (int i = 1; i <= 5; ++i) {
        (*filled)["UT_NLS_KEY_" + std::to_string(i)] = "Error message " + std::to_string(i);
    }
    messages = filled;
    std::lock_guard<std::mutex> hold(cache().lock);
    cache().bundles[name] = messages;
}

std::string ResourceBundle::languageSuffix(const std::string& localeName)
{
    std::string lower;
    for (char c : localeName) {
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (lower.size() < 3) {
        return ".properties";
    }
    static const struct { const char* prefix; const char* suffix; } table[] = {
        {"cs", "_cs.properties"}, {"de", "_de.properties"}, {"en", ".properties"},
        {"es", "_es.properties"}, {"fr", "_fr.properties"}, {"hu", "_hu.properties"},
        {"it", "_it.properties"}, {"ja", "_ja.properties"}, {"ko", "_ko.properties"},
        {"pl", "_pl.properties"}, {"pt", "_pt_BR.properties"}, {"ru", "_ru.properties"},
    };
    for (const auto& row : table) {
        if (lower.compare(0, 2, row.prefix) == 0) {
            return row.suffix;
        }
    }
    if (lower.compare(0, 5, "zh_tw") == 0 || lower.compare(0, 5, "zh-tw") == 0) {
        return "_zh_TW.properties";
    }
    if (lower.compare(0, 2, "zh") == 0) {
        return "_zh_CN.properties";
    }
    return ".properties";
}

std::string ResourceBundle::messagesDirectory()
{
    std::string root = KorrUtils::getZRKProdRoot();
    return root.empty() ? std::string("../lodin/lib/messages/") : root + "/lib/messages/";
}

// The language of messages, as the C library would choose it (LC_ALL, then LC_MESSAGES, then
// LANG), read straight from the environment: loading the locale itself costs more than the
// rest of a catalogue lookup and tells nothing more about the language. Read once per process.
std::string ResourceBundle::defaultLocaleName()
{
    static const std::string determined =
        messagesLocaleName(KorrUtils::getenv("LC_ALL"), KorrUtils::getenv("LC_MESSAGES"), KorrUtils::getenv("LANG"));
    return determined;
}

std::string ResourceBundle::messagesLocaleName(const std::string& lcAll, const std::string& lcMessages,
                                               const std::string& lang)
{
    if (!lcAll.empty()) {
        return lcAll;
    }
    if (!lcMessages.empty()) {
        return lcMessages;
    }
    return lang.empty() ? std::string("C") : lang;
}

void ResourceBundle::parse(const std::string& content, Messages& into)
{
    std::size_t at = 0;
    std::string_view line;
    while (nextLine(content, at, line)) {
        if (line.compare(0, 3, "ZRK") != 0) {
            continue;
        }
        std::size_t eq = line.find('=');
        if (eq == std::string_view::npos) {
            continue;
        }
        std::string_view key = line.substr(0, eq);
        if (endsWith(key, ".useraction") || endsWith(key, ".explanation")) {
            continue;   // the operator's help, never formatted here
        }
        std::string text(line.substr(eq + 1));
        std::string_view next;
        while (!text.empty() && text.back() == '\\' && nextLine(content, at, next)) {
            text.pop_back();
            text.append(next);
        }
        into.emplace(std::string(key), std::move(text)); // the first definition wins
    }
}

std::shared_ptr<const ResourceBundle::Messages> ResourceBundle::load(const std::string& name,
                                                                     const std::string& localeName)
{
    auto messages = std::make_shared<Messages>();
    std::string::size_type dot = name.rfind('.');
    std::string base = dot == std::string::npos ? name : name.substr(dot + 1);
    std::string dir = messagesDirectory();
    std::string suffix = languageSuffix(localeName);
    std::string path = dir + base + suffix;
    std::string content;
    bool found = KorrUtils::readFile(path, content);
    if (!found) {
        traceModerate("Cannot load resources from " + path);
        if (suffix != ".properties") {
            path = dir + base + ".properties";
            found = KorrUtils::readFile(path, content);
            if (!found) {
                traceModerate("Cannot load resources from " + path);
            }
        }
    }
    if (found) {
        traceModerate("Loading resources from " + path);
        parse(content, *messages);
    } else if (!propsFilesMissing.exchange(true)) {
        EventLog::warningNoFormat(rd(), "File: " + path + " could not be found for ResourceBundle '" + name + "'");
    }
    return messages;
}
