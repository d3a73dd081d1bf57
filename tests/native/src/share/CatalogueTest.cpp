// Guards the shipped catalogues against the code: every key the sources use is defined with
// an explanation and a user action, and every literal-key format call passes as many
// inserts as its text has placeholders.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include <gtest/gtest.h>

#include "ResourceBundle.h"

namespace fs = std::filesystem;

namespace {

const char* const CATALOGUES[] = {"ZRKNVMessages", "ZRKNVElements", "ZRKPCMessages", "ZRKPCElements"};

std::string readAll(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string catalogueDir() { return std::string(OSTARA_PRODUCT_ROOT) + "/lib/messages/"; }

std::map<std::string, std::string> allTexts()
{
    std::map<std::string, std::string> texts;
    for (const char* c : CATALOGUES) {
        ResourceBundle::parse(readAll(catalogueDir() + c + ".properties"), texts);
    }
    return texts;
}

std::vector<fs::path> productSources()
{
    std::vector<fs::path> files;
    const char* root = OSTARA_SOURCE_DIR;
    for (const char* dir : {"native", "native.processcontroller", "native.processcontroller.service"}) {
        fs::path base = fs::path(root) / dir;
        if (!fs::exists(base)) {
            continue;
        }
        for (const auto& entry : fs::recursive_directory_iterator(base)) {
            std::string ext = entry.path().extension().string();
            if (entry.is_regular_file() && (ext == ".cpp" || ext == ".h" || ext == ".java")) {
                files.push_back(entry.path());
            }
        }
    }
    return files;
}

int placeholderCount(const std::string& text)
{
    int count = 0;
    while (text.find("{" + std::to_string(count) + "}") != std::string::npos) {
        ++count;
    }
    return count;
}

// Splits the argument list that starts behind an opening parenthesis at top-level commas.
std::vector<std::string> arguments(const std::string& source, std::string::size_type open)
{
    std::vector<std::string> args;
    std::string current;
    int depth = 0;
    bool inString = false;
    for (std::string::size_type i = open + 1; i < source.size(); ++i) {
        char c = source[i];
        if (inString) {
            current += c;
            if (c == '\\') {
                current += source[++i];
            } else if (c == '"') {
                inString = false;
            }
            continue;
        }
        if (c == '"') {
            inString = true;
        } else if (c == '(' || c == '{' || c == '[') {
            ++depth;
        } else if (c == ')' || c == '}' || c == ']') {
            if (depth == 0) {
                args.push_back(current);
                return args;
            }
            --depth;
        } else if (c == ',' && depth == 0) {
            args.push_back(current);
            current.clear();
            continue;
        }
        current += c;
    }
    return args;
}

} // namespace

TEST(CatalogueTest, EveryShippedKeyHasTextExplanationAndUserAction)
{
    for (const char* c : CATALOGUES) {
        std::string content = readAll(catalogueDir() + c + ".properties");
        ASSERT_FALSE(content.empty()) << c << " is not staged in " << catalogueDir();
        std::map<std::string, std::string> texts;
        ResourceBundle::parse(content, texts);
        for (const auto& entry : texts) {
            EXPECT_FALSE(entry.second.empty()) << entry.first;
            EXPECT_NE(content.find("\n" + entry.first + ".explanation="), std::string::npos) << entry.first;
            EXPECT_NE(content.find("\n" + entry.first + ".useraction="), std::string::npos) << entry.first;
            for (int i = 0; i < placeholderCount(entry.second); ++i) {
                std::string p = "{" + std::to_string(i) + "}";
                EXPECT_EQ(entry.second.find(p), entry.second.rfind(p)) << entry.first << " repeats " << p;
            }
        }
    }
}

TEST(CatalogueTest, EveryKeyTheCodeUsesIsDefined)
{
    std::map<std::string, std::string> texts = allTexts();
    std::vector<fs::path> sources = productSources();
    ASSERT_FALSE(sources.empty());
    std::regex key("\"(ZRK(NV|PC)[0-9]{4}_[A-Z0-9_]+|ZRK(NV|PC)_[A-Z0-9_]+)\"");
    int seen = 0;
    for (const fs::path& file : sources) {
        std::string source = readAll(file);
        for (std::sregex_iterator it(source.begin(), source.end(), key), end; it != end; ++it) {
            ++seen;
            EXPECT_EQ(texts.count((*it)[1]), 1u) << (*it)[1] << " used in " << file << " is in no catalogue";
        }
    }
    EXPECT_GT(seen, 0);
}

TEST(CatalogueTest, LiteralKeyFormatCallsPassOneInsertPerPlaceholder)
{
    std::map<std::string, std::string> texts = allTexts();
    std::regex literalKey("^\\s*\"(ZRK[A-Z0-9_]+)\"\\s*$");
    int checked = 0;
    for (const fs::path& file : productSources()) {
        std::string source = readAll(file);
        for (std::string::size_type at = source.find("NLS::format("); at != std::string::npos;
             at = source.find("NLS::format(", at + 1)) {
            std::vector<std::string> args = arguments(source, at + std::string("NLS::format").size());
            std::smatch m;
            if (args.size() < 2 || !std::regex_match(args[1], m, literalKey) || !texts.count(m[1])) {
                continue;
            }
            ++checked;
            int inserts = static_cast<int>(args.size()) - 2;
            EXPECT_EQ(inserts, placeholderCount(texts[m[1]])) << m[1] << " in " << file;
        }
    }
    EXPECT_GT(checked, 0);
}
