// A file written beside the name it is to have and given that name only
// once it is whole: until then the file of that name, if any, stays as it
// was, and a failure on the way leaves no half-written file behind.
#pragma once

#include "runtime/platform.h"

#include <span>
#include <string>

namespace orbse {

class replacement_file {
public:
    // Creates the file beside `final_name`. A file that cannot be created
    // raises the io_failure of its code.
    explicit replacement_file(std::string final_name);
    // Removes the file unless it was put in place.
    ~replacement_file();
    replacement_file(const replacement_file&) = delete;
    replacement_file& operator=(const replacement_file&) = delete;

    // Appends `bytes`; raises the io_failure of a write that fails or
    // stops short.
    void write(std::span<const unsigned char> bytes);

    // Puts the bytes on the disk and closes the file, which may then be read
    // back through path(); raises the io_failure of either step.
    void finish();

    // Where the file is until it is put in place.
    const std::string& path() const { return path_; }

    // Gives the finished file its final name, replacing the file there.
    // With a `backup` name, the file there takes that name first (replacing
    // a file of that name), and gets its own back if the last step fails.
    // Raises the io_failure of the failing rename; the finished file is then
    // removed and the final name holds what it held before.
    void put_in_place(const std::string& backup = {});

private:
    std::string final_name_;
    std::string path_;
    platform::native_file file_;
    bool open_ = false;
    bool placed_ = false;
};

} // namespace orbse
