#include "runtime/command_line.h"
#include "support/case_name.h"

#include <gtest/gtest.h>

namespace orbse {
namespace {

using words = std::vector<std::string>;

struct splitting_case {
    const char* name;
    const char* line;
    words expected;
};

class command_line_splitting : public ::testing::TestWithParam<splitting_case> {};

TEST_P(command_line_splitting, gives_the_words_before_the_first_empty_one)
{
    EXPECT_EQ(split_command_line(GetParam().line), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    examples, command_line_splitting,
    ::testing::Values(
        splitting_case{"program_alone", "orbse", {"orbse"}},
        splitting_case{"one_argument", "orbse save.dat", {"orbse", "save.dat"}},
        splitting_case{"separators_around_the_words", "  orbse \t save.dat  ", {"orbse", "save.dat"}},
        // A quoted stretch keeps its spaces and loses its quotes.
        splitting_case{"quoted_stretch_keeps_its_spaces", "orbse \"a b\"c", {"orbse", "a bc"}},
        splitting_case{"empty_quotes_inside_a_word", "orbse ab\"\"cd", {"orbse", "abcd"}},
        splitting_case{
            "quoted_path_with_backslashes", "orbse \"C:\\My Saves\\x.dat\"", {"orbse", "C:\\My Saves\\x.dat"}},
        // A separate "" pair is skipped; a lone quote at the end is an empty
        // word, which ends the count.
        splitting_case{"separate_empty_quotes_after", "orbse save.dat \"\"", {"orbse", "save.dat"}},
        splitting_case{"separate_empty_quotes_before", "orbse \"\" save.dat", {"orbse", "save.dat"}},
        splitting_case{"lone_quote_at_the_end", "orbse save.dat \"", {"orbse", "save.dat"}},
        splitting_case{"lone_quote_then_more_words", "orbse save.dat \" more", {"orbse", "save.dat", " more"}},
        splitting_case{"two_arguments", "orbse a b", {"orbse", "a", "b"}},
        // An unclosed stretch runs to the end of the line.
        splitting_case{"unclosed_stretch", "orbse \"a b", {"orbse", "a b"}},
        // Backslashes are ordinary; bytes above 127 belong to words.
        splitting_case{"backslash_before_a_quote", "orbse a\\\"b c\"", {"orbse", "a\\b c"}},
        splitting_case{"bytes_above_127", "orbse \xE9t\xE9.sav", {"orbse", "\xE9t\xE9.sav"}},
        // Control characters separate words as spaces do.
        splitting_case{"control_characters_separate", "orbse\x01x\x1Fy", {"orbse", "x", "y"}},
        splitting_case{"empty_line", "", {}}),
    testing::case_name{});

TEST(command_line_splitting_rule, ends_at_a_nul_byte)
{
    const std::string line("orbse a\0b", 9);
    EXPECT_EQ(split_command_line(line), (words{"orbse", "a"}));
}

// A double-byte character counts as one: its second byte is never a quote or
// a separator, even when its value is one.
std::size_t lead_byte_0x81(std::string_view line, std::size_t at)
{
    return static_cast<unsigned char>(line[at]) == 0x81 ? 2 : 1;
}

TEST(command_line_splitting_rule, steps_over_double_byte_characters_whole)
{
    EXPECT_EQ(split_command_line("p \x81\"x y", lead_byte_0x81), (words{"p", "\x81\"x", "y"}));
    EXPECT_EQ(split_command_line("p \x81 x", lead_byte_0x81), (words{"p", "\x81 x"}));
    EXPECT_EQ(split_command_line("p \x81\"x y", single_byte_character), (words{"p", "\x81x y"}));
}

} // namespace
} // namespace orbse
