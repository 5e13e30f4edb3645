#include "fields/set.h"

#include "fields/commands.h"
#include "fields/field_value.h"
#include "fields/leaf_format.h"
#include "fields/save_input.h"
#include "orbsaves/save_walk.h"
#include "runtime/data_file.h"
#include "runtime/failures.h"
#include "runtime/replacement_file.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <optional>

namespace orbse::fields {
namespace {

constexpr std::size_t copy_piece_size = 64 * 1024;

struct assignment {
    std::string path;
    std::optional<std::uint64_t> first; // PATH+N: the byte or element the value starts at
    std::string value;
};

// Bytes to put in place of the save's own.
struct patch {
    std::uint64_t offset = 0;
    std::vector<std::uint8_t> bytes;
    std::string path; // as given, for messages

    std::uint64_t end() const { return offset + bytes.size(); }
};

// "PATH=VALUE" or "PATH+N=VALUE"; the value may hold '=' itself.
std::optional<assignment> parse_assignment(const std::string& text)
{
    const std::size_t equals = text.find('=');
    if (equals == std::string::npos || equals == 0) {
        return std::nullopt;
    }
    assignment parsed{text.substr(0, equals), std::nullopt, text.substr(equals + 1)};
    const std::size_t plus = parsed.path.rfind('+');
    if (plus != std::string::npos) {
        const char* begin = parsed.path.data() + plus + 1;
        const char* end = parsed.path.data() + parsed.path.size();
        std::uint64_t first = 0;
        const auto [stop, error] = std::from_chars(begin, end, first);
        if (error != std::errc{} || stop != end || begin == end) {
            return std::nullopt;
        }
        parsed.first = first;
        parsed.path.resize(plus);
    }
    return parsed;
}

// What the walk over the old save found for the assignments.
struct found_changes {
    std::vector<patch> patches;
    std::vector<std::string> problems;
    walk_summary summary;
};

void refuse_or_take(const field_leaf& leaf, const assignment& asked, found_changes& found)
{
    // As given: PATH, or PATH+N.
    const std::string named = asked.first ? asked.path + "+" + std::to_string(*asked.first) : asked.path;
    if (leaf.decides_layout) {
        found.problems.push_back(named + ": decides how the rest of the save is read; it cannot be set");
        return;
    }
    value_bytes value = bytes_of_value(leaf, asked.first, asked.value);
    if (!value.problem.empty()) {
        found.problems.push_back(named + ": " + value.problem);
        return;
    }
    found.patches.push_back({value.offset, std::move(value.bytes), named});
}

// Walks the old save for the leaves asked for, to its end: whether it
// breaks, and where, is part of the answer. The walk makes leaves only on
// the way to the paths asked for; those are then matched by their text.
found_changes find_changes(save_walk& walk, const std::vector<assignment>& asked)
{
    std::map<std::string, std::vector<std::size_t>, std::less<>> wanted;
    std::vector<leaf_place> destinations;
    for (std::size_t at = 0; at < asked.size(); ++at) {
        wanted[asked[at].path].push_back(at);
        // A text that is no path is met by no leaf.
        if (const auto place = place_of_path(asked[at].path)) {
            destinations.push_back(*place);
        }
    }
    walk.leaves_on_the_way_to(std::move(destinations));
    found_changes found;
    std::vector<bool> met(asked.size(), false);
    std::size_t left = wanted.size();
    path_text paths;
    for (auto record = walk.next(); !record.empty(); record = walk.next()) {
        for (const field_leaf& leaf : record) {
            const auto hit = wanted.find(paths.of(leaf));
            if (hit == wanted.end() || met[hit->second.front()]) {
                continue;
            }
            for (const std::size_t at : hit->second) {
                met[at] = true;
                refuse_or_take(leaf, asked[at], found);
            }
            if (--left == 0) {
                walk.leaves_from(UINT64_MAX); // the rest is read through for its break only
            }
        }
    }
    found.summary = walk.summary();
    for (std::size_t at = 0; at < asked.size(); ++at) {
        if (!met[at]) {
            found.problems.push_back(asked[at].path + ": no such field in this save" +
                                     (found.summary.broken ? std::string(" before its break") : std::string()));
        }
    }
    return found;
}

// Two assignments that set the same byte are one too many.
void refuse_overlaps(found_changes& found)
{
    std::sort(found.patches.begin(), found.patches.end(),
              [](const patch& a, const patch& b) { return a.offset < b.offset; });
    for (std::size_t at = 1; at < found.patches.size(); ++at) {
        if (found.patches[at].offset < found.patches[at - 1].end()) {
            found.problems.push_back(found.patches[at].path + ": sets bytes that " + found.patches[at - 1].path +
                                     " sets too");
        }
    }
}

// The patches' bytes laid over `piece`, which holds the file's bytes from
// `start` on.
void lay_patches(std::span<std::uint8_t> piece, std::uint64_t start, const std::vector<patch>& patches)
{
    for (const patch& change : patches) {
        const std::uint64_t from = std::max(change.offset, start);
        const std::uint64_t to = std::min(change.end(), start + piece.size());
        if (from < to) {
            std::memcpy(piece.data() + (from - start), change.bytes.data() + (from - change.offset), to - from);
        }
    }
}

// The old save's bytes with the patches laid over them, into `target`.
void copy_with_patches(const std::string& from, replacement_file& target, const std::vector<patch>& patches,
                       std::vector<std::uint8_t>& buffer)
{
    data_file source;
    open_data_file(source, from);
    io_check();
    const std::uint64_t size = file_size(source);
    io_check();
    for (std::uint64_t start = 0; start < size; start += buffer.size()) {
        const auto piece = std::span(buffer).first(static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), size - start)));
        read_exact(source, piece.data(), piece.size());
        io_check();
        lay_patches(piece, start, patches);
        target.write(piece);
    }
    close_data_file(source);
    io_check();
}

