#include "NLS.h"

#include <vector>

#include "FFDC.h"
#include "KorrException.h"
#include "RasDescriptor.h"
#include "ResourceBundle.h"

NLS NLS::impl;

NLS::NLS() {}

namespace {

// Text being substituted, kept as pieces so that an insert which itself contains "{1}" is
// never mistaken for a placeholder.
struct Piece {
    std::string text;
    bool fromInsert;
};

bool substitute(std::vector<Piece>& pieces, const std::string& placeholder, const std::string& insert)
{
    for (std::size_t p = 0; p < pieces.size(); ++p) {
        if (pieces[p].fromInsert) {
            continue;
        }
        std::string::size_type at = pieces[p].text.find(placeholder);
        if (at == std::string::npos) {
            continue;
        }
        std::string before = pieces[p].text.substr(0, at);
        std::string after = pieces[p].text.substr(at + placeholder.size());
        pieces[p].text = before;
        pieces.insert(pieces.begin() + p + 1, Piece{insert, true});
        pieces.insert(pieces.begin() + p + 2, Piece{after, false});
        return true;
    }
    return false;
}

bool contains(const std::vector<Piece>& pieces, const std::string& placeholder)
{
    for (const Piece& piece : pieces) {
        if (!piece.fromInsert && piece.text.find(placeholder) != std::string::npos) {
            return true;
        }
    }
    return false;
}

std::string placeholder(int i) { return "{" + std::to_string(i) + "}"; }

} // namespace

std::string NLS::internalFormat(const std::string& className, const std::string& bundleName, const std::string& key,
                                int count, const std::string* inserts)
{
    std::string text = ResourceBundle::getBundle(bundleName).getString(key);
    if (text == key) {
        for (int i = 0; i < count; ++i) {
            text += " " + inserts[i];
        }
        return text;
    }
    for (std::string::size_type at = text.find("''"); at != std::string::npos; at = text.find("''", at + 1)) {
        text.replace(at, 2, "'");
    }
    std::vector<Piece> pieces{Piece{text, false}};
    int used = 0;
    while (used < count && used <= 9 && substitute(pieces, placeholder(used), inserts[used])) {
        ++used;
    }
    if (used < count) {
        KorrException e("NLS::format() call from class: " + className + " for key " + key +
                        " - Not all inserts matched (" + std::to_string(count) + " were supplied, only " +
                        std::to_string(used) + " used)");
        FFDC::capture("NLS", "internalFormat", FFDC::PROBE_001(), &e);
    } else if (count <= 9 && contains(pieces, placeholder(count))) {
        KorrException e("NLS::format() call from class: " + className + " for key " + key +
                        " - insufficient inserts (" + std::to_string(count) + " were supplied)");
        FFDC::capture("NLS", "internalFormat", FFDC::PROBE_002(), &e);
    }
    std::string result;
    for (const Piece& piece : pieces) {
        result += piece.text;
    }
    return result;
}

#define OSTARA_NLS_FORMS(First, CLASS, BUNDLE)                                                           \
    std::string NLS::format(First f, const std::string& key) { return internalFormat(CLASS, BUNDLE, key, 0, nullptr); } \
    std::string NLS::format(First f, const std::string& key, I a)                                        \
    {                                                                                                     \
        std::string v[] = {a.str()};                                                                      \
        return internalFormat(CLASS, BUNDLE, key, 1, v);                                                  \
    }                                                                                                     \
    std::string NLS::format(First f, const std::string& key, I a, I b)                                   \
    {                                                                                                     \
        std::string v[] = {a.str(), b.str()};                                                             \
        return internalFormat(CLASS, BUNDLE, key, 2, v);                                                  \
    }                                                                                                     \
    std::string NLS::format(First f, const std::string& key, I a, I b, I c)                              \
    {                                                                                                     \
        std::string v[] = {a.str(), b.str(), c.str()};                                                    \
        return internalFormat(CLASS, BUNDLE, key, 3, v);                                                  \
    }                                                                                                     \
    std::string NLS::format(First f, const std::string& key, I a, I b, I c, I d)                         \
    {                                                                                                     \
        std::string v[] = {a.str(), b.str(), c.str(), d.str()};                                           \
        return internalFormat(CLASS, BUNDLE, key, 4, v);                                                  \
    }                                                                                                     \
    std::string NLS::format(First f, const std::string& key, I a, I b, I c, I d, I e)                    \
    {                                                                                                     \
        std::string v[] = {a.str(), b.str(), c.str(), d.str(), e.str()};                                  \
        return internalFormat(CLASS, BUNDLE, key, 5, v);                                                  \
    }

OSTARA_NLS_FORMS(const RasDescriptor&, f.getClassName(), f.getMessageBundle())
OSTARA_NLS_FORMS(const std::string&, "Unknown", f)
#undef OSTARA_NLS_FORMS
