// A SAVE as the command line names it, made ready to open. "-" stands for
// standard input, which is first copied to a temporary file: the walk needs
// a file whose size it knows (the tail runs to its end), and diff reads its
// saves twice; a pipe allows neither. Messages and output keep naming the
// save as it was given.
#pragma once

#include "runtime/spooled_input.h"

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace orbse::fields {

inline constexpr std::string_view standard_input_name = "-";

class save_input {
public:
    // The save named `given`, ready to open; null, after a message on
    // standard error, when it is not: a folder, or standard input that could
    // not be copied (its read failed, or the temporary file could not be
    // written).
    static std::unique_ptr<save_input> prepare(const std::string& given);

    // As given, for messages and output.
    const std::string& name() const { return name_; }
    // The file to open.
    const std::string& path() const { return spool_ ? spool_->path() : name_; }

private:
    explicit save_input(std::string name) : name_(std::move(name)) {}

    std::string name_;
    std::unique_ptr<spooled_input> spool_;
};

// Whether standard input is named more than once among `saves`: it can be
// read only once.
bool names_standard_input_twice(const std::vector<std::string>& saves);

} // namespace orbse::fields
