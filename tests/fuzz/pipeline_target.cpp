#include "pipeline_target.h"

#include "fields/commands.h"
#include "fields/dump_writer.h"
#include "fields/output_stream.h"
#include "fields/set.h"
#include "orbsaves/save_walk.h"
#include "orbse/run.h"
#include "runtime/data_file.h"
#include "runtime/failures.h"
#include "runtime/platform.h"
#include "sample_saves.h"
#include "runtime/text_channel.h"
#include "support/plain_diff.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>
#include <unistd.h>

namespace {

// The loader reads files, so each input goes to one scratch file, in memory
// where the system offers it. The report goes beside it: a regular file gets
// the report channel's block writes, where a device would see one write per
// line.
std::string scratch_path(const char* suffix)
{
    const char* folder = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    return std::string(folder) + "/orbse-fuzz-" + std::to_string(::getpid()) + suffix;
}

const std::string& scratch_save_path()
{
    static const std::string path = scratch_path(".sav");
    return path;
}

const std::string& scratch_report_path()
{
    static const std::string path = scratch_path(".inf");
    return path;
}

const std::string& scratch_diff_path()
{
    static const std::string path = scratch_path(".diff");
    return path;
}

const std::string& scratch_set_path()
{
    static const std::string path = scratch_path("-set.sav");
    return path;
}

const std::string& scratch_fewer_path()
{
    static const std::string path = scratch_path("-fewer.sav");
    return path;
}

// The save every input is compared with, written once and removed when the
// process ends normally.
const std::string& diff_seed_path()
{
    // Never destroyed, so that the exit handler can still name it.
    static const std::string& path = *[] {
        auto* seed = new std::string(scratch_path("-seed.sav"));
        orbse::save_builder::write_file(*seed, orbse::save_builder::build_save(orbse::save_builder::stream_rich_save(70)));
        std::atexit([] { std::remove(diff_seed_path().c_str()); });
        return seed;
    }();
    return path;
}

// The scratch files go after each input, so that runs do not pile them up
// (the fuzzer may end without running exit handlers); a crash leaves them.
void remove_scratch_files()
{
    std::remove(scratch_save_path().c_str());
    std::remove(scratch_report_path().c_str());
    std::remove(scratch_diff_path().c_str());
    std::remove(scratch_set_path().c_str());
    std::remove(scratch_fewer_path().c_str());
}

void write_scratch_save(const std::uint8_t* data, std::size_t size)
{
    std::FILE* file = std::fopen(scratch_save_path().c_str(), "wb");
    if (file == nullptr || std::fwrite(data, 1, size, file) != size || std::fclose(file) != 0) {
        std::abort(); // the harness itself is broken, not the program
    }
}

// The pictures are thrown away as they are written.
const orbse::picture_names discarded_pictures{"/dev/null", "/dev/null", "/dev/null"};

// The walk over the same input, its leaves written as dump's document into
// a discarding output: they must tile the file from its start (each begins
// where the one before ended), the writer must take every walk, however it
// ends, without a part it cannot place (which it raises), and the walk must
// reach the end exactly when the loader did, and break exactly where a
// short read ended the loading.
void walk(std::size_t size, bool loaded_whole, bool ended_short, orbse::testing::plain_save& plain)
{
    orbse::platform::native_file discard;
    if (orbse::platform::create_always("/dev/null", false, discard) != 0) {
        std::abort(); // the harness itself is broken, not the program
    }
    std::uint64_t tiled = 0;
    bool broken = false;
    std::uint64_t break_offset = 0;
    std::uint64_t break_needed = 0;
    {
        orbse::fields::output_stream out(discard);
        // The document is checked for its shape alone: the tail's further
        // pieces are left to the plain comparison, which keeps them.
        orbse::fields::dump_writer writer(out, [] { return std::span<const std::uint8_t>(); });
        orbse::save_walk walked(scratch_save_path());
        for (auto record = walked.next(); !record.empty(); record = walked.next()) {
            for (const orbse::field_leaf& leaf : record) {
                if (leaf.offset != tiled || leaf.size == 0) {
                    std::abort();
                }
                tiled = leaf.offset + leaf.size;
                writer.take(leaf);
                plain.take(leaf, walked); // after the writer: the further pieces reuse the first one's bytes
            }
        }
        const auto& summary = walked.summary();
        plain.finish(summary);
        writer.finish(summary.broken ? &*summary.broken : nullptr);
        broken = summary.broken.has_value();
        if (broken) {
            break_offset = summary.broken->offset;
            break_needed = summary.broken->needed;
        }
    }
    orbse::platform::close(discard);
    if (!loaded_whole && !ended_short) {
        return; // the loading ended for want of memory: nothing to compare with
    }
    if (broken) {
        if (!ended_short || break_offset > size || break_offset + break_needed <= size) {
            std::abort();
        }
    } else if (!loaded_whole || tiled != size) {
        std::abort();
    }
}

// Runs orbse-fields diff on `saves` and returns its lines after the first,
// which names the saves; its exit code must be 0 or 1, as trouble (2) would
// mean that the walks or the comparison lost their way.
std::string diff_of(const std::vector<std::string>& saves)
{
    orbse::platform::native_file output;
    if (orbse::platform::create_always(scratch_diff_path(), false, output) != 0) {
        std::abort();
    }
    int code = 0;
    {
        orbse::fields::output_stream out(output);
        code = orbse::fields::diff_saves(saves, false, out);
    }
    orbse::platform::close(output);
    if (code != orbse::fields::exit_done && code != orbse::fields::exit_damaged) {
        std::abort();
    }
    std::ifstream file(scratch_diff_path(), std::ios::binary | std::ios::ate);
    std::string written(static_cast<std::size_t>(file.tellg()), '\0');
    file.seekg(0).read(written.data(), static_cast<std::streamsize>(written.size()));
    // After the first line, which names the saves.
    if (!written.starts_with("# saves: 1 ")) {
        std::abort();
    }
    return written.substr(written.find('\n') + 1);
}

// The sizes of a save's unit lists, by their paths.
std::vector<std::pair<std::string, std::string>> list_sizes(const orbse::testing::plain_save& save)
{
    std::vector<std::pair<std::string, std::string>> sizes;
    for (const auto& leaf : save.leaves) {
        if (leaf.path.starts_with("units.lists[") && leaf.path.ends_with("].size")) {
            sizes.emplace_back(leaf.path, leaf.value);
        }
    }
    return sizes;
}

// Every slot a line of `written` names as one that some saves hold alone
// ("PATH OFFSET only in save(s) N...: unit, ..." or "...: reference to
// object N") is a slot each of those saves has.
void expect_named_slots_held(const std::string& written, const std::vector<const orbse::testing::plain_save*>& saves)
{
    for (std::size_t from = 0; from < written.size();) {
        const std::size_t end = written.find('\n', from);
        const std::string line = written.substr(from, end - from);
        from = end + 1;
        const std::size_t only = line.find(" only in save");
        const std::size_t colon = line.find(": ", only == std::string::npos ? line.size() : only);
        if (only == std::string::npos || colon == std::string::npos || line.starts_with("error:")) {
            continue;
        }
        const std::string slot = line.substr(0, line.find(' '));
        std::string numbers = line.substr(line.find(' ', only + 13), colon - line.find(' ', only + 13));
        for (std::size_t at = 0; at < numbers.size();) {
            const std::size_t save = std::stoul(numbers.substr(at), &at) - 1;
            numbers = numbers.substr(at);
            at = 0;
            if (save >= saves.size() || !saves[save]->holds(slot)) {
                std::fprintf(stderr, "diff names a slot save %zu does not hold: %s\n", save + 1, line.c_str());
                std::abort();
            }
        }
    }
}

// orbse-fields diff of the fixed save and the input: it must run to an
// answer (0, 1) whatever the input holds; and, where the two saves' lists
// are of the same sizes (no slot was added or removed, so that no list is
// aligned by what its slots hold), it must write exactly the lines of the
// plain comparison of the two saves' leaves (the input's gathered by its
// walk above, the fixed save's once), for every input but a damaged one
// whose last leaf lies at a path the fixed save lacks: no path after that
// leaf says where it goes among the fixed save's own, which diff places by
// the format's order of fields and the plain comparison cannot. Where a
// list was aligned or the numbering followed, every slot diff names as held
// alone must exist there.
// The fixed save comes first: where the two hold header fields at one offset
// that the other lacks (version 70's alien_player and reserved, version 69's
// version_69_byte), diff places them in the format's order, and the plain
// comparison the first save's first, which for version 70 is the same.
void diff_with_seed(const orbse::testing::plain_save& input)
{
    static const orbse::testing::plain_save seed = orbse::testing::plain_walk(diff_seed_path());
    const std::string written = diff_of({diff_seed_path(), scratch_save_path()});
    const auto seed_sizes = list_sizes(seed);
    const auto input_sizes = list_sizes(input);
    const bool aligned = std::ranges::any_of(input_sizes, [&](const auto& size) {
        const auto other = std::ranges::find(seed_sizes, size.first, &std::pair<std::string, std::string>::first);
        return other != seed_sizes.end() && other->second != size.second;
    });
    // Where diff followed a shift of the numbering (objects one save holds
    // alone in the groups or inside a unit), the plain comparison, which
    // takes numbers as they stand, says more than diff does.
    const bool renumbered = written.find(" numbering shifts after it: ") != std::string::npos;
    if (aligned || renumbered) {
        expect_named_slots_held(written, {&seed, &input});
        return;
    }
    const bool placed = input.broken.empty() || input.leaves.empty() || seed.find(input.leaves.back().path) != nullptr;
    if (!placed) {
        return;
    }
    const std::string expected = orbse::testing::plain_diff({&seed, &input});
    if (written != expected) {
        const auto parted = static_cast<std::size_t>(std::ranges::mismatch(written, expected).in1 - written.begin());
        const auto line_of = [&](const std::string& text) {
            const std::size_t from = parted == 0 ? 0 : text.rfind('\n', parted - 1) + 1;
            return from >= text.size() ? std::string("(none)") : text.substr(from, text.find('\n', from) - from);
        };
        std::fprintf(stderr, "diff and the plain comparison part at line %zu:\n  diff:  %s\n  plain: %s\n",
                     static_cast<std::size_t>(std::count(written.begin(), written.begin() + static_cast<std::ptrdiff_t>(parted), '\n')) + 1,
                     line_of(written).c_str(), line_of(expected).c_str());
        std::abort();
    }
}

// A leaf of the input to set, picked by the input's own bytes, and a new
// value for it: its first byte or element changed, as PATH+0 for the
// stretches and runs.
struct chosen_change {
    std::string assignment;
    std::uint64_t offset = 0; // of the byte that changes
    std::uint8_t new_byte = 0;
    bool decides_layout = false;
};

std::string hex_byte(std::uint8_t byte)
{
    constexpr char digits[] = "0123456789abcdef";
    return {digits[byte >> 4], digits[byte & 15]};
}

std::optional<chosen_change> change_of(const orbse::field_leaf& leaf)
{
    using orbse::leaf_type;
    chosen_change change;
    change.offset = leaf.offset;
    change.decides_layout = leaf.decides_layout;
    const std::string path = orbse::path_of(leaf);
    switch (leaf.type) {
    case leaf_type::u8:
    case leaf_type::u16:
    case leaf_type::u32:
    case leaf_type::i32:
        change.assignment = path + "=" + std::to_string(leaf.number ^ 1);
        change.new_byte = static_cast<std::uint8_t>(static_cast<std::uint64_t>(leaf.number) ^ 1);
        return change;
    case leaf_type::raw:
    case leaf_type::text:
        change.new_byte = static_cast<std::uint8_t>(leaf.bytes[0] ^ 0x5a);
        change.assignment = path + "+0=" + (leaf.type == leaf_type::raw ? "" : "\\x") + hex_byte(change.new_byte);
        return change;
    case leaf_type::u8_array:
        change.new_byte = static_cast<std::uint8_t>(leaf.bytes[0] ^ 1);
        change.assignment = path + "+0=" + std::to_string(change.new_byte);
        return change;
    case leaf_type::u16_array:
        if (leaf.words.empty()) {
            return std::nullopt;
        }
        change.new_byte = static_cast<std::uint8_t>(leaf.words[0] ^ 1);
        change.assignment = path + "+0=" + std::to_string(leaf.words[0] ^ 1);
        return change;
    }
    return std::nullopt;
}

// orbse-fields set of one leaf of the input, picked by its bytes: a leaf
// that decides the layout is refused (2) and nothing is written; any other
// is set (1 for a damaged input), and the written save holds the input's
// bytes but for the one changed, and ends or breaks where the input does.
void set_one_leaf(const std::uint8_t* data, std::size_t size, const orbse::walk_summary& input_summary)
{
    std::uint64_t leaves = 0;
    {
        orbse::save_walk counting(scratch_save_path());
        for (auto record = counting.next(); !record.empty(); record = counting.next()) {
            leaves += record.size();
        }
    }
    if (leaves == 0) {
        return;
    }
    const std::uint64_t pick = (std::uint64_t{data[size / 2]} * 65599u + size * 31u + data[size - 1]) % leaves;
    std::optional<chosen_change> change;
    {
        orbse::save_walk choosing(scratch_save_path());
        std::uint64_t seen = 0;
        for (auto record = choosing.next(); !record.empty() && !change; record = choosing.next()) {
            if (pick < seen + record.size()) {
                change = change_of(record[pick - seen]);
            }
            seen += record.size();
        }
    }
    if (!change) {
        return;
    }
    orbse::platform::native_file discard;
    if (orbse::platform::create_always("/dev/null", false, discard) != 0) {
        std::abort();
    }
    int code = 0;
    {
        orbse::fields::output_stream out(discard);
        code = orbse::fields::set_fields({scratch_save_path(), {change->assignment}, scratch_set_path(), false, true}, out);
        out.discard();
    }
    orbse::platform::close(discard);
    const bool written = ::access(scratch_set_path().c_str(), F_OK) == 0;
    if (change->decides_layout) {
        if (code != orbse::fields::exit_trouble || written) {
            std::abort();
        }
        return;
    }
    const int expected = input_summary.broken ? orbse::fields::exit_damaged : orbse::fields::exit_done;
    if (code != expected || !written) {
        std::fprintf(stderr, "set %s answered %d\n", change->assignment.c_str(), code);
        std::abort();
    }
    std::ifstream file(scratch_set_path(), std::ios::binary);
    const std::vector<std::uint8_t> set_bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::vector<std::uint8_t> expected_bytes(data, data + size);
    expected_bytes[change->offset] = change->new_byte;
    const auto read_back = orbse::check_save(scratch_set_path());
    if (set_bytes != expected_bytes || read_back.broken.has_value() != input_summary.broken.has_value() ||
        (read_back.broken && read_back.broken->offset != input_summary.broken->offset)) {
        std::fprintf(stderr, "set %s wrote other bytes or reads otherwise\n", change->assignment.c_str());
        std::abort();
    }
}

// The input with the last unit of a list of more than one slot removed, as
// a game would write it: the slot cut out of its list, whose size is one
// less, and every later number of an object one of the slot's objects
// fewer (a reference to an object of the slot itself is left as it is).
// Only for a whole save.
void diff_with_one_unit_removed(const std::uint8_t* data, std::size_t size, const orbse::testing::plain_save& input)
{
    if (!input.broken.empty()) {
        return;
    }
    const auto removable = [&](const orbse::testing::plain_leaf& leaf) {
        if (leaf.slot != orbse::slot_holds::unit) {
            return false;
        }
        const std::string slot = leaf.path.substr(0, leaf.path.rfind('.'));
        const auto* list_size = input.find(slot.substr(0, slot.rfind('.')) + ".size");
        return list_size != nullptr && list_size->value != "1";
    };
    const auto unit = std::ranges::find_if(input.leaves.rbegin(), input.leaves.rend(), removable);
    if (unit == input.leaves.rend()) {
        return;
    }
    const std::string slot = unit->path.substr(0, unit->path.rfind('.'));
    const auto& list_size = *input.find(slot.substr(0, slot.rfind('.')) + ".size");
    const auto after = std::find_if(unit.base(), input.leaves.end(), [&](const auto& leaf) {
        return !leaf.path.starts_with(slot + ".") && leaf.path != slot;
    });
    const std::uint64_t begins = unit->offset;
    const std::uint64_t ends = after == input.leaves.end() ? size : after->offset;
    std::vector<std::uint8_t> fewer(data, data + begins);
    fewer.insert(fewer.end(), data + ends, data + size);
    const auto put_u16 = [&](std::uint64_t at, std::uint64_t value) {
        fewer[at] = static_cast<std::uint8_t>(value & 0xFF);
        fewer[at + 1] = static_cast<std::uint8_t>((value >> 8) & 0xFF);
    };
    put_u16(list_size.offset, std::stoul(list_size.value) - 1);
    // The slot's objects: from its unit's number to the counter where the
    // walk leaves the slot.
    orbse::save_walk walked(scratch_save_path());
    const std::int64_t first = std::stol(unit->value);
    std::int64_t last = first;
    for (auto record = walked.next(); !record.empty(); record = walked.next()) {
        for (const orbse::field_leaf& leaf : record) {
            const std::int64_t next_number = std::int64_t{walked.object_counter()} + 1;
            if (leaf.offset < ends) {
                last = leaf.offset >= begins ? std::int64_t{walked.object_counter()} : last;
            } else if (leaf.names_object && leaf.number > last && leaf.number <= next_number) {
                put_u16(leaf.offset - (ends - begins), static_cast<std::uint64_t>(leaf.number - (last - first + 1)));
            }
        }
    }
    orbse::save_builder::write_file(scratch_fewer_path(), fewer);
    const std::string written = diff_of({scratch_save_path(), scratch_fewer_path()});
    const auto smaller = orbse::testing::plain_walk(scratch_fewer_path());
    expect_named_slots_held(written, {&input, &smaller});
    if (written.find(" only in save 1: unit, ") == std::string::npos) {
        std::fprintf(stderr, "diff does not name the unit removed (%s):\n%s", slot.c_str(), written.c_str());
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const bool memory_failure_installed = (orbse::install_memory_failure_handler(), true);
    static_cast<void>(memory_failure_installed);
    write_scratch_save(data, size);
    orbse::text_channel report_output;
    report_output.bind(scratch_report_path());
    bool loaded_whole = false;
    bool ended_short = false;
    try {
        orbse::inspect_save(scratch_save_path(), discarded_pictures, report_output);
        loaded_whole = true;
        report_output.close();
        orbse::io_check();
    } catch (const orbse::io_failure& failed) {
        ended_short = failed.code() == orbse::read_beyond_end;
        report_output.close();
        orbse::pending_io_error = 0;
    } catch (const orbse::failure&) {
        // A clean failure is a correct answer to a damaged save.
        report_output.close();
        orbse::pending_io_error = 0;
    }
    orbse::testing::plain_save plain;
    walk(size, loaded_whole, ended_short, plain);
    diff_with_seed(plain);
    diff_with_one_unit_removed(data, size, plain);
    if (size > 0) {
        set_one_leaf(data, size, orbse::check_save(scratch_save_path()));
    }
    remove_scratch_files();
    return 0;
}
