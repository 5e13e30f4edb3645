// orbse-fields diff held to a plain comparison written here: the leaves that
// `list --json` gives for each save, keyed by path, predict every line diff
// writes, in order. The saves are made up by the save builder from fixed
// seeds, three for each seed of a kind of change, compared as two pairs and
// a series; raw stretches and points are taken from the bytes built, since
// the listing shows only the first 64 bytes of a stretch.
#include "save_builder.h"
#include "support/run_program.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <list>
#include <regex>
#include <sstream>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace orbse {
namespace {

namespace sb = save_builder;

using testing::lines_of;

std::string hex(std::uint64_t offset)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%08llx", static_cast<unsigned long long>(offset));
    return text;
}

// ---- the listing, read back ----

// Member `name` of a line of `list --json` (empty when it has none): a
// string's bytes (\u00NN is byte NN), a number or an array as written, which
// is how `list` writes them too.
std::string member(std::string_view line, std::string_view name)
{
    const std::size_t found = line.find(std::string("\"").append(name).append("\":"));
    if (found == std::string_view::npos) {
        return {};
    }
    std::size_t at = found + name.size() + 3;
    if (line[at] != '"') {
        return std::string(line.substr(at, line.find_first_of(",}", line[at] == '[' ? line.find(']', at) : at) - at));
    }
    std::string text;
    for (++at; line[at] != '"'; ++at) {
        if (line[at] == '\\' && line[++at] == 'u') {
            text += static_cast<char>(std::stoi(std::string(line.substr(at + 1, 4)), nullptr, 16));
            at += 4;
        } else {
            text += line[at];
        }
    }
    return text;
}

struct leaf {
    std::string path;
    std::uint64_t offset = 0;
    std::string type;
    std::string value;                 // as `list` writes it, for the leaves compared whole
    std::string note;
    std::vector<std::uint16_t> elements; // a raw stretch's bytes or a run's points, from the file
};

struct listing {
    std::vector<leaf> leaves;
    std::unordered_map<std::string, std::size_t> at_path;
    std::string broken; // the break as `list` writes it; empty for a whole save
};

// Printable ASCII as it is, every other byte (and " and \) as \xNN.
std::string text_as_listed(const std::string& text)
{
    std::string written = "\"";
    for (const char character : text) {
        const auto byte = static_cast<unsigned char>(character);
        if (byte < 0x20 || byte > 0x7e || character == '"' || character == '\\') {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            written += escaped;
        } else {
            written += character;
        }
    }
    return written + "\"";
}

std::string joined(const std::vector<std::string>& parts, const std::string& separator)
{
    std::string text;
    for (const auto& part : parts) {
        text += (text.empty() ? "" : separator) + part;
    }
    return text;
}

// A save's leaves as `list --json` gives them; raw stretches and points from
// the save's bytes, since the listing shows the first 64 bytes of a stretch.
listing listed(const std::string& file, const sb::bytes& content)
{
    const auto result = testing::run_program(ORBSE_FIELDS_EXECUTABLE, {"list", "--json", file});
    EXPECT_LE(result.exit_code, 1) << result.standard_error;
    listing save;
    const std::string_view output = result.standard_output;
    for (std::size_t start = 0, end; (end = output.find('\n', start)) != std::string_view::npos; start = end + 1) {
        const std::string_view line = output.substr(start, end - start);
        const std::uint64_t offset = std::stoull(member(line, "offset"));
        if (const std::string error = member(line, "error"); !error.empty()) {
            save.broken = error + " at " + hex(offset) + " (" + member(line, "offset") + ") reading " + member(line, "path") +
                          ": needed " + member(line, "needed") + " bytes, " + member(line, "left") + " left";
            continue;
        }
        leaf read{member(line, "path"), offset, member(line, "type"), member(line, "value"), member(line, "note"), {}};
        const std::size_t size = std::stoull(member(line, "size"));
        if (read.type == "raw") {
            read.elements.assign(content.begin() + static_cast<std::ptrdiff_t>(offset),
                                 content.begin() + static_cast<std::ptrdiff_t>(offset + size));
        } else if (read.type.starts_with("u16[")) {
            for (std::size_t at = 0; at < size; at += 2) {
                read.elements.push_back(static_cast<std::uint16_t>(content.at(offset + at) | content.at(offset + at + 1) << 8));
            }
        } else if (read.type.starts_with("text")) {
            read.value = text_as_listed(read.value);
        }
        save.at_path[read.path] = save.leaves.size();
        save.leaves.push_back(std::move(read));
    }
    return save;
}

