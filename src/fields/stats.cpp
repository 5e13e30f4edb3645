#include "fields/stats.h"

#include "fields/commands.h"
#include "fields/leaf_format.h"
#include "fields/save_input.h"
#include "orbsaves/save_walk.h"
#include "runtime/failures.h"

#include <algorithm>
#include <bitset>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <new>
#include <span>
#include <string_view>
#include <unordered_map>

namespace orbse::fields {
namespace {

// The values one field has taken.
struct value_counts {
    std::uint64_t count = 0;
    std::int64_t smallest = std::numeric_limits<std::int64_t>::max();
    std::int64_t largest = std::numeric_limits<std::int64_t>::min();
    std::unordered_map<std::int64_t, std::uint64_t> counted; // at most most_values_counted
    bool more = false; // a value came that is not counted

    void add(std::int64_t value)
    {
        ++count;
        smallest = std::min(smallest, value);
        largest = std::max(largest, value);
        if (const auto found = counted.find(value); found != counted.end()) {
            ++found->second;
        } else if (counted.size() < most_values_counted) {
            counted.emplace(value, 1);
        } else {
            more = true;
        }
    }

    // The most frequent, the smaller value first among equals.
    std::vector<std::pair<std::int64_t, std::uint64_t>> most_frequent() const
    {
        std::vector<std::pair<std::int64_t, std::uint64_t>> values(counted.begin(), counted.end());
        const auto more_often = [](const auto& a, const auto& b) {
            return a.second != b.second ? a.second > b.second : a.first < b.first;
        };
        const std::size_t shown = std::min(values.size(), most_frequent_shown);
        std::partial_sort(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(shown), values.end(), more_often);
        values.resize(shown);
        return values;
    }
};

// One byte offset of a stretch, across every stretch that reaches it.
struct byte_column {
    std::uint64_t count = 0; // the stretches long enough to hold it
    std::bitset<256> seen;
    std::uint8_t smallest = 0xFF;
    std::uint8_t largest = 0;

    void add(std::uint8_t byte)
    {
        ++count;
        seen.set(byte);
        smallest = std::min(smallest, byte);
        largest = std::max(largest, byte);
    }
    bool constant() const { return smallest == largest; }
};

// A field as gathered: its starred path, and with --by-type the unit type
// row it is a field of.
struct field_stats {
    std::string path;
    std::string unit_type;
    std::size_t path_order = 0; // when its path was first met
    leaf_type type = leaf_type::u8;
    std::uint64_t count = 0;
    std::uint64_t smallest_size = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t largest_size = 0;
    value_counts values;            // numbers, and a path's points
    std::vector<byte_column> bytes; // stretches, their first most_bytes_counted

    bool is_stretch() const
    {
        return type == leaf_type::text || type == leaf_type::raw || type == leaf_type::u8_array;
    }
};

// What a leaf holds, kept while its unit's type is not yet read.
struct held_leaf {
    std::string path;
    leaf_type type;
    std::uint64_t size;
    std::int64_t number;
    std::vector<std::uint8_t> bytes;
    std::vector<std::uint16_t> words;
};

class stats_gatherer {
public:
    explicit stats_gatherer(bool by_type) : by_type_(by_type) {}

    void take_save(save_walk& walk)
    {
        for (auto record = walk.next(); !record.empty(); record = walk.next()) {
            for (const field_leaf& leaf : record) {
                take(leaf);
            }
        }
        end_unit_object();
    }

    // The fields in the order their paths were first met, and a path's unit
    // types in the order they were.
    std::vector<const field_stats*> fields() const
    {
        std::vector<const field_stats*> ordered;
        for (const auto& field : fields_) {
            ordered.push_back(&field);
        }
        std::stable_sort(ordered.begin(), ordered.end(),
                         [](const field_stats* a, const field_stats* b) { return a->path_order < b->path_order; });
        return ordered;
    }

private:
    // A level of a unit's chain is typed once its unit_class is read: its
    // fields before that (the class word, the unit data, the path) are held
    // until then, those after it (the ends the walk comes back to after the
    // deeper levels) find the type kept for the level. A unit object begins
    // after a leaf outside one (its slot's object number), which ends the
    // one before.
    void take(const field_leaf& leaf)
    {
        if (!by_type_ || leaf.unit_depth == 0) {
            end_unit_object();
            add(field_for(starred_path(leaf), {}, leaf.type), leaf.type, leaf.size, leaf.number, leaf.bytes, leaf.words);
            return;
        }
        if (leaf.names_unit_type) {
            level_types_.resize(std::min<std::uint64_t>(leaf.chain_level, level_types_.size()));
            level_types_.push_back(type_number(leaf.note));
            settle_held(type_names_[level_types_.back()]);
        }
        if (leaf.chain_level >= level_types_.size()) {
            held_.push_back({std::string(starred_path(leaf)), leaf.type, leaf.size, leaf.number,
                             {leaf.bytes.begin(), leaf.bytes.end()}, {leaf.words.begin(), leaf.words.end()}});
            return;
        }
        add(field_for(starred_path(leaf), type_names_[level_types_[leaf.chain_level]], leaf.type), leaf.type, leaf.size,
            leaf.number, leaf.bytes, leaf.words);
    }

