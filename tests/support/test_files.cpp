#include "support/test_files.h"

#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <stdexcept>

namespace orbse::testing {

temp_folder::temp_folder()
{
    std::random_device entropy;
    for (int attempt = 0; attempt < 100; ++attempt) {
        auto candidate = std::filesystem::temp_directory_path() / ("orbse-test-" + std::to_string(entropy()));
        if (std::filesystem::create_directory(candidate)) {
            path_ = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder");
}

temp_folder::~temp_folder()
{
    std::error_code ignored;
    // Tests may leave read-only files and folders behind; open them up first.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
    }
    std::filesystem::remove_all(path_, ignored);
}

bytes read_file(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw std::runtime_error("cannot read " + path);
    }
    return bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::string read_text_file(const std::string& path)
{
    const bytes content = read_file(path);
    return std::string(content.begin(), content.end());
}

void write_file(const std::string& path, const bytes& content)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(content.data()), static_cast<std::streamsize>(content.size()));
    if (!file) {
        throw std::runtime_error("cannot write " + path);
    }
}

void write_text_file(const std::string& path, const std::string& content)
{
    write_file(path, bytes(content.begin(), content.end()));
}

bool file_exists(const std::string& path)
{
    std::error_code ignored;
    return std::filesystem::exists(path, ignored);
}

std::vector<std::string> lines_of(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

} // namespace orbse::testing
