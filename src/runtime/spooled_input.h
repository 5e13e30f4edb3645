// Standard input copied into a temporary file, for readers that need a file
// they can size and read again: a pipe has no size and is read once. The
// copy goes through one buffer of fixed size, so an input of any length
// costs the same memory; the file is removed when the object goes.
#pragma once

#include "runtime/platform.h"

#include <string>

namespace orbse {

class spooled_input {
public:
    // Copies all of `source` to its end. A temporary file that cannot be
    // created, written or closed, or a source that cannot be read, raises
    // the io_failure of its code and leaves no file behind.
    explicit spooled_input(platform::native_file source = platform::standard_input());
    ~spooled_input();
    spooled_input(const spooled_input&) = delete;
    spooled_input& operator=(const spooled_input&) = delete;

    // The temporary file, closed, holding the whole input.
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

} // namespace orbse