    // The leaves held for the level whose type has just been read go to
    // that type (with none, when an object ends before a type).
    void settle_held(std::string_view type)
    {
        for (const auto& held : held_) {
            add(field_for(held.path, type, held.type), held.type, held.size, held.number, held.bytes, held.words);
        }
        held_.clear();
    }

    void end_unit_object()
    {
        settle_held({});
        level_types_.clear();
    }

    // Types are kept by number, so that a chain a million levels deep
    // costs four bytes a level.
    std::uint32_t type_number(std::string_view type)
    {
        const auto [found, added] = type_numbers_.try_emplace(std::string(type), type_names_.size());
        if (added) {
            type_names_.emplace_back(type);
        }
        return found->second;
    }

    static void add(field_stats& field, leaf_type type, std::uint64_t size, std::int64_t number,
                    std::span<const std::uint8_t> bytes, std::span<const std::uint16_t> words)
    {
        ++field.count;
        field.smallest_size = std::min(field.smallest_size, size);
        field.largest_size = std::max(field.largest_size, size);
        if (type == leaf_type::u16_array) {
            for (const std::uint16_t word : words) {
                field.values.add(word);
            }
        } else if (field.is_stretch()) {
            const auto counted = bytes.first(std::min(bytes.size(), most_bytes_counted));
            if (field.bytes.size() < counted.size()) {
                field.bytes.resize(counted.size());
            }
            for (std::size_t at = 0; at < counted.size(); ++at) {
                field.bytes[at].add(counted[at]);
            }
        } else {
            field.values.add(number);
        }
    }

    field_stats& field_for(std::string_view path, std::string_view unit_type, leaf_type type)
    {
        key_.assign(path);
        key_ += '\n';
        key_ += unit_type;
        const auto [found, added] = index_.try_emplace(key_, fields_.size());
        if (added) {
            const auto [path_found, path_added] = path_orders_.try_emplace(std::string(path), path_orders_.size());
            field_stats& field = fields_.emplace_back();
            field.path = std::string(path);
            field.unit_type = std::string(unit_type);
            field.path_order = path_found->second;
            field.type = type;
        }
        return fields_[found->second];
    }

    // The leaf's path with its indexes made `*`. Leaves come many to a
    // place, and the places of a record's fields mostly differ only by
    // their indexes, so the place's text is made again only when its names
    // change.
    std::string_view starred_path(const field_leaf& leaf)
    {
        const auto place = leaf.place.view();
        const bool same = place.size() == place_.depth &&
                          std::ranges::equal(place, place_.view(), [](const path_part& a, const path_part& b) {
                              return a.name == b.name && (a.index < 0) == (b.index < 0);
                          });
        if (!same) {
            std::copy(place.begin(), place.end(), place_.parts.begin());
            place_.depth = place.size();
            place_text_.clear();
            for (const path_part& part : place) {
                if (!place_text_.empty()) {
                    place_text_ += '.';
                }
                place_text_ += part.name;
                place_text_ += part.index >= 0 ? "[*]" : "";
            }
        }
        path_.assign(place_text_);
        if (!leaf.name.empty()) {
            path_ += path_.empty() ? "" : ".";
            path_ += leaf.name;
        }
        return path_;
    }

