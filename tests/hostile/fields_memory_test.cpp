// orbse-fields keeps its memory small whatever the save: each command on the
// largest saves of every kind, its peak resident memory measured by the
// benchmarks' launcher, with the output thrown away as it is written.
#include "hostile_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>

namespace orbse {
namespace {

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer's shadow memory dwarfs the program's, and it slows the walk
// tenfold: the same commands then run on smaller saves of the same kinds,
// for the sanitizer's checks alone.
constexpr bool memory_is_measurable = false;
#else
constexpr bool memory_is_measurable = true;
#endif

constexpr std::uint64_t resident_bound = 32 * 1024 * 1024;
// diff walks two saves at once, each with its queue of leaves.
constexpr std::uint64_t diff_resident_bound = 64 * 1024 * 1024;

struct large_save {
    const char* kind;
    const char* size; // MB, or linked units for deep_chain
};

std::vector<large_save> large_saves()
{
    if (memory_is_measurable) {
        return {{"mixed", "256"}, {"deep_chain", "1000000"}, {"reference_lists", "64"}, {"long_tail", "300"}};
    }
    return {{"mixed", "8"}, {"deep_chain", "20000"}, {"reference_lists", "4"}, {"long_tail", "16"}};
}

// The peak resident bytes of orbse-fields with `command`, its output thrown
// away and, when given, the file `input` as its standard input; and its exit
// code.
std::pair<std::uint64_t, int> peak_of(const std::vector<std::string>& command, const std::string& input = {})
{
    // The launcher runs a shell that becomes the program, so the program's
    // stdout can go to /dev/null and the report stays ours.
    const std::string redirections = input.empty() ? ">/dev/null" : ">/dev/null <'" + input + "'";
    std::vector<std::string> arguments{"/bin/sh", "-c", "exec \"$0\" \"$@\" " + redirections,
                                       ORBSE_FIELDS_EXECUTABLE};
    arguments.insert(arguments.end(), command.begin(), command.end());
    const auto run = testing::run_program(ORBSE_PEAK_MEMORY, arguments);
    static const std::regex peak("peak_resident_bytes (\\d+)");
    std::smatch found;
    if (!std::regex_search(run.standard_output, found, peak)) {
        ADD_FAILURE() << run.standard_output << run.standard_error;
        return {0, run.exit_code};
    }
    return {std::stoull(found[1]), run.exit_code};
}

TEST(fields_memory, every_command_stays_within_32_mb_on_every_kind)
{
    const std::vector<large_save> saves = large_saves();
    testing::temp_folder folder;
    for (const auto& save : saves) {
        SCOPED_TRACE(save.kind);
        const auto path = folder.file(std::string(save.kind) + ".sav");
        ASSERT_EQ(testing::run_program(ORBSE_MAKE_BENCH_SAVE, {save.kind, save.size, path}).exit_code, 0);
        std::vector<std::vector<std::string>> commands{
            {"check", path}, {"list", path}, {"at", path, "0x10000"}, {"dump", path}};
        // The same walk, only written otherwise; on the long tail it writes
        // every byte of the tail, a piece at a time.
        if (save.kind == std::string_view("mixed") || save.kind == std::string_view("long_tail")) {
            commands.push_back({"list", "--json", path});
        }
        if (save.kind == std::string_view("long_tail")) {
            // The largest save, on standard input: copied to a temporary
            // file through a buffer of fixed size, never held whole.
            commands.push_back({"check", "-"});
        }
        for (const auto& command : commands) {
            SCOPED_TRACE(command[0] + " " + command[1]);
            const auto [resident, exit_code] = peak_of(command, command[1] == "-" ? path : std::string());
            EXPECT_EQ(exit_code, 0);
            EXPECT_GT(resident, 0u);
            if (memory_is_measurable) {
                EXPECT_LE(resident, resident_bound) << "peak " << resident;
            }
        }
        std::filesystem::remove(path);
    }
}

// A copy of the save with the byte in the middle of the file changed.
void write_changed_copy(const std::string& save, const std::string& copy)
{
    std::filesystem::copy_file(save, copy, std::filesystem::copy_options::overwrite_existing);
    std::fstream file(copy, std::ios::in | std::ios::out | std::ios::binary);
    const auto middle = static_cast<std::streamoff>(std::filesystem::file_size(copy) / 2);
    file.seekg(middle);
    const char byte = static_cast<char>(file.get() ^ 0x5A);
    file.seekp(middle);
    file.put(byte);
}

TEST(fields_memory, diff_stays_within_64_mb_on_every_kind)
{
    testing::temp_folder folder;
    for (const auto& save : large_saves()) {
        SCOPED_TRACE(save.kind);
        const auto path = folder.file(std::string(save.kind) + ".sav");
        const auto changed = folder.file(std::string(save.kind) + "-changed.sav");
        ASSERT_EQ(testing::run_program(ORBSE_MAKE_BENCH_SAVE, {save.kind, save.size, path}).exit_code, 0);
        write_changed_copy(path, changed);
        const auto [resident, exit_code] = peak_of({"diff", path, changed});
        EXPECT_EQ(exit_code, 1); // they differ, or the change broke the copy
        EXPECT_GT(resident, 0u);
        if (memory_is_measurable) {
            EXPECT_LE(resident, diff_resident_bound) << "peak " << resident;
        }
        std::filesystem::remove(path);
        std::filesystem::remove(changed);
    }
}

} // namespace
} // namespace orbse
