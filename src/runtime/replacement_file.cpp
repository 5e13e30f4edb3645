#include "runtime/replacement_file.h"

#include "runtime/data_file.h"
#include "runtime/failures.h"

#include <utility>

namespace orbse {
namespace {

[[noreturn]] void fail_with(platform::error_code code, const check_site& site = check_site::current())
{
    pending_io_error = code;
    raise_pending_io_failure(site);
}

} // namespace

replacement_file::replacement_file(std::string final_name) : final_name_(std::move(final_name))
{
    if (const auto code = platform::create_beside(final_name_, file_, path_); code != 0) {
        fail_with(code);
    }
    open_ = true;
}

// A file that will not go is left where it is: by now the failure that
// stopped the work is what gets reported.
replacement_file::~replacement_file()
{
    if (open_) {
        static_cast<void>(platform::close(file_));
    }
    if (!placed_) {
        static_cast<void>(platform::remove_file(path_));
    }
}

void replacement_file::write(std::span<const unsigned char> bytes)
{
    std::size_t put = 0;
    if (const auto code = platform::write(file_, bytes.data(), bytes.size(), put); code != 0) {
        fail_with(code);
    }
    if (put < bytes.size()) {
        fail_with(short_write); // the system stopped taking bytes: no room left
    }
}

void replacement_file::finish()
{
    const auto flushed = platform::flush_to_disk(file_);
    open_ = false;
    const auto closed = platform::close(file_);
    if (flushed != 0 || closed != 0) {
        fail_with(flushed != 0 ? flushed : closed);
    }
}

void replacement_file::put_in_place(const std::string& backup)
{
    if (!backup.empty()) {
        if (const auto code = platform::rename_replacing(final_name_, backup); code != 0) {
            fail_with(code);
        }
    }
    if (const auto code = platform::rename_replacing(path_, final_name_); code != 0) {
        if (!backup.empty()) {
            static_cast<void>(platform::rename_replacing(backup, final_name_));
        }
        fail_with(code);
    }
    placed_ = true;
}

} // namespace orbse