// Whether the written file holds the old save's bytes with the patches laid
// over them, byte for byte: what was written is read back.
bool holds_patched_bytes(const std::string& old_save, const std::string& written, const std::vector<patch>& patches,
                         std::vector<std::uint8_t>& buffer)
{
    data_file old_file;
    data_file new_file;
    open_data_file(old_file, old_save);
    io_check();
    open_data_file(new_file, written);
    io_check();
    const std::uint64_t size = file_size(old_file);
    io_check();
    const std::uint64_t written_size = file_size(new_file);
    io_check();
    if (written_size != size) {
        return false;
    }
    std::vector<std::uint8_t> read_back(buffer.size());
    for (std::uint64_t start = 0; start < size; start += buffer.size()) {
        const std::size_t length = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), size - start));
        read_exact(old_file, buffer.data(), length);
        io_check();
        read_exact(new_file, read_back.data(), length);
        io_check();
        lay_patches(std::span(buffer).first(length), start, patches);
        if (std::memcmp(buffer.data(), read_back.data(), length) != 0) {
            return false;
        }
    }
    return true;
}

// A walk that the system stopped, rather than a save that ends early.
const walk_break* read_failure_of(const save_walk& walk)
{
    const auto& broken = walk.summary().broken;
    return broken && broken->code != read_beyond_end ? &*broken : nullptr;
}

bool same_leaf(const field_leaf& a, const field_leaf& b)
{
    return a.offset == b.offset && a.size == b.size && a.type == b.type && a.name == b.name &&
           a.decides_layout == b.decides_layout &&
           std::ranges::equal(a.place.view(), b.place.view());
}