    bool by_type_;
    std::vector<field_stats> fields_;
    std::unordered_map<std::string, std::size_t> index_; // path, a line end and the unit type
    std::unordered_map<std::string, std::size_t> path_orders_;
    std::vector<std::string> type_names_;
    std::unordered_map<std::string, std::uint32_t> type_numbers_;
    std::vector<std::uint32_t> level_types_; // of the chain's levels typed so far, the slot's own unit first
    std::vector<held_leaf> held_;
    std::string key_;
    leaf_place place_;
    std::string place_text_;
    std::string path_;
};

// A type's name without its size, as the walk names it ("u16", "raw",
// "text"); a path's points, whose count varies, "u16[]".
std::string type_name(leaf_type type)
{
    const std::string sized = leaf_type_name(type, 0);
    return sized.substr(0, sized.find('[')) + (type == leaf_type::u16_array ? "[]" : "");
}

// Runs of byte offsets alike: constant ones one after another that as many
// stretches reach, each varying one alone.
template <typename write_run>
void for_each_byte_run(const field_stats& field, write_run&& write)
{
    const auto joins = [&](std::size_t from, std::size_t next) {
        return field.bytes[from].constant() && field.bytes[next].constant() &&
               field.bytes[next].count == field.bytes[from].count;
    };
    for (std::size_t from = 0; from < field.bytes.size();) {
        std::size_t to = from;
        while (to + 1 < field.bytes.size() && joins(from, to + 1)) {
            ++to;
        }
        write(from, to);
        from = to + 1;
    }
}

void write_times(output_stream& out, std::uint64_t count)
{
    if (count == 1) {
        out.write("once");
        return;
    }
    out.write_number(count);
    out.write(" times");
}

void write_hex_bytes(output_stream& out, const field_stats& field, std::size_t from, std::size_t to)
{
    for (std::size_t at = from; at <= to; ++at) {
        out.write_hex(&field.bytes[at].smallest, 1);
    }
}

void write_stretch_text(output_stream& out, const field_stats& field)
{
    out.write(type_name(field.type));
    out.put('[');
    out.write_number(field.smallest_size);
    if (field.largest_size != field.smallest_size) {
        out.write(" to ");
        out.write_number(field.largest_size);
    }
    out.write("]: ");
    write_times(out, field.count);
    out.put('\n');
    for_each_byte_run(field, [&](std::size_t from, std::size_t to) {
        const byte_column& column = field.bytes[from];
        out.write("  +");
        out.write_number(from);
        if (to > from) {
            out.write(" to +");
            out.write_number(to);
        }
        if (column.constant()) {
            out.write(": always ");
            write_hex_bytes(out, field, from, to);
        } else {
            out.write(": ");
            out.write_number(column.seen.count());
            out.write(" distinct, ");
            out.write_hex(&column.smallest, 1);
            out.write(" to ");
            out.write_hex(&column.largest, 1);
        }
        if (column.count < field.count) {
            out.write(" (in ");
            out.write_number(column.count);
            out.write(" of ");
            out.write_number(field.count);
            out.put(')');
        }
        out.put('\n');
    });
    if (field.largest_size > most_bytes_counted) {
        out.write("  +");
        out.write_number(most_bytes_counted);
        out.write(" on: not counted\n");
    }
}

void write_values_text(output_stream& out, const field_stats& field)
{
    const value_counts& values = field.values;
    out.write(type_name(field.type));
    out.write(": ");
    write_times(out, field.count);
    if (field.type == leaf_type::u16_array) {
        out.write(", ");
        out.write_number(values.count);
        out.write(" values");
    }
    if (values.count == 0) {
        out.put('\n');
        return;
    }
    if (values.counted.size() == 1 && !values.more) {
        out.write(", always ");
        out.write_signed(values.smallest);
        out.put('\n');
        return;
    }
    out.write(", ");
    out.write_signed(values.smallest);
    out.write(" to ");
    out.write_signed(values.largest);
    out.write(", ");
    if (values.more) {
        out.write("more than ");
        out.write_number(most_values_counted);
        out.write(" distinct; of the first ");
        out.write_number(most_values_counted);
        out.write(" met, most often: ");
    } else {
        out.write_number(values.counted.size());
        out.write(" distinct: ");
    }
    const auto frequent = values.most_frequent();
    for (std::size_t at = 0; at < frequent.size(); ++at) {
        out.write(at > 0 ? ", " : "");
        out.write_signed(frequent[at].first);
        out.write(" (");
        out.write_number(frequent[at].second);
        out.put(')');
    }
    out.put('\n');
}

void write_field_text(output_stream& out, const field_stats& field)
{
    out.write(field.path);
    if (!field.unit_type.empty()) {
        out.write(" [");
        out.write(field.unit_type);
        out.put(']');
    }
    out.put(' ');
    if (field.is_stretch()) {
        write_stretch_text(out, field);
    } else {
        write_values_text(out, field);
    }
}

void write_stretch_json(output_stream& out, const field_stats& field)
{
    out.write(",\"smallest_size\":");
    out.write_number(field.smallest_size);
    out.write(",\"largest_size\":");
    out.write_number(field.largest_size);
    out.write(",\"counted_bytes\":");
    out.write_number(field.bytes.size());
    out.write(",\"bytes\":[");
    bool first = true;
    for_each_byte_run(field, [&](std::size_t from, std::size_t to) {
        const byte_column& column = field.bytes[from];
        out.write(first ? "{\"from\":" : ",{\"from\":");
        first = false;
        out.write_number(from);
        out.write(",\"to\":");
        out.write_number(to);
        out.write(",\"count\":");
        out.write_number(column.count);
        if (column.constant()) {
            out.write(",\"constant\":\"");
            write_hex_bytes(out, field, from, to);
            out.write("\"}");
            return;
        }
        out.write(",\"distinct\":");
        out.write_number(column.seen.count());
        out.write(",\"min\":");
        out.write_number(column.smallest);
        out.write(",\"max\":");
        out.write_number(column.largest);
        out.put('}');
    });
    out.put(']');
}

void write_values_json(output_stream& out, const field_stats& field)
{
    const value_counts& values = field.values;
    if (field.type == leaf_type::u16_array) {
        out.write(",\"values\":");
        out.write_number(values.count);
    }
    if (values.count > 0) {
        out.write(",\"min\":");
        out.write_signed(values.smallest);
        out.write(",\"max\":");
        out.write_signed(values.largest);
    }
    out.write(",\"distinct\":");
    out.write_number(values.counted.size());
    out.write(values.more ? ",\"more_distinct\":true" : ",\"more_distinct\":false");
    out.write(",\"most_frequent\":[");
    const auto frequent = values.most_frequent();
    for (std::size_t at = 0; at < frequent.size(); ++at) {
        out.write(at > 0 ? ",{\"value\":" : "{\"value\":");
        out.write_signed(frequent[at].first);
        out.write(",\"count\":");
        out.write_number(frequent[at].second);
        out.put('}');
    }
    out.put(']');
}

void write_field_json(output_stream& out, const field_stats& field)
{
    out.write("{\"path\":");
    write_json_quoted(out, field.path);
    if (!field.unit_type.empty()) {
        out.write(",\"unit_type\":");
        write_json_quoted(out, field.unit_type);
    }
    out.write(",\"type\":\"");
    out.write(type_name(field.type));
    out.write("\",\"count\":");
    out.write_number(field.count);
    if (field.is_stretch()) {
        write_stretch_json(out, field);
    } else {
        write_values_json(out, field);
    }
    out.write("}\n");
}

// The files directly in a folder, in name order; false, after a message,
// when it cannot be read.
bool files_in(const std::string& folder, std::vector<std::string>& files)
{
    namespace fs = std::filesystem;
    std::error_code error;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error)) {
        std::error_code kind_error;
        if (entry->is_regular_file(kind_error)) {
            files.push_back(entry->path().string());
        }
    }
    if (error) {
        report_problem(folder, "the folder cannot be read: " + error.message());
        return false;
    }
    std::sort(files.begin(), files.end());
    return true;
}

} // namespace

