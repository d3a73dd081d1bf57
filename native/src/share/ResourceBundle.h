// One message catalogue: a properties file of "ZRK..." keys found under the product root,
// chosen by the user's language, loaded once per process and shared by every copy.
#ifndef OSTARA_RESOURCEBUNDLE_H
#define OSTARA_RESOURCEBUNDLE_H

#include <map>
#include <memory>
#include <string>

class ResourceBundle
{
public:
    // From the process-wide cache, loading the catalogue on first use; safe from any thread.
    static ResourceBundle getBundle(const std::string& name);

    // A bundle loaded for an explicit locale name, bypassing the cache (tests and tools).
    ResourceBundle(const std::string& name, const std::string& localeName);

    std::string getName() const { return name; }
    // The text for key, or key itself when the catalogue does not define it.
    std::string getString(const std::string& key) const;
    bool containsKey(const std::string& key) const;

    // Fills this bundle (and its cache entry) with UT_NLS_KEY_1..5 / "Error message 1".."5".
    void setupUnitTest();

    // File suffix for a locale name: "_fr.properties", ".properties", ...
    static std::string languageSuffix(const std::string& localeName);
    // The locale name that chooses the language of messages: the first of LC_ALL, LC_MESSAGES
    // and LANG that is set and not empty, else "C".
    static std::string messagesLocaleName(const std::string& lcAll, const std::string& lcMessages,
                                          const std::string& lang);
    // Directory of the catalogue files: <product root>/lib/messages/ or ../lodin/lib/messages/.
    static std::string messagesDirectory();
    // Parses catalogue text: only "ZRK" keys, without their ".explanation" and ".useraction"
    // help; the first definition wins, "\" continues a line.
    static void parse(const std::string& content, std::map<std::string, std::string>& into);

private:
    typedef std::map<std::string, std::string> Messages;

    ResourceBundle(const std::string& name, std::shared_ptr<const Messages> messages);
    static std::shared_ptr<const Messages> load(const std::string& name, const std::string& localeName);
    static std::string defaultLocaleName();

    std::string name;
    std::shared_ptr<const Messages> messages;
};

#endif
