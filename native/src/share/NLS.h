// Formats a catalogue text with numbered inserts {0}..{9}. Never throws: a missing
// catalogue or key yields the key followed by its inserts.
#ifndef OSTARA_NLS_H
#define OSTARA_NLS_H

#include <string>

class RasDescriptor;

// One insert: a string, or a C string where a null pointer reads "null".
class NLSInsert
{
public:
    NLSInsert(const std::string& s) : text(s) {}
    NLSInsert(const char* s) : text(s ? s : "null") {}
    const std::string& str() const { return text; }

private:
    std::string text;
};

class NLS
{
public:
    typedef const NLSInsert& I;

    static std::string format(const RasDescriptor& rd, const std::string& key);
    static std::string format(const RasDescriptor& rd, const std::string& key, I a);
    static std::string format(const RasDescriptor& rd, const std::string& key, I a, I b);
    static std::string format(const RasDescriptor& rd, const std::string& key, I a, I b, I c);
    static std::string format(const RasDescriptor& rd, const std::string& key, I a, I b, I c, I d);
    static std::string format(const RasDescriptor& rd, const std::string& key, I a, I b, I c, I d, I e);

    static std::string format(const std::string& bundleName, const std::string& key);
    static std::string format(const std::string& bundleName, const std::string& key, I a);
    static std::string format(const std::string& bundleName, const std::string& key, I a, I b);
    static std::string format(const std::string& bundleName, const std::string& key, I a, I b, I c);
    static std::string format(const std::string& bundleName, const std::string& key, I a, I b, I c, I d);
    static std::string format(const std::string& bundleName, const std::string& key, I a, I b, I c, I d, I e);

    static std::string internalFormat(const std::string& className, const std::string& bundleName,
                                      const std::string& key, int count, const std::string* inserts);

private:
    NLS();
    NLS(const NLS&);
    NLS& operator=(const NLS&);
    static NLS impl;
};

#endif
