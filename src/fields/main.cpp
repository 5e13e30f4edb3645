// orbse-fields: looks inside a save, field by field.
//   orbse-fields list SAVE [--json]   every leaf field, in file order
//   orbse-fields at SAVE OFFSET...    the field holding each byte
//   orbse-fields check SAVE...        complete, or where it breaks
//   orbse-fields diff SAVE SAVE...    the leaves whose values differ
//   orbse-fields dump SAVE            the whole walk as one JSON document
//   orbse-fields stats SAVE...        what each field holds across saves
//   orbse-fields set SAVE PATH=VALUE... -o OUTPUT | --in-place
//                                     a new save with those values
#include "fields/commands.h"
#include "fields/output_stream.h"
#include "fields/save_input.h"
#include "fields/set.h"
#include "fields/stats.h"
#include "runtime/platform.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <charconv>
#include <new>
#include <sstream>
#include <string>
#include <vector>

namespace {

// An offset in decimal or, after 0x, in hex.
bool parse_offset(const std::string& text, std::uint64_t& offset)
{
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char* begin = text.data() + (hex ? 2 : 0);
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(begin, end, offset, hex ? 16 : 10);
    return error == std::errc{} && stop == end && begin != end;
}

// The command words, as registered, so that a command added later is
// named too.
std::string command_list(const CLI::App& program)
{
    std::string list;
    for (const CLI::App* command : program.get_subcommands([](const CLI::App*) { return true; })) {
        list += (list.empty() ? "" : ", ") + command->get_name();
    }
    return list;
}

// CLI11 says only that a command is required, also when a word was given
// that is none: the error then names the word, and the commands there are.
CLI::ParseError without_command(const CLI::App& program)
{
    const std::vector<std::string> left = program.remaining();
    const auto is_word = [](const std::string& argument) { return !argument.empty() && argument.front() != '-'; };
    const auto word = std::find_if(left.begin(), left.end(), is_word);
    const std::string problem = word == left.end() ? "a command is required" : "unknown command \"" + *word + "\"";
    return CLI::ParseError("orbse-fields: " + problem + "; the commands are: " + command_list(program),
                           CLI::ExitCodes::RequiredError);
}

// CLI11 writes its help and its errors to C++ streams, which Windows would
// give CR LF line ends; they are gathered and written as the rest is.
int answer_parse_error(const CLI::App& program, const CLI::ParseError& error)
{
    std::ostringstream out;
    std::ostringstream err;
    const int code = program.exit(error, out, err);
    orbse::fields::output_stream standard_output;
    standard_output.write(out.str());
    standard_output.flush();
    orbse::platform::write_standard_error(err.str());
    return code == 0 ? orbse::fields::exit_done : orbse::fields::exit_trouble;
}

} // namespace

