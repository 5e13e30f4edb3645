// Temporary folders and whole-file reads and writes for tests.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace orbse::testing {

using bytes = std::vector<std::uint8_t>;

// A fresh folder under the system's temporary directory, removed with all
// its contents when the object goes.
class temp_folder {
public:
    temp_folder();
    ~temp_folder();
    temp_folder(const temp_folder&) = delete;
    temp_folder& operator=(const temp_folder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

bytes read_file(const std::string& path);
std::string read_text_file(const std::string& path);
void write_file(const std::string& path, const bytes& content);
void write_text_file(const std::string& path, const std::string& content);
bool file_exists(const std::string& path);
// A program's output as its lines, without their line ends.
std::vector<std::string> lines_of(const std::string& text);

} // namespace orbse::testing
