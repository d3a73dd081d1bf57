#include "TempDir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

TempDir::TempDir()
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/ostara-test-XXXXXX";
    char* made = mkdtemp(&pattern[0]);
    if (!made) {
        throw std::runtime_error("mkdtemp failed");
    }
    dir = made;
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::permissions(dir, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(dir, ignored);
}

std::string TempDir::write(const std::string& name, const std::string& text) const
{
    std::string path = file(name);
    std::ofstream out(path, std::ios::binary);
    out << text;
    return path;
}

std::string TempDir::read(const std::string& name) const
{
    std::ifstream in(file(name), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}
