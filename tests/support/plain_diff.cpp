#include "support/plain_diff.h"

#include "orbsaves/save_model.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <list>
#include <unordered_map>

namespace orbse::testing {
namespace {

using column = std::vector<const plain_leaf*>; // a leaf of each save; null where none or not compared
constexpr auto by_path = &std::pair<std::string_view, std::size_t>::first;
constexpr std::string_view hex_digits = "0123456789abcdef";

// "0x" and at least eight lower-case hex digits.
std::string hex(std::uint64_t offset)
{
    char digits[16];
    const auto end = std::to_chars(digits, digits + sizeof digits, offset, 16).ptr;
    return std::string("0x").append(static_cast<std::size_t>(std::max<std::ptrdiff_t>(0, 8 - (end - digits))), '0').append(digits, end);
}

// Elements as `list` writes them: [a,b,c].
std::string listed(std::span<const std::uint16_t> elements)
{
    std::string text = "[";
    for (const std::uint16_t element : elements) {
        text.append(text.size() > 1 ? "," : "").append(std::to_string(element));
    }
    return text + "]";
}

bool within(std::string_view path, std::string_view record)
{
    return path.starts_with(record) && (path.size() == record.size() || path[record.size()] == '.');
}

// Whether `later` lies in a numbered part after the one `path` lies in, at
// the part where they part: units.lists[0].slots[3].object_id after
// units.lists[0].slots[2].unit.selected.
bool later_numbered(std::string_view later, std::string_view path)
{
    const auto differ = static_cast<std::size_t>(std::ranges::mismatch(later, path).in1 - later.begin());
    const std::size_t open = later.rfind('[', differ);
    return open != std::string_view::npos && later.find_first_of(".]", open) >= differ &&
           std::strtoull(later.data() + open + 1, nullptr, 10) > std::strtoull(path.data() + open + 1, nullptr, 10);
}

// Every path of the saves once, in file order: each save's paths in its own
// order, and a path that the saves before it lack placed after the others'
// paths up to the next path it shares with them, but before a later numbered
// part (another save's slot 3 after its own slot 2).
std::vector<std::string_view> merged_paths(const std::vector<const plain_save*>& saves)
{
    std::list<std::string_view> order;
    std::unordered_map<std::string_view, std::list<std::string_view>::iterator> where;
    for (const plain_save* save : saves) {
        auto after = order.begin(); // just after this save's last path placed
        for (const auto& leaf : save->leaves) {
            if (const auto found = where.find(leaf.path); found != where.end()) {
                after = std::next(found->second);
                continue;
            }
            while (after != order.end() && !save->find(*after) && !later_numbered(*after, leaf.path)) {
                ++after;
            }
            where[leaf.path] = order.insert(after, leaf.path);
        }
    }
    return {order.begin(), order.end()};
}

// A raw stretch byte by byte or a path's points point by point: each run of
// elements that differ, an element a save lacks differing from the others'.
void add_runs(std::string& out, std::string_view path, const column& leaves, const plain_leaf& first)
{
    const bool bytes = first.is == plain_leaf::kind::bytes;
    std::size_t longest = 0;
    for (const plain_leaf* leaf : leaves) {
        longest = leaf ? std::max(longest, leaf->elements.size()) : longest;
    }
    const auto differs = [&](std::size_t at) {
        return std::ranges::any_of(leaves, [&](const plain_leaf* leaf) {
            return leaf && (leaf->elements.size() <= at || first.elements.size() <= at || leaf->elements[at] != first.elements[at]);
        });
    };
    for (std::size_t from = 0, end = 0; from < longest; from = end + 1) {
        for (end = from; end < longest && differs(end);) {
            ++end; // the run is [from, end)
        }
        if (end == from) {
            continue;
        }
        out.append(path).append(bytes ? "+" : "[").append(std::to_string(from));
        out.append(end - from > 1 ? (bytes ? "..+" : "..") + std::to_string(end - 1) : "").append(bytes ? "" : "]");
        std::string values;
        for (const plain_leaf* leaf : leaves) {
            const bool has = leaf && leaf->elements.size() > from;
            const std::size_t count = has ? std::min(end, leaf->elements.size()) - from : 0;
            const auto shown = has ? std::span(leaf->elements).subspan(from, std::min<std::size_t>(count, 64)) : std::span<const std::uint16_t>();
            std::string run = bytes ? "" : listed(shown);
            for (const std::uint16_t byte : bytes ? shown : std::span<const std::uint16_t>()) {
                run.append(1, hex_digits[byte >> 4]).append(1, hex_digits[byte & 15]);
            }
            run.insert(run.size() - (bytes ? 0 : 1), count > 64 ? (bytes ? "..." : ",...") : "");
            out.append(" ").append(has ? hex(leaf->offset + from * (bytes ? 1 : 2)) : "-");
            values.append(" ").append(has ? run : "-");
        }
        out.append(values).append("\n");
    }
}

// A layer cell by cell: each cell whose bytes differ is a line, named by its
// row and column of the map.
void add_cells(std::string& out, std::string_view path, const column& leaves, const plain_leaf& first)
{
    const std::size_t size = first.cell_size;
    for (std::size_t cell = 0;; ++cell) {
        std::size_t differs = first.elements.size(); // where the next cell that differs begins
        for (const plain_leaf* leaf : leaves) {
            if (leaf && leaf != &first) {
                const auto from = std::span(first.elements).subspan(cell * size);
                const auto parted = std::ranges::mismatch(from, std::span(leaf->elements).subspan(cell * size)).in1;
                differs = std::min(differs, cell * size + static_cast<std::size_t>(parted - from.begin()));
            }
        }
        if (differs == first.elements.size()) {
            return;
        }
        cell = differs / size;
        out.append(path).append(".row[").append(std::to_string(cell / map_side)).append("].column[");
        out.append(std::to_string(cell % map_side)).append("] ").append(hex(first.offset + cell * size));
        for (const plain_leaf* leaf : leaves) {
            const auto bytes = leaf ? std::span(leaf->elements).subspan(cell * size, size) : std::span<const std::uint16_t>();
            out.append(" ").append(!leaf ? "-" : size == 1 ? std::to_string(bytes[0]) : listed(bytes));
        }
        out.append("\n");
    }
}

} // namespace

void plain_save::take(const field_leaf& leaf, save_walk& walk)
{
    leaves.reserve(leaves.empty() ? 4096 : 0); // a save's leaves but its layers' cells, a few thousand
    const auto place = leaf.place.view();
    if (leaf.name.empty() && place.size() == 3 && place[1].name == "row" && place[2].name == "column") {
        if (leaves.empty() || leaves.back().path != place[0].name) {
            leaves.push_back({std::string(place[0].name), {}, leaf.offset, plain_leaf::kind::cells, {}, {}, leaf.size, slot_holds::not_a_slot, {}});
        }
        auto& cells = leaves.back().elements;
        leaf.type == leaf_type::u8 ? cells.push_back(static_cast<std::uint16_t>(leaf.number))
                                   : static_cast<void>(cells.insert(cells.end(), leaf.bytes.begin(), leaf.bytes.end()));
        return;
    }
    plain_leaf taken{path_of(leaf), {}, leaf.offset, plain_leaf::kind::value, {}, {}, 0, leaf.slot, std::string(leaf.note)};
    if (leaf.closes_stream) {
        taken.shown = std::exchange(taken.path, {});
        leaf_place after_every_list = leaf.place;
        after_every_list.parts[after_every_list.depth - 1].index = INT64_MAX;
        append_path(taken.path, after_every_list.view(), leaf.name);
    }
    if (leaf.type == leaf_type::raw) {
        taken.is = plain_leaf::kind::bytes;
        taken.elements.assign(leaf.bytes.begin(), leaf.bytes.end());
        // The tail comes a piece at a time after its first.
        for (std::span<const std::uint8_t> piece; taken.elements.size() < leaf.size && !(piece = walk.next_tail_piece()).empty();) {
            taken.elements.insert(taken.elements.end(), piece.begin(), piece.end());
        }
    } else if (leaf.type == leaf_type::u16_array) {
        taken.is = plain_leaf::kind::points;
        taken.elements.assign(leaf.words.begin(), leaf.words.end());
    } else if (leaf.type == leaf_type::text) {
        // Without its NUL padding; printable ASCII as it is, every other byte
        // (and " and \) as \xNN.
        const auto end = std::find_if(leaf.bytes.rbegin(), leaf.bytes.rend(), [](std::uint8_t byte) { return byte != 0; }).base();
        taken.value = "\"";
        for (const std::uint8_t byte : std::span(leaf.bytes.begin(), end)) {
            const bool plain = byte >= 0x20 && byte <= 0x7e && byte != '"' && byte != '\\';
            taken.value.append(plain ? std::string(1, static_cast<char>(byte)) : std::string("\\x") + hex_digits[byte >> 4] + hex_digits[byte & 15]);
        }
        taken.value += '"';
    } else {
        taken.value = std::to_string(leaf.number);
    }
    leaves.push_back(std::move(taken));
}

void plain_save::finish(const walk_summary& summary)
{
    for (std::size_t at = 0; at < leaves.size(); ++at) {
        index.emplace_back(leaves[at].path, at);
    }
    std::ranges::sort(index);
    if (const auto& at = summary.broken) {
        broken = at->message + " at " + hex(at->offset) + " (" + std::to_string(at->offset) + ") reading " + at->path() +
                 ": needed " + std::to_string(at->needed) + " bytes, " + std::to_string(at->left) + " left";
    }
}

const plain_leaf* plain_save::find(std::string_view path) const
{
    const auto found = std::ranges::lower_bound(index, path, {}, by_path);
    return found != index.end() && found->first == path ? &leaves[found->second] : nullptr;
}

// A path inside the record sorts right after it: no byte that may follow a
// record in a path sorts before its '.'.
bool plain_save::holds(std::string_view record) const
{
    const auto found = std::ranges::lower_bound(index, record, {}, by_path);
    return found != index.end() && within(found->first, record);
}

plain_save plain_walk(const std::string& path)
{
    plain_save save;
    save_walk walk(path);
    for (auto record = walk.next(); !record.empty(); record = walk.next()) {
        for (const field_leaf& leaf : record) {
            save.take(leaf, walk);
        }
    }
    save.finish(walk.summary());
    return save;
}

// At each path, in file order, the saves compared are those that have not
// broken before it (at least two):
// - a record some of them hold and others lack, the outermost such prefix of
//   the path, is one line with where it begins in the first that holds it,
//   and the rest of it is passed over (a level of a linked chain that some
//   lack is left to the tests of chains: diff names the deeper levels with
//   it and follows the numbers they take);
// - the size of 0 that closes a stream lies after every list and is no list:
//   it is named by its own path; where another save's stream, one list
//   longer, ends with the file, that list's size is compared with it;
// - a slot that holds a unit in one save and a reference in another is one
//   line, and the rest of the slot is passed over;
// - raw stretches and points run by run, layers cell by cell, other leaves
//   value by value.
// A damaged save's break follows its last leaf.
std::string plain_diff(const std::vector<const plain_save*>& saves)
{
    const auto paths = merged_paths(saves);
    std::vector<std::size_t> reach; // how many paths each save is compared on
    for (const plain_save* save : saves) {
        const auto last = save->leaves.empty() ? paths.begin() : std::ranges::find(paths, save->leaves.back().path) + 1;
        reach.push_back(save->broken.empty() ? paths.size() : static_cast<std::size_t>(last - paths.begin()));
    }
    const auto find = [&](std::size_t save, std::size_t at) { return reach[save] > at ? saves[save]->find(paths[at]) : nullptr; };
    std::string lines;
    std::string_view passed_over = "\n";
    std::vector<std::size_t> compared, holders;
    column leaves;
    for (std::size_t at = 0; at <= paths.size(); ++at) {
        compared.clear();
        leaves.clear();
        for (std::size_t save = 0; save < saves.size(); ++save) {
            if (!saves[save]->broken.empty() && reach[save] == at) {
                lines.append("error: save ").append(std::to_string(save + 1)).append(": ").append(saves[save]->broken).append("\n");
            }
            if (reach[save] > at) {
                compared.push_back(save);
            }
            leaves.push_back(at < paths.size() ? find(save, at) : nullptr);
        }
        const auto lacks = [&](std::size_t save) { return !leaves[save]; };
        if (compared.size() < 2 || within(paths[at], passed_over) || std::ranges::all_of(compared, lacks)) {
            continue;
        }
        const std::string_view path = paths[at];
        const auto closes = std::ranges::find_if(leaves, [](const plain_leaf* leaf) { return leaf && !leaf->shown.empty(); });
        const plain_leaf* closing = closes == leaves.end() ? nullptr : *closes;
        for (const std::size_t save : closing ? compared : std::vector<std::size_t>()) {
            const std::string_view list = std::string_view(closing->shown).substr(0, closing->shown.rfind('.'));
            leaves[save] = !leaves[save] && within(saves[save]->leaves.back().path, list) ? saves[save]->find(closing->shown) : leaves[save];
        }
        if (std::ranges::any_of(compared, lacks)) {
            // The outermost record of the path (a prefix that ends before a
            // '.', or the path itself) that some of the saves compared lack.
            std::string_view record;
            for (std::size_t dot = closing ? std::string_view::npos : path.find('.');; dot = path.find('.', dot + 1)) {
                record = path.substr(0, dot);
                holders.clear();
                std::ranges::copy_if(compared, std::back_inserter(holders), [&](std::size_t save) { return saves[save]->holds(record); });
                if (holders.size() < compared.size() || dot == std::string_view::npos) {
                    break;
                }
            }
            passed_over = record;
            const plain_save& holder = *saves[holders[0]];
            std::uint64_t begins = UINT64_MAX;
            for (auto in = std::ranges::lower_bound(holder.index, record, {}, by_path); in != holder.index.end() && within(in->first, record); ++in) {
                begins = std::min(begins, holder.leaves[in->second].offset);
            }
            std::string line = std::string(closing ? closing->shown : record).append(" ").append(hex(begins));
            line.append(holders.size() > 1 ? " only in saves" : " only in save");
            for (const std::size_t save : holders) {
                line.append(" ").append(std::to_string(save + 1));
            }
            lines.append(line).append("\n");
            continue;
        }
        const plain_leaf& first = *leaves[compared[0]];
        const auto differs = [&](auto&& part) {
            return std::ranges::any_of(compared, [&](std::size_t save) { return part(*leaves[save]) != part(first); });
        };
        if (differs([](const plain_leaf& leaf) { return leaf.slot; })) {
            passed_over = path.substr(0, path.rfind('.'));
            lines.append(passed_over).append(" ").append(hex(first.offset));
            for (const plain_leaf* leaf : leaves) {
                lines.append(!leaf ? " -" : leaf->slot == slot_holds::unit ? " unit(" : " reference(").append(leaf ? leaf->value + ")" : "");
            }
            lines.append("\n");
        } else if (first.is != plain_leaf::kind::value) {
            if (differs([](const plain_leaf& leaf) -> const auto& { return leaf.elements; })) {
                (first.is == plain_leaf::kind::cells ? add_cells : add_runs)(lines, path, leaves, first);
            }
        } else if (differs([](const plain_leaf& leaf) -> const auto& { return leaf.value; })) {
            lines.append(closing ? closing->shown : path).append(" ").append(hex(first.offset));
            for (const plain_leaf* leaf : leaves) {
                lines.append(" ").append(leaf ? leaf->value : "-");
                if (leaf && !leaf->note.empty()) {
                    lines.append(" (").append(leaf->note).append(")");
                }
            }
            lines.append("\n");
        }
    }
    return lines;
}

} // namespace orbse::testing