// ---- the plain comparison ----

// Whether `later` lies in a numbered record after one that `path` lies in,
// as units.lists[0].slots[3].object_id after units.lists[0].slots[2].unit.
bool later_numbered(const std::string& later, const std::string& path)
{
    const std::size_t differ = std::mismatch(later.begin(), later.end(), path.begin(), path.end()).first - later.begin();
    const std::size_t open = later.rfind('[', differ);
    return open != std::string::npos && later.find_first_of(".]", open) >= differ &&
           std::stoul(later.substr(open + 1)) > std::stoul(path.substr(open + 1));
}

// Every path of the saves once, in file order: each save's paths in its own
// order, and a path that the saves before it lack placed after the others'
// paths up to the next path it shares with them, but before a later numbered
// record (another save's slot 3 after its own slot 2).
std::vector<std::string> merged_paths(const std::vector<const listing*>& saves)
{
    std::list<std::string> order;
    std::unordered_map<std::string, std::list<std::string>::iterator> where;
    for (const listing* save : saves) {
        auto after = order.begin(); // just after this save's last path placed
        for (const auto& leaf : save->leaves) {
            if (const auto found = where.find(leaf.path); found != where.end()) {
                after = std::next(found->second);
                continue;
            }
            while (after != order.end() && !save->at_path.contains(*after) && !later_numbered(*after, leaf.path)) {
                ++after;
            }
            where[leaf.path] = order.insert(after, leaf.path);
        }
    }
    return {order.begin(), order.end()};
}

bool within(const std::string& path, const std::string& record)
{
    return path.starts_with(record) && (path.size() == record.size() || path[record.size()] == '.');
}

// The saves side by side: every path once, in file order, and how many of
// those paths each save is compared on (a damaged save up to its last leaf).
struct side_by_side {
    std::vector<const listing*> saves;
    std::vector<std::string> paths;
    std::vector<std::size_t> reach;

    explicit side_by_side(const std::vector<const listing*>& listings) : saves(listings), paths(merged_paths(listings))
    {
        std::unordered_map<std::string, std::size_t> position;
        for (std::size_t at = 0; at < paths.size(); ++at) {
            position[paths[at]] = at;
        }
        for (const listing* save : saves) {
            reach.push_back(save->broken.empty() ? paths.size() : save->leaves.empty() ? 0 : position[save->leaves.back().path] + 1);
        }
    }

    const leaf* find(std::size_t save, std::size_t at) const
    {
        const auto found = saves[save]->at_path.find(paths[at]);
        return reach[save] > at && found != saves[save]->at_path.end() ? &saves[save]->leaves[found->second] : nullptr;
    }

    bool holds(std::size_t save, const std::string& record) const
    {
        const auto& leaves = saves[save]->leaves;
        return std::any_of(leaves.begin(), leaves.end(), [&](const leaf& l) { return within(l.path, record); });
    }

    // The outermost record of the path at `at` (a prefix that ends before a
    // '.', or the path itself) that some of the saves compared lack, and the
    // saves that hold it.
    std::pair<std::string, std::vector<std::size_t>> lacking(std::size_t at, const std::vector<std::size_t>& compared) const
    {
        for (std::size_t dot = paths[at].find('.');; dot = paths[at].find('.', dot + 1)) {
            const std::string record = paths[at].substr(0, dot);
            std::vector<std::size_t> holders;
            std::copy_if(compared.begin(), compared.end(), std::back_inserter(holders),
                         [&](std::size_t save) { return holds(save, record); });
            if (holders.size() < compared.size() || dot == std::string::npos) {
                return {record, holders};
            }
        }
    }

