// orbse-fields with a save fed through standard input ("-"), and the
// messages for a SAVE or a command word that is none.
#include "sample_saves.h"
#include "save_builder.h"
#include "support/run_program.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace orbse {
namespace {

namespace sb = save_builder;

const std::string fields_program = ORBSE_FIELDS_EXECUTABLE;

// A complete save, the same cut inside its units, and another whose game
// name differs in one letter, as files; and a folder for the program's
// temporary files, to see what it leaves there.
class inputs {
public:
    inputs()
    {
        complete = sb::build_save(sb::stream_rich_save(70));
        cut = sb::bytes(complete.begin(), complete.end() - 30);
        sb::bytes other = complete;
        other[5] ^= 1;
        testing::write_file(file("COMPLETE"), complete);
        testing::write_file(file("CUT"), cut);
        testing::write_file(file("OTHER"), other);
        std::filesystem::create_directory(temporary_files());
    }
    std::string file(const std::string& name) const { return saves_.file(name + ".sav"); }
    std::string temporary_files() const { return saves_.file("temporary"); }
    sb::bytes complete;
    sb::bytes cut;

private:
    testing::temp_folder saves_;
};

std::string replaced(std::string text, const std::string& from, const std::string& to)
{
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

struct piped_case {
    const char* name;
    std::vector<std::string> arguments; // PIPED is the save given as "-" or as its file
    const char* piped; // COMPLETE or CUT
};

// Each command reads the save from its pipe as from its file: the same
// output, messages and exit code, the save named "-" where the file's name
// stood, and no temporary file left behind.
TEST(fields_input, a_piped_save_reads_as_its_file)
{
    const inputs files;
    const std::vector<piped_case> cases{
        {"list", {"list", "PIPED"}, "COMPLETE"},
        {"list --json", {"list", "--json", "PIPED"}, "COMPLETE"},
        {"check", {"check", "PIPED"}, "COMPLETE"},
        {"dump", {"dump", "PIPED"}, "COMPLETE"},
        {"at", {"at", "PIPED", "0x5", "0x200"}, "COMPLETE"},
        {"diff, piped first", {"diff", "PIPED", "OTHER"}, "COMPLETE"},
        {"diff, piped second", {"diff", "OTHER", "PIPED"}, "COMPLETE"},
        {"list, cut", {"list", "PIPED"}, "CUT"},
        {"check, cut", {"check", "PIPED"}, "CUT"},
        {"dump, cut", {"dump", "PIPED"}, "CUT"},
        {"at, cut", {"at", "PIPED", "0x5"}, "CUT"},
        {"diff, cut", {"diff", "OTHER", "PIPED"}, "CUT"},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        const std::string piped_file = files.file(test.piped);
        std::vector<std::string> from_file;
        std::vector<std::string> from_pipe;
        for (const auto& argument : test.arguments) {
            const bool piped = argument == "PIPED";
            from_file.push_back(piped ? piped_file : argument == "OTHER" ? files.file("OTHER") : argument);
            from_pipe.push_back(piped ? "-" : from_file.back());
        }
        const auto& content = test.piped == std::string_view("CUT") ? files.cut : files.complete;
        const std::string input(content.begin(), content.end());
        const auto expected = testing::run_program(fields_program, from_file);
        const auto piped = testing::run_with_input(fields_program, from_pipe, input, files.temporary_files());
        EXPECT_EQ(piped.exit_code, expected.exit_code);
        EXPECT_EQ(piped.standard_output, replaced(expected.standard_output, piped_file, "-"));
        EXPECT_EQ(piped.standard_error, replaced(expected.standard_error, piped_file, "-"));
        EXPECT_FALSE(piped.standard_output.empty());
        EXPECT_TRUE(std::filesystem::is_empty(files.temporary_files()));
    }
}

// The command words as the help lists them, joined as the messages join
// them: the messages name every command there is, whichever are added.
std::string commands_in_help()
{
    const auto help = testing::lines_of(testing::run_program(fields_program, {"--help"}).standard_output);
    auto line = std::find(help.begin(), help.end(), "Subcommands:");
    std::string commands;
    for (line = line == help.end() ? line : line + 1; line != help.end() && !line->empty(); ++line) {
        const auto word = line->find_first_not_of(' ');
        commands += (commands.empty() ? "" : ", ") + line->substr(word, line->find(' ', word) - word);
    }
    return commands;
}

struct message_case {
    const char* name;
    std::vector<std::string> arguments; // FOLDER and COMPLETE stand for those paths
    int exit_code;
    std::string error; // exact
};

TEST(fields_input, messages_name_the_problem)
{
    const inputs files;
    const std::string folder = files.temporary_files();
    const std::string commands = commands_in_help();
    ASSERT_EQ(commands.rfind("list, at, check, diff, dump", 0), 0u) << commands;
    const std::string folder_message = "orbse-fields: " + folder + ": Is a folder, not a save file\n";
    const std::string twice =
        "orbse-fields: standard input (\"-\") can be read only once; name it as one SAVE at most\n";
    const std::string help_line = "\nRun with --help for more information.\n";
    const std::vector<message_case> cases{
        {"an unknown command", {"lst", "COMPLETE"}, 2,
         "orbse-fields: unknown command \"lst\"; the commands are: " + commands + help_line},
        {"no command", {}, 2, "orbse-fields: a command is required; the commands are: " + commands + help_line},
        {"list of a folder", {"list", "FOLDER"}, 2, folder_message},
        {"at in a folder", {"at", "FOLDER", "0"}, 2, folder_message},
        {"dump of a folder", {"dump", "FOLDER"}, 2, folder_message},
        {"diff with a folder", {"diff", "COMPLETE", "FOLDER"}, 2, folder_message},
        {"check of a folder, then a save", {"check", "FOLDER", "COMPLETE"}, 2, folder_message},
        {"diff of standard input twice", {"diff", "-", "-"}, 2, twice},
        {"check of standard input twice", {"check", "-", "COMPLETE", "-"}, 2, twice},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        std::vector<std::string> arguments;
        for (const auto& argument : test.arguments) {
            const bool named = argument == "FOLDER" || argument == "COMPLETE";
            arguments.push_back(named ? (argument == "FOLDER" ? folder : files.file(argument)) : argument);
        }
        const auto result = testing::run_program(fields_program, arguments);
        EXPECT_EQ(result.exit_code, test.exit_code);
        EXPECT_EQ(result.standard_error, test.error);
    }
    // check goes on to the saves after the folder.
    const auto checked = testing::run_program(fields_program, {"check", folder, files.file("COMPLETE")});
    EXPECT_EQ(checked.standard_output,
              files.file("COMPLETE") + ": version 70, 3 lists, 3 units, tail 0 bytes, complete\n");
}

// Standard input that cannot be copied (here: no folder for its temporary
// file) is reported as a save that cannot be read.
TEST(fields_input, a_failed_copy_is_a_save_that_cannot_be_read)
{
    const inputs files;
    const std::string missing_folder = files.temporary_files() + "/missing";
    const std::string input(files.complete.begin(), files.complete.end());
    const auto result = testing::run_with_input(fields_program, {"check", "-"}, input, missing_folder);
    EXPECT_EQ(result.exit_code, 2);
    EXPECT_EQ(result.standard_output, "");
    EXPECT_EQ(result.standard_error.rfind("orbse-fields: -: ", 0), 0u) << result.standard_error;
#ifndef _WIN32
    EXPECT_EQ(result.standard_error, "orbse-fields: -: Invalid filename\n");
#endif
    EXPECT_TRUE(std::filesystem::is_empty(files.temporary_files()));
}

} // namespace
} // namespace orbse
