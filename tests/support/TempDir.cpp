#include "TempDir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

TempDir::TempDir()
{
    // A new name each try; create_directory reports whether this call made it.
    const char* base = std::getenv("TMPDIR");
    std::string parent = base && *base ? base : std::filesystem::temp_directory_path().generic_string();
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::ostringstream name;
        name << parent << "/ostara-test-" << std::hex << random() << random();
        std::error_code error;
        if (std::filesystem::create_directory(name.str(), error)) {
            std::filesystem::permissions(name.str(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::replace, error);
            dir = name.str();
            return;
        }
    }
    throw std::runtime_error("no temporary directory could be created under " + parent);
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