int stats_of_saves(const std::vector<std::string>& arguments, const stats_options& options, output_stream& out)
{
    stats_gatherer gatherer(options.by_type);
    int code = exit_done;
    std::size_t counted = 0;
    // A damaged save is left out whole, so it is read through first; in a
    // folder a file that is not a save (a report, a picture) shows by its
    // version word and is passed over.
    const auto count_save = [&](const std::string& name, const std::string& path, bool in_folder) {
        walk_summary summary;
        try {
            summary = check_save(path);
        } catch (const failure& failed) {
            report_problem(name, failed.message());
            code = exit_trouble;
            return;
        }
        if (in_folder && !is_known_version(summary.version)) {
            return;
        }
        if (summary.broken) {
            report_problem(name, "damaged save, left out: " + summary.broken->message + " at offset " +
                                     std::to_string(summary.broken->offset));
            code = std::max(code, exit_damaged);
            return;
        }
        try {
            save_walk walk(path);
            gatherer.take_save(walk);
            ++counted;
        } catch (const failure& failed) {
            report_problem(name, failed.message());
            code = exit_trouble;
        }
    };
    for (const auto& argument : arguments) {
        if (argument == standard_input_name) {
            const auto input = save_input::prepare(argument);
            if (input) {
                count_save(argument, input->path(), false);
            } else {
                code = exit_trouble;
            }
        } else if (!platform::is_folder(argument)) {
            count_save(argument, argument, false);
        } else if (std::vector<std::string> files; files_in(argument, files)) {
            for (const auto& file : files) {
                count_save(file, file, true);
            }
        } else {
            code = exit_trouble;
        }
    }
    for (const field_stats* field : gatherer.fields()) {
        if (options.json) {
            write_field_json(out, *field);
        } else {
            write_field_text(out, *field);
        }
    }
    if (!out.flush()) {
        platform::write_standard_error("orbse-fields: standard output could not be written\n");
        return exit_trouble;
    }
    if (counted == 0) {
        platform::write_standard_error("orbse-fields: no save to count\n");
        return exit_trouble;
    }
    return code;
}

} // namespace orbse::fields
