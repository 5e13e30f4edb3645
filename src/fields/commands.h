// The field program's commands. Each writes its results to `out` and its
// messages to standard error, and returns the exit code: 0 done, 1 a
// damaged save (after everything that could be read), 2 a save that could
// not be read at all.
#pragma once

#include "fields/output_stream.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace orbse {
class save_walk;
}

namespace orbse::fields {

class save_input;

inline constexpr int exit_done = 0;
inline constexpr int exit_damaged = 1;
inline constexpr int exit_trouble = 2;

int list_fields(const std::string& save, bool json, output_stream& out);
int show_offsets(const std::string& save, const std::vector<std::uint64_t>& offsets, output_stream& out);
// The whole walk as one JSON document (see dump_writer.h).
int dump_save(const std::string& save, output_stream& out);
int check_saves(const std::vector<std::string>& saves, output_stream& out);
// The leaves whose values differ between the saves (two or more), one line
// each; exit 1 when any differ or a save is damaged.
int diff_saves(const std::vector<std::string>& saves, bool json, output_stream& out);

// Opens the walk over a prepared save, turning what stops it before it
// starts into a message: a save that cannot be opened, or memory that runs
// out. Null after the message.
std::unique_ptr<save_walk> open_walk(const save_input& save, bool with_leaves = true);

// "orbse-fields: SAVE: text", a line on standard error.
void report_problem(const std::string& save, std::string_view text);

} // namespace orbse::fields
