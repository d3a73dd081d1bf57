// A process-wide string map through which components publish values to each other, such as
// the controller's log directory for the diagnostics. The first value set for a key stays.
#ifndef OSTARA_KORRENVIRONMENT_H
#define OSTARA_KORRENVIRONMENT_H

#include <string>

class KorrEnvironment
{
public:
    // Throws PropertyNotFoundException for a key that was never set.
    static std::string getProperty(const std::string& key);
    // Without effect when the key is already present.
    static void setProperty(const std::string& key, const std::string& value);

private:
    KorrEnvironment();
};

#endif