int main(int argc, char** argv)
{
    namespace fields = orbse::fields;
    // A reader that goes away early (orbse-fields list | head) then makes
    // the write fail with a code rather than a signal; the output stream
    // ends the program quietly on it, and reports any other failure.
    orbse::platform::prepare_process();
    CLI::App program("Looks inside the save files of the game, field by field: the offset, size, type, path and "
                     "value of every field, and where a damaged save breaks.",
                     "orbse-fields");
    program.set_version_flag("--version", std::string("orbse-fields ") + ORBSE_VERSION);
    program.require_subcommand(1);

    std::string list_save;
    bool json = false;
    auto* list = program.add_subcommand("list", "One line per leaf field of SAVE, in file order: offset (hex), "
                                                "size, type, path, value.");
    list->add_option("SAVE", list_save, "the save file")->required();
    list->add_flag("--json", json, "JSON Lines with the members path, offset, size, type, value (and note)");

    std::string at_save;
    std::vector<std::string> offset_texts;
    auto* at = program.add_subcommand("at", "For each OFFSET (decimal or 0x hex), the leaf field that holds "
                                            "that byte of SAVE and the records around it.");
    at->add_option("SAVE", at_save, "the save file")->required();
    at->add_option("OFFSET", offset_texts, "offsets in the file")->required();

    std::vector<std::string> check_saves;
    auto* check = program.add_subcommand("check", "One line per SAVE: its version, lists, units and tail, and "
                                                  "\"complete\", or where it breaks.");
    check->add_option("SAVE", check_saves, "save files")->required();

    std::vector<std::string> diff_saves;
    bool diff_json = false;
    auto* diff = program.add_subcommand("diff", "The leaf fields whose values differ between the SAVEs, one line "
                                                "each: path, offset in the first save, a value per save.");
    diff->add_option("SAVE", diff_saves, "two or more save files")->required()->expected(2, -1);
    diff->add_flag("--json", diff_json, "JSON Lines with the members path, offset, type and values (one per save)");

    std::string dump_save;
    auto* dump = program.add_subcommand("dump", "The whole of SAVE as one JSON document: every record with its "
                                                "offset and size, every field with its value and meaning.");
    dump->add_option("SAVE", dump_save, "the save file")->required();

    std::vector<std::string> stats_saves;
    fields::stats_options stats_options;
    auto* stats = program.add_subcommand("stats", "What each field holds across the SAVEs, its indexes made *: how "
                                                  "often it occurs, its range, its distinct and most frequent values, "
                                                  "and for bytes each offset constant or not.");
    stats->add_option("SAVE", stats_saves, "save files, or folders of them")->required();
    stats->add_flag("--by-type", stats_options.by_type, "the fields of unit objects apart for each unit type row");
    stats->add_flag("--json", stats_options.json, "JSON Lines, one record per field");

    fields::set_request set_request;
    auto* set = program.add_subcommand("set", "Writes SAVE with the leaf fields at PATH set to VALUE, as list "
                                              "writes both, and reads it back; fields that decide how the rest of "
                                              "the save is read are refused.");
    set->add_option("SAVE", set_request.save, "the save file")->required();
    set->add_option("PATH=VALUE", set_request.assignments,
                    "a leaf's path and its new value (PATH+N=VALUE: bytes or elements from N on)")
        ->required();
    auto* output = set->add_option("-o,--output", set_request.output, "the new save's file");
    auto* in_place = set->add_flag("--in-place", set_request.in_place, "write over SAVE, keeping the old as SAVE.bak");
    bool no_backup = false;
    set->add_flag("--no-backup", no_backup, "with --in-place: keep no SAVE.bak")->needs(in_place);
    output->excludes(in_place);
    set->callback([&] {
        if (!set_request.in_place && set_request.output.empty()) {
            throw CLI::RequiredError("-o OUTPUT or --in-place");
        }
        if (set_request.in_place && set_request.save == fields::standard_input_name) {
            throw CLI::ValidationError("--in-place", "standard input cannot be written over");
        }
        set_request.keep_backup = !no_backup;
    });

    program.footer("Exit status: 0 success, 1 a damaged save (after everything that could be read) or, for diff, "
                   "saves that differ, 2 a usage error or a save that cannot be read at all, 141 (quietly) the "
                   "reader of the output closed it before the end.");
    try {
        program.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const bool no_command = program.get_subcommands().empty() && error.get_exit_code() != 0;
        return answer_parse_error(program, no_command ? without_command(program) : error);
    }
    if (fields::names_standard_input_twice(*diff ? diff_saves : *stats ? stats_saves : check_saves)) {
        orbse::platform::write_standard_error("orbse-fields: standard input (\"-\") can be read only once; "
                                              "name it as one SAVE at most\n");
        return fields::exit_trouble;
    }

    fields::output_stream out;
    const auto run_command = [&]() -> int {
        if (*list) {
            return fields::list_fields(list_save, json, out);
        }
        if (*at) {
            std::vector<std::uint64_t> offsets;
            for (const auto& text : offset_texts) {
                std::uint64_t offset = 0;
                if (!parse_offset(text, offset)) {
                    orbse::platform::write_standard_error("orbse-fields: not an offset: " + text + "\n");
                    return fields::exit_trouble;
                }
                offsets.push_back(offset);
            }
            return fields::show_offsets(at_save, offsets, out);
        }
        if (*diff) {
            return fields::diff_saves(diff_saves, diff_json, out);
        }
        if (*dump) {
            return fields::dump_save(dump_save, out);
        }
        if (*stats) {
            return fields::stats_of_saves(stats_saves, stats_options, out);
        }
        if (*set) {
            return fields::set_fields(set_request, out);
        }
        return fields::check_saves(check_saves, out);
    };
    // Memory that runs out part way through a walk ends the command as it
    // ends one that cannot start.
    try {
        return run_command();
    } catch (const std::bad_alloc&) {
        out.flush();
        orbse::platform::write_standard_error("orbse-fields: Out of memory\n");
        return fields::exit_trouble;
    }
}