    // Where each save goes on inside `unit` from `at` on, and the offset of
    // the first save's place.
    std::string shape(const std::string& unit, std::size_t at) const
    {
        std::string where, offset;
        for (std::size_t save = 0; save < saves.size(); ++save) {
            std::size_t next = at;
            while (next < paths.size() && within(paths[next], unit) && !find(save, next)) {
                ++next;
            }
            if (next == paths.size() || !within(paths[next], unit)) {
                where += " -";
                continue;
            }
            where.append(" ").append(paths[next].substr(unit.size() + 1));
            offset = offset.empty() ? hex(find(save, next)->offset) : offset;
        }
        return unit + " " + offset + " differs in shape:" + where;
    }

    std::string only_in(const std::string& record, const std::vector<std::size_t>& holders) const
    {
        const auto& first = saves[holders[0]]->leaves;
        const auto begins = std::find_if(first.begin(), first.end(), [&](const leaf& l) { return within(l.path, record); });
        std::string numbers;
        for (const std::size_t save : holders) {
            numbers.append(" ").append(std::to_string(save + 1));
        }
        return record + " " + hex(begins->offset) + " only in save" + (holders.size() > 1 ? "s" : "") + numbers;
    }
};

// A raw stretch byte by byte or a path's points point by point: each run of
// elements that differ, an element a save lacks differing from the others'.
// column[i] is null where save i is not compared.
void add_runs(std::vector<std::string>& lines, const std::string& path, const std::vector<const leaf*>& column)
{
    std::size_t longest = 0;
    const leaf* first = nullptr;
    for (const leaf* save : column) {
        longest = save ? std::max(longest, save->elements.size()) : longest;
        first = first ? first : save;
    }
    const bool bytes = first->type == "raw";
    const auto differs = [&](std::size_t at) {
        return std::any_of(column.begin(), column.end(), [&](const leaf* save) {
            return save && (save->elements.size() <= at || first->elements.size() <= at ||
                            save->elements[at] != first->elements[at]);
        });
    };
    for (std::size_t from = 0; from < longest; ++from) {
        if (!differs(from)) {
            continue;
        }
        std::size_t to = from;
        while (to + 1 < longest && differs(to + 1)) {
            ++to;
        }
        const std::string range = std::to_string(from) + (to > from ? ".." + std::string(bytes ? "+" : "") + std::to_string(to) : "");
        std::string offsets, values;
        for (const leaf* save : column) {
            if (!save || save->elements.size() <= from) {
                offsets += " -";
                values += " -";
                continue;
            }
            offsets.append(" ").append(hex(save->offset + from * (bytes ? 1 : 2)));
            const std::size_t end = std::min(to + 1, save->elements.size());
            std::vector<std::string> shown;
            for (std::size_t at = from; at < std::min(end, from + 64); ++at) {
                char element[8];
                std::snprintf(element, sizeof element, bytes ? "%02x" : "%u", save->elements[at]);
                shown.push_back(element);
            }
            const bool cut = end - from > 64;
            const std::string run = joined(shown, bytes ? "" : ",") + (cut ? (bytes ? "..." : ",...") : "");
            values.append(" ").append(bytes ? run : "[" + run + "]");
        }
        lines.push_back(path + (bytes ? "+" + range : "[" + range + "]") + offsets + values);
        from = to;
    }
}

