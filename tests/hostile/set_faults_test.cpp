// orbse-fields set with each of its file operations failing in turn: a run
// either ends with the new save in its place, or fails and leaves every
// file as it was, with nothing written beside them.
#include "fields/output_stream.h"
#include "fields/set.h"
#include "hostile_support.h"
#include "runtime/platform.h"
#include "support/failing_file_operation.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

namespace orbse {
namespace {

namespace seam = platform::seam;

std::set<std::string> names_in(const std::filesystem::path& folder)
{
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

struct placement {
    const char* name;
    bool in_place;
};

TEST(set_faults, every_file_operation_fails_cleanly)
{
    constexpr platform::error_code injected = 29; // a write fault
    const testing::temp_folder folder;
    const testing::temp_folder lines_folder;
    const std::string save = folder.file("sweep.sav");
    const std::string output = folder.file("new.sav");
    const testing::bytes old_bytes = testing::small_rich_save();
    const testing::bytes older_output{'o', 'l', 'd'};
    testing::bytes new_bytes = old_bytes;
    new_bytes[0xbc] = 0x88; // header.start_gold 5000
    new_bytes[0xbd] = 0x13;
    new_bytes[0x3481] = 0xff; // the second byte of resource_layer.row[3].column[0]
    for (const placement& how : {placement{"to an output", false}, placement{"in place", true}}) {
        for (const auto operation : {seam::file_operation::open, seam::file_operation::create, seam::file_operation::read,
                                     seam::file_operation::write, seam::file_operation::size,
                                     seam::file_operation::position, seam::file_operation::close,
                                     seam::file_operation::flush, seam::file_operation::rename,
                                     seam::file_operation::remove}) {
            std::uint64_t failures = 0;
            for (std::uint64_t failing = 1;; ++failing) {
                SCOPED_TRACE(std::string(how.name) + ", operation " + std::to_string(static_cast<int>(operation)) +
                             ", number " + std::to_string(failing));
                std::filesystem::remove(save + ".bak");
                testing::write_file(save, old_bytes);
                testing::write_file(output, older_output);
                const std::set<std::string> before = names_in(folder.path());
                platform::native_file lines;
                ASSERT_EQ(platform::create_always(lines_folder.file("lines"), false, lines), 0);
                fields::set_request request{save, {"header.start_gold=5000", "resource_layer.row[3].column[0]+1=255"},
                                            how.in_place ? "" : output, how.in_place, true};
                int exit_code = 0;
                {
                    fields::output_stream out(lines);
                    const testing::failing_file_operation fault(operation, failing, injected);
                    exit_code = fields::set_fields(request, out);
                    out.discard(); // the lines go to a file the fault may have let fail
                }
                EXPECT_EQ(platform::close(lines), 0);
                // A failure that changes nothing the run writes (closing a
                // file it only read) may let it succeed.
                if (exit_code == 0) {
                    EXPECT_EQ(testing::read_file(how.in_place ? save : output), new_bytes);
                    if (how.in_place) {
                        EXPECT_EQ(testing::read_file(save + ".bak"), old_bytes);
                    }
                } else {
                    ++failures;
                    EXPECT_EQ(exit_code, 2);
                    EXPECT_EQ(testing::read_file(save), old_bytes);
                    EXPECT_EQ(testing::read_file(output), older_output);
                    EXPECT_EQ(names_in(folder.path()), before);
                }
                if (testing::failing_file_operation::operations_seen() < failing) {
                    EXPECT_EQ(exit_code, 0);
                    break;
                }
            }
            // Every kind of operation set does is met and fails it, but the
            // removal, which only a failure already met calls for.
            if (operation == seam::file_operation::remove) {
                EXPECT_EQ(failures, 0u);
            } else {
                EXPECT_GT(failures, 0u);
            }
        }
    }
}

} // namespace
} // namespace orbse
