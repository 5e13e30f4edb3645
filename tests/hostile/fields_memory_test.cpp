// orbse-fields keeps its memory small whatever the save: each command on the
// largest saves of every kind, its peak resident memory measured by the
// benchmarks' launcher, with the output thrown away as it is written.
#include "hostile_support.h"

#include <gtest/gtest.h>

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

struct large_save {
    const char* kind;
    const char* size; // MB, or linked units for deep_chain
};

TEST(fields_memory, every_command_stays_within_32_mb_on_every_kind)
{
    const std::vector<large_save> saves =
        memory_is_measurable
            ? std::vector<large_save>{{"mixed", "256"}, {"deep_chain", "1000000"}, {"reference_lists", "64"},
                                      {"long_tail", "300"}}
            : std::vector<large_save>{{"mixed", "8"}, {"deep_chain", "20000"}, {"reference_lists", "4"},
                                      {"long_tail", "16"}};
    testing::temp_folder folder;
    for (const auto& save : saves) {
        SCOPED_TRACE(save.kind);
        const auto path = folder.file(std::string(save.kind) + ".sav");
        ASSERT_EQ(testing::run_program(ORBSE_MAKE_BENCH_SAVE, {save.kind, save.size, path}).exit_code, 0);
        std::vector<std::vector<std::string>> commands{
            {"check", path}, {"list", path}, {"at", path, "0x10000"}, {"dump", path}};
        if (save.kind == std::string_view("mixed")) {
            commands.push_back({"list", "--json", path}); // the same walk, only written otherwise
        }
        for (const auto& command : commands) {
            SCOPED_TRACE(command[0] + (command[1] == "--json" ? " --json" : ""));
            // The launcher runs a shell that becomes the program, so the
            // program's stdout can go to /dev/null and the report stays ours.
            const auto run = testing::run_program(ORBSE_PEAK_MEMORY, [&] {
                std::vector<std::string> arguments{"/bin/sh", "-c", "exec \"$0\" \"$@\" >/dev/null", ORBSE_FIELDS_EXECUTABLE};
                arguments.insert(arguments.end(), command.begin(), command.end());
                return arguments;
            }());
            EXPECT_EQ(run.exit_code, 0) << run.standard_error;
            static const std::regex peak("peak_resident_bytes (\\d+)");
            std::smatch found;
            ASSERT_TRUE(std::regex_search(run.standard_output, found, peak)) << run.standard_output;
            const std::uint64_t resident = std::stoull(found[1]);
            EXPECT_GT(resident, 0u);
            if (memory_is_measurable) {
                EXPECT_LE(resident, resident_bound) << "peak " << resident;
            }
        }
        std::filesystem::remove(path);
    }
}

} // namespace
} // namespace orbse