// The lines diff writes for the saves. At each path, in file order, the saves
// compared are those that have not broken before it (at least two):
// - a record some of them hold and others lack, the outermost such prefix of
//   the path, is one line with where it begins in the first that holds it,
//   and the rest of it is passed over; but a level of a linked chain that
//   some lack is a difference of shape of the slot's unit, and the rest of
//   the slot is passed over;
// - a slot that holds a unit in one save and a reference in another is one
//   line, and the rest of the slot is passed over;
// - raw stretches and points run by run, other leaves value by value.
// A damaged save's break follows its last leaf.
std::vector<std::string> predicted_lines(const std::vector<const listing*>& listings)
{
    static const std::regex slot_number(R"((units\.lists\[\d+\]\.slots\[\d+\])\.object_id)");
    static const std::regex linked_level(R"((units\.lists\[\d+\]\.slots\[\d+\]\.unit)\.linked\[\d+\])");
    const side_by_side saves(listings);
    std::vector<std::string> lines;
    std::string passed_over = "\n";
    std::vector<std::size_t> compared;
    std::vector<const leaf*> column;
    for (std::size_t at = 0; at <= saves.paths.size(); ++at) {
        compared.clear();
        column.clear();
        for (std::size_t save = 0; save < listings.size(); ++save) {
            if (!listings[save]->broken.empty() && saves.reach[save] == at) {
                lines.push_back("error: save " + std::to_string(save + 1) + ": " + listings[save]->broken);
            }
            if (saves.reach[save] > at) {
                compared.push_back(save);
            }
            column.push_back(at < saves.paths.size() ? saves.find(save, at) : nullptr);
        }
        if (compared.size() < 2 || within(saves.paths[at], passed_over)) {
            continue;
        }
        const std::string& path = saves.paths[at];
        std::smatch match;
        if (std::any_of(compared.begin(), compared.end(), [&](std::size_t save) { return !column[save]; })) {
            const auto [record, holders] = saves.lacking(at, compared);
            if (std::regex_match(record, match, linked_level)) {
                passed_over = match[1].str();
                lines.push_back(saves.shape(passed_over, at));
            } else {
                passed_over = record;
                lines.push_back(saves.only_in(record, holders));
            }
            continue;
        }
        const leaf& first = *column[compared[0]];
        const auto differs = [&](auto&& part) {
            return std::any_of(compared.begin(), compared.end(), [&](std::size_t save) { return part(*column[save]) != part(first); });
        };
        std::string columns;
        if (path.ends_with(".object_id") && std::regex_match(path, match, slot_number) &&
            differs([](const leaf& l) { return l.note.substr(0, 4); })) {
            for (const leaf* save : column) {
                columns += !save ? " -" : (save->note.starts_with("unit") ? " unit(" : " reference(") + save->value + ")";
            }
            passed_over = match[1].str();
            lines.push_back(passed_over + " " + hex(first.offset) + columns);
        } else if (first.type == "raw" || first.type.starts_with("u16[")) {
            add_runs(lines, path, column);
        } else if (differs([](const leaf& l) { return l.value; })) {
            for (const leaf* save : column) {
                columns.append(" ").append(save ? save->value : "-");
            }
            lines.push_back(path + " " + hex(first.offset) + columns);
        }
    }
    return lines;
}

// ---- saves made up from a seed ----

struct dice {
    sb::scatter scatter;
    explicit dice(std::uint32_t seed) { scatter.state += seed; }
    std::uint32_t below(std::uint32_t bound) { return scatter.next() % bound; }
    void flip(std::uint8_t& byte) { byte = static_cast<std::uint8_t>(byte ^ (1 + below(255))); }
};

sb::unit_description made_up_unit(dice& roll)
{
    sb::unit_description unit;
    for (auto& byte : unit.data) {
        byte = roll.below(4) == 0 ? static_cast<std::uint8_t>(roll.below(256)) : 0;
    }
    unit.selected = static_cast<std::uint16_t>(roll.below(3));
    unit.unk5 = static_cast<std::uint16_t>(roll.below(1000));
    unit.unit_class = static_cast<std::uint16_t>(roll.below(400));
    if (roll.below(3) == 0) {
        unit.path = sb::path_description{{1, 2, 3}, std::vector<std::uint16_t>(roll.below(5), static_cast<std::uint16_t>(roll.below(12544))), 0};
    }
    unit.word_after_link = static_cast<std::uint16_t>(roll.below(3));
    unit.unkf1 = static_cast<std::uint16_t>(roll.below(3)); // 1: the extra word follows
    if (unit.unkf1 == 1) {
        unit.unkf1_extra = static_cast<std::uint16_t>(roll.below(1000));
    }
    return unit;
}