// Walks the old and the new save side by side from the first patch and
// tells where the new one reads differently: a leaf of another place, size
// or offset, or a break of its own. Before the first patch the bytes are
// the same, and so is what they read as; past the last, once both walks
// stand where the same bytes would read on alike, the rest is the same too.
// The new save's leaves that hold patched bytes are listed on `out`.
std::optional<std::string> reads_differently(const std::string& old_save, const std::string& written,
                                             const std::vector<patch>& patches, output_stream& out)
{
    save_walk old_walk(old_save);
    save_walk new_walk(written);
    const std::uint64_t first = patches.front().offset;
    const std::uint64_t last_end = patches.back().end();
    old_walk.leaves_from(first);
    new_walk.leaves_from(first);
    path_text paths;
    for (;;) {
        const auto old_record = old_walk.next();
        const auto new_record = new_walk.next();
        for (const save_walk* walk : {&old_walk, &new_walk}) {
            if (const walk_break* failed = read_failure_of(*walk)) {
                return failed->message;
            }
        }
        if (old_record.size() != new_record.size()) {
            return "a record of " + std::to_string(new_record.size()) + " leaves where the old save has " +
                   std::to_string(old_record.size());
        }
        if (old_record.empty()) {
            break;
        }
        for (std::size_t at = 0; at < old_record.size(); ++at) {
            const field_leaf& leaf = new_record[at];
            if (!same_leaf(old_record[at], leaf)) {
                return path_of(leaf) + " at " + std::to_string(leaf.offset) + " where the old save has " +
                       path_of(old_record[at]) + " at " + std::to_string(old_record[at].offset);
            }
            const bool patched = std::ranges::any_of(patches, [&](const patch& change) {
                return change.offset < leaf.offset + leaf.size && leaf.offset < change.end();
            });
            if (patched) {
                write_leaf_line(out, leaf, paths.of(leaf));
            }
        }
        if (old_walk.offset() >= last_end && new_walk.offset() >= last_end && old_walk.reads_on_like(new_walk)) {
            return std::nullopt;
        }
    }
    const auto& old_break = old_walk.summary().broken;
    const auto& new_break = new_walk.summary().broken;
    if (old_break.has_value() != new_break.has_value() || (old_break && old_break->offset != new_break->offset)) {
        return std::string("it breaks where the old save does not, or not where it does");
    }
    return std::nullopt;
}

// Writes, reads back and puts in place; false after a message. The lines
// of the leaves set go out before the new save takes its name, so that a
// failure of either leaves everything as it was: a save whose lines could
// not be written is not put in place, and lines written before a rename
// that fails are followed by the message that nothing was.
bool write_new_save(const set_request& request, const save_input& input, const std::vector<patch>& patches,
                    output_stream& out)
{
    const std::string& target = request.in_place ? request.save : request.output;
    std::vector<std::uint8_t> buffer(copy_piece_size);
    std::optional<std::string> problem;
    try {
        replacement_file written(target);
        copy_with_patches(input.path(), written, patches, buffer);
        written.finish();
        if (!holds_patched_bytes(input.path(), written.path(), patches, buffer)) {
            problem = "its bytes read back are not those written";
        } else {
            problem = reads_differently(input.path(), written.path(), patches, out);
        }
        if (!problem && !out.flush()) {
            problem = "standard output could not be written";
        }
        if (!problem) {
            written.put_in_place(request.in_place && request.keep_backup ? request.save + ".bak" : std::string());
            return true;
        }
    } catch (const failure& failed) {
        problem = std::string(failed.message());
    }
    out.discard();
    report_problem(target, "not written: " + *problem);
    return false;
}

} // namespace

int set_fields(const set_request& request, output_stream& out)
{
    std::vector<assignment> asked;
    for (const std::string& text : request.assignments) {
        auto parsed = parse_assignment(text);
        if (!parsed) {
            report_problem(request.save, "\"" + text + "\" is not PATH=VALUE or PATH+N=VALUE");
            return exit_trouble;
        }
        asked.push_back(std::move(*parsed));
    }
    const auto input = save_input::prepare(request.save);
    auto walk = input ? open_walk(*input) : nullptr;
    if (!walk) {
        return exit_trouble;
    }
    found_changes found = find_changes(*walk, asked);
    // Windows renames no file that is open, ours included.
    walk.reset();
    // A save that ends early may be set before its end; one the system
    // could not read is not copied.
    if (found.summary.broken && found.summary.broken->code != read_beyond_end) {
        report_problem(request.save, found.summary.broken->message);
        return exit_trouble;
    }
    refuse_overlaps(found);
    if (!found.problems.empty()) {
        for (const std::string& problem : found.problems) {
            report_problem(request.save, problem);
        }
        return exit_trouble;
    }
    if (!write_new_save(request, *input, found.patches, out)) {
        return exit_trouble;
    }
    if (found.summary.broken) {
        std::string text = "damaged save: " + found.summary.broken->message + " at offset " +
                           std::to_string(found.summary.broken->offset) +
                           "; the bytes from there on were copied as they are";
        report_problem(request.save, text);
        return exit_damaged;
    }
    return exit_done;
}

} // namespace orbse::fields
