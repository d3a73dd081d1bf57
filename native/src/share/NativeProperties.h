// A key=value properties file read into an ordered map of strings, with typed look-ups driven
// by NativePropertyItem. Also used as a plain string map (the controller's status report).
// A copy has the entries only: it cannot be reloaded and is neither agent nor logger
// properties. Not locked: one owner reads and reloads it.
#ifndef OSTARA_NATIVEPROPERTIES_H
#define OSTARA_NATIVEPROPERTIES_H

#include <cstdint>
#include <iosfwd>
#include <map>
#include <string>

class NativePropertyItem;

class NativeProperties
{
public:
    NativeProperties();
    NativeProperties(const NativeProperties& other);
    // Replaces the entries only; the target keeps its own file.
    NativeProperties& operator=(const NativeProperties& other);
    virtual ~NativeProperties();

    // Lines are "key=value", both trimmed; a line starting with "#" is a comment; the first
    // of two equal keys wins; bytes pass unchanged. On failure (KorrException) the entries
    // read before stay.
    void loadProperties(const std::string& path);
    // Reads the file again only when its size or modification time changed since it was
    // last read: the controller asks before every start, and most passes find it unchanged.
    void reloadProperties();
    void setProperty(const std::string& key, const std::string& value);
    bool contains(const NativePropertyItem& item) const;
    // The item's default when the key is absent; a present but invalid value throws.
    std::string getPropertyAsString(const NativePropertyItem& item) const;
    int32_t getPropertyAsInteger(const NativePropertyItem& item) const;
    bool getPropertyAsBoolean(const NativePropertyItem& item) const;
    bool isAgentProperties() const;
    bool isLoggerProperties() const;
    const std::map<std::string, std::string>& getEntries() const { return entries; }

private:
    void read();

    std::map<std::string, std::string> entries;
    std::string propertiesFile;
    // The size and modification time (nanoseconds) of the file when it was last read.
    std::uintmax_t readSize = 0;
    long long readTime = 0;
    bool readKnown = false;
};

// "k1=v1,k2=v2" in key order; nothing for an empty map.
std::ostream& operator<<(std::ostream& out, const NativeProperties& properties);

#endif