// References name objects of the groups, never a number the next new unit
// could carry.
sb::slot_description made_up_slot(dice& roll)
{
    if (roll.below(3) == 0) {
        return sb::reference(static_cast<std::uint16_t>(1 + roll.below(372)));
    }
    std::vector<sb::unit_description> chain{made_up_unit(roll)};
    while (chain.size() < 3 && roll.below(3) == 0) {
        chain.push_back(made_up_unit(roll));
    }
    return sb::new_unit(static_cast<std::uint16_t>(roll.below(10)), chain);
}

sb::unit_list_description made_up_list(dice& roll)
{
    sb::unit_list_description list;
    for (std::size_t slots = 1 + roll.below(5); list.slots.size() < slots;) {
        list.slots.push_back(made_up_slot(roll));
    }
    return list;
}

// One to three lists, among them a slot whose unit links another and has a
// path with points; the stream closed by its size of 0 or ended by the file.
sb::save_description made_up_save(dice& roll)
{
    auto save = sb::empty_save(70);
    save.header.save_date = roll.scatter.next();
    save.header.game_name = sb::name(std::string(1 + roll.below(12), static_cast<char>('a' + roll.below(26))));
    save.header.start_gold = static_cast<std::int32_t>(roll.below(20000)) - 10000;
    for (int cells = 0; cells < 20; ++cells) {
        save.pass_layer[roll.below(map_cell_count)] = static_cast<std::uint8_t>(roll.below(256));
        save.resource_layer[roll.below(map_cell_count * 2)] = static_cast<std::uint8_t>(roll.below(256));
    }
    for (auto& player : save.players) {
        player.clan = static_cast<std::uint8_t>(roll.below(9));
        player.loses[roll.below(176)] = static_cast<std::uint8_t>(roll.below(256));
    }
    for (std::size_t lists = 1 + roll.below(3); save.unit_lists.size() < lists;) {
        save.unit_lists.push_back(made_up_list(roll));
    }
    auto leader = made_up_unit(roll);
    leader.path = sb::path_description{{1, 2, 3}, {7, 8}, 0};
    auto& first = save.unit_lists[0].slots;
    first.insert(first.begin() + roll.below(static_cast<std::uint32_t>(first.size() + 1)),
                 sb::new_unit(1, {leader, made_up_unit(roll)}));
    if (roll.below(2) == 0) {
        save.tail.resize(1 + roll.below(6), static_cast<std::uint8_t>(roll.below(256)));
    } else {
        save.closing_zero_size = roll.below(2) == 0;
    }
    return save;
}

// One of the slots that hold a new unit and that `fits` takes; null when none
// does.
sb::slot_description* unit_slot(sb::save_description& save, dice& roll,
                                const std::function<bool(const sb::unit_list_description&, const sb::slot_description&)>& fits = {})
{
    std::vector<sb::slot_description*> fitting;
    for (auto& list : save.unit_lists) {
        for (auto& slot : list.slots) {
            if (!slot.chain.empty() && (!fits || fits(list, slot))) {
                fitting.push_back(&slot);
            }
        }
    }
    return fitting.empty() ? nullptr : fitting[roll.below(static_cast<std::uint32_t>(fitting.size()))];
}

sb::unit_description& some_unit(sb::save_description& save, dice& roll)
{
    auto& chain = unit_slot(save, roll)->chain;
    return chain[roll.below(static_cast<std::uint32_t>(chain.size()))];
}

template <typename number>
void changed_number(number& value, dice& roll)
{
    value = static_cast<number>(value + 1 + roll.below(200));
}

void insert_somewhere(sb::save_description& save, dice& roll, sb::slot_description slot)
{
    auto& slots = save.unit_lists[roll.below(static_cast<std::uint32_t>(save.unit_lists.size()))].slots;
    slots.insert(slots.begin() + roll.below(static_cast<std::uint32_t>(slots.size() + 1)), std::move(slot));
}

using change = std::function<void(sb::save_description&, dice&)>;

const change header_field = [](auto& save, dice& roll) {
    switch (roll.below(5)) {
    case 0: changed_number(save.header.save_date, roll); break;
    case 1: changed_number(save.header.start_gold, roll); break;
    case 2: save.header.game_name[roll.below(12)] = static_cast<std::uint8_t>('A' + roll.below(26)); break;
    case 3: roll.flip(save.header.reserved[roll.below(5)]); break;
    default: changed_number(save.header.turn_time_1, roll);
    }
};

