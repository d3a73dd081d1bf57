#include "KorrEnvironment.h"

#include <map>
#include <mutex>

#include "PropertyNotFoundException.h"

namespace {

// Written at start-up, but the Java side may publish from several threads: a lock keeps the
// map whole. Never destroyed, so that it can be read during static destruction.
struct Properties {
    std::mutex lock;
    std::map<std::string, std::string> values;
};

Properties& properties()
{
    static Properties* p = new Properties;
    return *p;
}

} // namespace

std::string KorrEnvironment::getProperty(const std::string& key)
{
    Properties& p = properties();
    {
        std::lock_guard<std::mutex> hold(p.lock);
        auto found = p.values.find(key);
        if (found != p.values.end()) {
            return found->second;
        }
    }
    throw PropertyNotFoundException(key);
}

void KorrEnvironment::setProperty(const std::string& key, const std::string& value)
{
    Properties& p = properties();
    std::lock_guard<std::mutex> hold(p.lock);
    p.values.emplace(key, value);
}
