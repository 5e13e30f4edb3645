#include "runtime/spooled_input.h"

#include "runtime/data_file.h"
#include "runtime/failures.h"
#include "support/environment.h"
#include "support/failing_file_operation.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <numeric>
#include <optional>

namespace orbse {
namespace {

using testing::bytes;
using testing::temp_folder;
namespace seam = platform::seam;

// Points the system's folder for temporary files at `folder` while it
// lives: TMPDIR on POSIX, TMP (which GetTempPath reads first) on Windows.
class temporary_files_in {
public:
    explicit temporary_files_in(const std::filesystem::path& folder)
    {
        if (const char* value = std::getenv(variable)) {
            earlier_ = value;
        }
        testing::set_environment(variable, folder.string());
    }
    ~temporary_files_in()
    {
        earlier_ ? testing::set_environment(variable, *earlier_) : testing::unset_environment(variable);
    }

private:
    std::optional<std::string> earlier_;
#ifdef _WIN32
    static constexpr const char* variable = "TMP";
#else
    static constexpr const char* variable = "TMPDIR";
#endif
};

bool is_empty(const temp_folder& folder) { return std::filesystem::is_empty(folder.path()); }

// A file to spool from, open for reading; closed by the test.
platform::native_file open_source(const std::string& path)
{
    platform::native_file source;
    EXPECT_EQ(platform::open_existing_for_reading(path, source), 0);
    return source;
}

bytes counting_bytes(std::size_t count)
{
    bytes content(count);
    std::iota(content.begin(), content.end(), std::uint8_t{7});
    return content;
}

// Sizes around the copy's buffer of 64 KiB, and one of several buffers.
TEST(spooled_input, holds_the_whole_source_and_goes_with_the_object)
{
    temp_folder sources;
    temp_folder spools;
    const temporary_files_in redirected(spools.path());
    for (const std::size_t size : {0u, 1u, 65535u, 65536u, 65537u, 300000u}) {
        SCOPED_TRACE(size);
        const bytes content = counting_bytes(size);
        testing::write_file(sources.file("source"), content);
        const auto source = open_source(sources.file("source"));
        {
            const spooled_input spool(source);
            EXPECT_EQ(std::filesystem::path(spool.path()).parent_path(), spools.path());
            EXPECT_EQ(testing::read_file(spool.path()), content);
        }
        EXPECT_EQ(platform::close(source), 0);
        EXPECT_TRUE(is_empty(spools));
    }
}

// Each operation of a spool fails in turn: the failure is raised with its
// code and the temporary file is gone.
TEST(spooled_input, a_failed_operation_raises_its_code_and_leaves_no_file)
{
    constexpr platform::error_code injected = 32;
    temp_folder sources;
    temp_folder spools;
    testing::write_file(sources.file("source"), counting_bytes(200000));
    const temporary_files_in redirected(spools.path());
    for (const auto operation : {seam::file_operation::create, seam::file_operation::read,
                                 seam::file_operation::write, seam::file_operation::close}) {
        std::uint64_t failures = 0;
        for (std::uint64_t failing = 1;; ++failing) {
            SCOPED_TRACE("operation " + std::to_string(static_cast<int>(operation)) + ", number " +
                         std::to_string(failing));
            const auto source = open_source(sources.file("source"));
            std::optional<std::int32_t> raised;
            {
                const testing::failing_file_operation fault(operation, failing, injected);
                try {
                    const spooled_input spool(source);
                    EXPECT_LT(testing::failing_file_operation::operations_seen(), failing);
                } catch (const io_failure& failed) {
                    raised = failed.code();
                }
            }
            EXPECT_EQ(platform::close(source), 0);
            EXPECT_TRUE(is_empty(spools));
            if (!raised) {
                break;
            }
            EXPECT_EQ(*raised, injected);
            ++failures;
        }
        // 200000 bytes take four reads and four writes, and a read that
        // finds the end.
        const std::uint64_t expected_failures = operation == seam::file_operation::read ? 5
                                                : operation == seam::file_operation::write ? 4
                                                                                           : 1;
        EXPECT_EQ(failures, expected_failures);
    }
}

} // namespace
} // namespace orbse