const change player_field = [](auto& save, dice& roll) {
    auto& player = save.players[roll.below(4)];
    switch (roll.below(4)) {
    case 0: changed_number(player.research[roll.below(8)].labs, roll); break;
    case 1: changed_number(player.clan, roll); break;
    case 2: roll.flip(player.unkarr1[roll.below(93)]); break;
    default: {
        // A run of bytes anywhere in the 176 of `loses`, past the 64 the
        // listing shows too.
        const std::size_t from = roll.below(170);
        const std::size_t length = 1 + roll.below(6);
        for (std::size_t at = from; at < from + length; ++at) {
            player.loses[at] ^= 0x5A;
        }
    }
    }
};

const change layer_cell = [](auto& save, dice& roll) {
    if (roll.below(2) == 0) {
        changed_number(save.pass_layer[roll.below(map_cell_count)], roll);
    } else {
        changed_number(save.resource_layer[roll.below(map_cell_count * 2)], roll);
    }
};

const change unit_field = [](auto& save, dice& roll) {
    auto& unit = some_unit(save, roll);
    switch (roll.below(5)) {
    case 0: changed_number(unit.selected, roll); break;
    case 1: changed_number(unit.unk5, roll); break;
    case 2: changed_number(unit.unk8, roll); break;
    case 3: changed_number(unit.speed_now, roll); break;
    default: changed_number(unit.unit_class, roll);
    }
};

// Bytes of the stretches nothing interprets, which lie at 4, 44, 104 and 122
// of the unit object: data[0..38), [40..96), [100..108) and [118..140).
const change unit_data_bytes = [](auto& save, dice& roll) {
    static const std::vector<std::pair<std::size_t, std::size_t>> stretches{{0, 38}, {40, 96}, {100, 108}, {118, 140}};
    auto& unit = some_unit(save, roll);
    const auto [from, to] = stretches[roll.below(4)];
    const std::size_t first = from + roll.below(static_cast<std::uint32_t>(to - from));
    const std::size_t end = std::min(to, first + 1 + roll.below(4));
    for (std::size_t at = first; at < end; ++at) {
        roll.flip(unit.data[at]);
    }
};

// A tail needs the stream closed by its size of 0.
const change tail_given = [](auto& save, dice&) {
    save.closing_zero_size = true;
    save.tail.resize(std::max<std::size_t>(save.tail.size(), 2), 0xA5);
};

const change tail_bytes = [](auto& save, dice& roll) {
    if (roll.below(3) == 0) {
        save.tail.push_back(static_cast<std::uint8_t>(roll.below(256)));
    } else {
        roll.flip(save.tail[roll.below(static_cast<std::uint32_t>(save.tail.size()))]);
    }
};

const change some_value = [](auto& save, dice& roll) {
    const std::vector<change> values{header_field, player_field, layer_cell, unit_field, unit_data_bytes};
    values[roll.below(5)](save, roll);
};

struct kind {
    const char* name;
    change prepare; // the first save as well (may be empty)
    change changed; // each further save: the one before it, changed once more
    enum { whole, last_cut, first_cut } cut = whole;
};

// Holds diff on `files` to the plain comparison of their listings.
void compare_with_plain(const std::vector<std::string>& files, const std::vector<const listing*>& listings)
{
    const auto expected = predicted_lines(listings);
    ASSERT_FALSE(expected.empty()); // every kind changes something
    std::vector<std::string> arguments{"diff"};
    arguments.insert(arguments.end(), files.begin(), files.end());
    const auto result = testing::run_program(ORBSE_FIELDS_EXECUTABLE, arguments);
    EXPECT_EQ(result.exit_code, 1) << result.standard_error;
    const auto written = lines_of(result.standard_output);
    const auto [line, expected_line] = std::mismatch(written.begin(), written.end(), expected.begin(), expected.end());
    EXPECT_TRUE(line == written.end() && expected_line == expected.end())
        << written.size() << " lines written, " << expected.size() << " expected; line " << (line - written.begin()) + 1
        << "\n  written:  " << (line == written.end() ? "(none)" : *line)
        << "\n  expected: " << (expected_line == expected.end() ? "(none)" : *expected_line);
}

