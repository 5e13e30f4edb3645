// The listing composes its busiest lines in place: numbers formatted by its
// own digit helpers and runs of references written whole. Each must write
// what the plain forms write: std::to_string for numbers, and the per-leaf
// writer for every slot of a run.
#include "fields/decimal_digits.h"
#include "fields/leaf_format.h"
#include "support/case_name.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

namespace orbse::fields {
namespace {

TEST(decimal_digits, every_form_writes_what_to_string_writes)
{
    // The edges of each length, where a guessed length or a carry goes wrong.
    const std::vector<std::uint64_t> values = {0,       1,        9,        10,        11,        99,
                                               100,     999,      1000,     9999,      10000,     65535,
                                               99998,   99999,    999999,   1000000,   99999990,
                                               4294967295ULL,     9999999990ULL,
                                               9999999999999999999ULL,      18446744073709551615ULL};
    for (const auto value : values) {
        SCOPED_TRACE(value);
        std::array<char, 48> text{};
        EXPECT_EQ(std::string(text.data(), put_decimal_digits(text.data(), value)), std::to_string(value));
        for (const unsigned step : {1U, 2U, 9U}) {
            decimal_counter counter(value);
            std::uint64_t expected = value;
            for (int count = 0; count < 25 && expected <= UINT64_MAX - 2 * 9; ++count) {
                ASSERT_EQ(std::string(text.data(), counter.put(text.data())), std::to_string(expected));
                counter.add(step);
                expected += step;
            }
        }
    }
}

// Every 16-bit value, since each has an entry of its own in the table
// small_decimal looks in.
TEST(decimal_digits, every_16_bit_value_is_written_as_to_string_writes_it)
{
    std::array<char, 16> text{};
    for (std::uint32_t value = 0; value <= 0xFFFF; ++value) {
        const small_decimal digits(static_cast<std::uint16_t>(value));
        const std::string expected = std::to_string(value);
        ASSERT_EQ(std::string(text.data(), digits.put(text.data())), expected);
        ASSERT_EQ(std::string(text.data(), digits.put_after_comma(text.data())), "," + expected);
    }
}

struct run_case {
    const char* name;
    std::string list_path;
    std::uint64_t first_slot;
    std::uint64_t offset;
    std::vector<std::uint16_t> objects;
};

const run_case run_cases[] = {
    {"one_slot", "units.lists[0]", 0, 52964, {7}},
    {"slots_and_offsets_gaining_a_digit", "units.lists[12]", 95, 99990, {0, 9, 10, 99, 100, 9999, 10000, 65535}},
    {"offsets_past_four_gigabytes", "units.lists[3]", 65530, 4294967290ULL, {1, 2, 3, 4, 5, 6}},
    {"a_long_list_path", "units.lists[18446744073709551615]", 0, 1, {42, 43}},
};

class reference_runs : public ::testing::TestWithParam<run_case> {};

// Writes through an output_stream into a file and gives back what it holds.
template <typename writer>
std::string written(const writer& write)
{
    const testing::temp_folder folder;
    const std::string path = folder.file("out.txt");
    platform::native_file file;
    EXPECT_EQ(platform::create_always(path, false, file), 0);
    {
        output_stream out(file);
        write(out);
    }
    platform::close(file);
    return testing::read_text_file(path);
}

class leaf_by_leaf final : public leaf_sink {
public:
    leaf_by_leaf(output_stream& out, bool json) : out_(out), json_(json) {}
    void take(const field_leaf& leaf) override { json_ ? write_leaf_json(out_, leaf) : write_leaf_line(out_, leaf); }

private:
    output_stream& out_;
    bool json_;
};

TEST_P(reference_runs, a_run_written_whole_is_its_slots_written_one_by_one)
{
    const run_case& param = GetParam();
    const reference_run run{param.list_path, param.first_slot, param.offset, param.objects};
    for (const bool json : {false, true}) {
        SCOPED_TRACE(json ? "json" : "text");
        const std::string whole = written([&](output_stream& out) {
            json ? write_references_json(out, run) : write_references_lines(out, run);
        });
        const std::string one_by_one = written([&](output_stream& out) {
            leaf_by_leaf sink(out, json);
            take_each_reference(sink, run);
        });
        EXPECT_EQ(whole, one_by_one);
        EXPECT_EQ(std::count(whole.begin(), whole.end(), '\n'), static_cast<std::ptrdiff_t>(param.objects.size()));
    }
}

INSTANTIATE_TEST_SUITE_P(table, reference_runs, ::testing::ValuesIn(run_cases), testing::case_name{});

} // namespace
} // namespace orbse::fields
