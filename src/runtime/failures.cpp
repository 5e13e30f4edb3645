#include "runtime/failures.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

namespace orbse {

namespace {

std::string_view file_base_name(std::string_view path)
{
    const auto separator = path.find_last_of("/\\");
    return separator == std::string_view::npos ? path : path.substr(separator + 1);
}

// FNV-1a folded to 16 bits: a short, stable tag for a source file name.
std::uint32_t file_tag(std::string_view name)
{
    std::uint32_t hash = 2166136261u;
    for (const char byte : name) {
        hash ^= static_cast<unsigned char>(byte);
        hash *= 16777619u;
    }
    return (hash >> 16) ^ (hash & 0xFFFFu);
}

struct fixed_message {
    std::int32_t code;
    std::string_view text;
};

constexpr std::array<fixed_message, 7> fixed_messages{{
    {2, "File not found"},
    {3, "Invalid filename"},
    {4, "Too many open files"},
    {5, "File access denied"},
    {100, "Read beyond end of file"},
    {101, "Disk full"},
    {106, "Invalid numeric input"},
}};

void throw_memory_failure()
{
    throw memory_failure(code_site(check_site::current()));
}

} // namespace

std::uint32_t code_site(const check_site& site)
{
    return (file_tag(file_base_name(site.file_name())) << 16) | (site.line() & 0xFFFFu);
}

std::string_view io_error_message(std::int32_t code, std::array<char, 32>& storage)
{
    for (const auto& row : fixed_messages) {
        if (row.code == code) {
            return row.text;
        }
    }
    const int length = std::snprintf(storage.data(), storage.size(), "I/O error %d", static_cast<int>(code));
    return {storage.data(), static_cast<std::size_t>(length)};
}

io_failure::io_failure(std::int32_t code, std::uint32_t address) : failure(address), code_(code)
{
    std::array<char, 32> storage{};
    const std::string_view text = io_error_message(code, storage);
    message_length_ = std::min(text.size(), message_.size());
    std::memcpy(message_.data(), text.data(), message_length_);
}

void raise_pending_io_failure(const check_site& site)
{
    const std::int32_t code = std::exchange(pending_io_error, 0);
    throw io_failure(code, code_site(site));
}

void install_memory_failure_handler() { std::set_new_handler(throw_memory_failure); }

} // namespace orbse