// For each seed three saves: the made-up one, that one changed, and that
// one changed again (a save cut short as the kind says). The first is
// compared with each of the others, then the three as a series. Each kind
// has seeds of its own.
void compare_kinds(const std::vector<kind>& kinds, std::uint32_t seeds = 1)
{
    for (std::uint32_t index = 0; index < kinds.size(); ++index) {
        const kind& test = kinds[index];
        for (std::uint32_t seed = 10 * index + 1; seed <= 10 * index + seeds; ++seed) {
            SCOPED_TRACE(std::string(test.name) + ", seed " + std::to_string(seed));
            dice roll(seed);
            auto description = made_up_save(roll);
            if (test.prepare) {
                test.prepare(description, roll);
            }
            std::vector<sb::bytes> contents;
            for (std::size_t save = 0; save < 3; ++save) {
                if (save > 0) {
                    test.changed(description, roll);
                }
                auto numbered = description;
                sb::number_units(numbered);
                contents.push_back(sb::build_save(numbered));
            }
            if (test.cut != kind::whole) {
                // Two cuts in three inside the unit stream or the tail, the
                // others anywhere after the version word.
                auto streamless = description;
                streamless.unit_lists.clear();
                streamless.closing_zero_size = false;
                streamless.tail.clear();
                auto& cut = test.cut == kind::first_cut ? contents.front() : contents.back();
                const std::size_t from = roll.below(3) != 0 ? sb::build_save(streamless).size() : 2;
                cut.resize(from + roll.below(static_cast<std::uint32_t>(cut.size() - from)));
            }
            const testing::temp_folder folder;
            std::vector<std::string> files;
            std::vector<listing> listings;
            for (std::size_t save = 0; save < 3; ++save) {
                files.push_back(folder.file("save" + std::to_string(save + 1) + ".sav"));
                sb::write_file(files.back(), contents[save]);
                listings.push_back(listed(files.back(), contents[save]));
            }
            for (const std::vector<std::size_t>& set : {std::vector<std::size_t>{0, 1}, {0, 2}, {0, 1, 2}}) {
                std::string numbers = "saves";
                std::vector<std::string> set_files;
                std::vector<const listing*> set_listings;
                for (const std::size_t save : set) {
                    numbers.append(" ").append(std::to_string(save + 1));
                    set_files.push_back(files[save]);
                    set_listings.push_back(&listings[save]);
                }
                SCOPED_TRACE(numbers);
                compare_with_plain(set_files, set_listings);
            }
        }
    }
}

TEST(fields_diff_against_plain, values_and_bytes_that_differ)
{
    compare_kinds({
        {"a header field", {}, header_field},
        {"a player field", {}, player_field},
        {"a layer cell", {}, layer_cell},
        {"a unit field", {}, unit_field},
        {"bytes of unit data", {}, unit_data_bytes},
        {"tail bytes", tail_given, tail_bytes},
    });
}

// A list added is left to fields_diff_test: the size of 0 that closes a
// stream lies after every list there, which paths alone do not say.
TEST(fields_diff_against_plain, records_one_save_holds_and_another_lacks)
{
    compare_kinds({
        {"a unit added mid-list", {}, [](auto& save, dice& roll) { insert_somewhere(save, roll, made_up_slot(roll)); }},
        // Never a list's last slot: a list of no slots would end the stream.
        {"a unit removed mid-list", {},
         [](auto& save, dice& roll) {
             const auto* gone = unit_slot(save, roll, [](const auto& list, const auto&) { return list.slots.size() > 1; });
             for (auto& list : save.unit_lists) {
                 std::erase_if(list.slots, [&](const auto& slot) { return &slot == gone; });
             }
         }},
        {"a reference added", {},
         [](auto& save, dice& roll) { insert_somewhere(save, roll, sb::reference(static_cast<std::uint16_t>(1 + roll.below(372)))); }},
        {"a path made longer", {},
         [](auto& save, dice& roll) {
             auto& points = unit_slot(save, roll, [](const auto&, const auto& slot) {
                                return slot.chain[0].path && !slot.chain[0].path->points.empty();
                            })->chain[0].path->points;
             points.resize(points.size() + 1 + roll.below(3), 99);
         }},
        // The points are a record that the save whose path has none lacks.
        {"a path without points given some",
         [](auto& save, dice& roll) { unit_slot(save, roll)->chain[0].path = sb::path_description{{1, 2, 3}, {}, 0}; },
         [](auto& save, dice& roll) {
             if (auto* slot = unit_slot(save, roll, [](const auto&, const auto& s) { return s.chain[0].path && s.chain[0].path->points.empty(); })) {
                 slot->chain[0].path->points.assign(1 + roll.below(3), 17);
             }
         }},
        {"version 69 against 70", {},
         [](auto& save, dice& roll) {
             roll.flip(save.version_69_byte);
             save.header.version = 69;
         }},
        // unkf1 1 brings the word unkf1_extra.
        {"a unit's unkf1 from 0 to 1",
         [](auto& save, dice& roll) {
             auto& unit = unit_slot(save, roll)->chain[0];
             unit.unkf1 = 0;
             unit.unkf1_extra.reset();
         },
         [](auto& save, dice& roll) {
             if (auto* slot = unit_slot(save, roll, [](const auto&, const auto& s) { return s.chain[0].unkf1 == 0; })) {
                 slot->chain[0].unkf1 = 1;
                 slot->chain[0].unkf1_extra = static_cast<std::uint16_t>(roll.below(1000));
             }
         }},
        // A record more in the groups moves the number of every new object.
        {"one more post-update record", {},
         [](auto& save, dice& roll) {
             save.groups[roll.below(4)].post_updates.push_back(post_update_record{static_cast<std::uint8_t>(1 + roll.below(255))});
         }},
        // The word after the linked unit and the unkf1 of the unit that links
        // it are still compared after the linked unit's extra word.
        {"an unkf1_extra that only a linked unit has",
         [](auto& save, dice& roll) {
             auto& linked = unit_slot(save, roll, [](const auto&, const auto& s) { return s.chain.size() > 1; })->chain[1];
             linked.unkf1 = 0;
             linked.unkf1_extra.reset();
         },
         [](auto& save, dice& roll) {
             if (auto* slot = unit_slot(save, roll, [](const auto&, const auto& s) { return s.chain.size() > 1 && s.chain[1].unkf1 == 0; })) {
                 slot->chain[1].unkf1 = 1;
                 slot->chain[1].unkf1_extra = static_cast<std::uint16_t>(roll.below(1000));
                 changed_number(slot->chain[0].word_after_link, roll);
                 slot->chain[0].unkf1 = slot->chain[0].unkf1 == 1 ? 1 : static_cast<std::uint16_t>(2 + roll.below(9));
             }
         }},
    });
}

// A chain of another depth is where diff does not go by paths: the slot's
// unit differs in shape at the first level that some saves lack, and the
// rest of the slot is passed over.
TEST(fields_diff_against_plain, chains_of_linked_units_of_another_depth)
{
    compare_kinds({
        {"a chain one level deeper", {}, [](auto& save, dice& roll) { unit_slot(save, roll)->chain.push_back(made_up_unit(roll)); }},
        {"a chain one level shorter", {},
         [](auto& save, dice& roll) {
             if (auto* slot = unit_slot(save, roll, [](const auto&, const auto& s) { return s.chain.size() > 1; })) {
                 slot->chain.pop_back();
             }
         }},
    });
}

// A damaged save is compared up to its break, where its error line stands;
// the others go on while at least two remain.
TEST(fields_diff_against_plain, a_cut_save_compared_up_to_its_break)
{
    compare_kinds({
        {"the last save cut short", {}, some_value, kind::last_cut},
        {"the first save cut short", {}, some_value, kind::first_cut},
    }, 3);
}

} // namespace
} // namespace orbse
