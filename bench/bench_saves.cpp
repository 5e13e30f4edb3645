#include "bench_saves.h"

#include "demo_save.h"

#include <array>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace orbse::bench {
namespace {

namespace sb = save_builder;

constexpr std::uint32_t largest_object_number = 0xFFFF;

// The mix's block: its paths are long enough that a 256 MB save of these
// blocks stays within the 16-bit object numbers (ten objects a block).
constexpr std::size_t mix_path_points = 3300;
constexpr std::size_t mix_plain_units = 3;
constexpr std::size_t mix_reference_slots = 4096;
constexpr std::size_t mix_objects_per_block = 4 + 2 * mix_plain_units;

constexpr std::size_t longest_list = 0xFFFF;
constexpr std::size_t longest_path = 0xFFFF;
constexpr std::size_t long_path_units_per_list = 100;
constexpr std::size_t many_units_per_list = 500;

constexpr std::array<std::pair<save_kind, std::string_view>, 7> kind_names{{
    {save_kind::mixed, "mixed"},
    {save_kind::reference_lists, "reference_lists"},
    {save_kind::long_paths, "long_paths"},
    {save_kind::deep_chain, "deep_chain"},
    {save_kind::many_units, "many_units"},
    {save_kind::wrapped_units, "wrapped_units"},
    {save_kind::long_tail, "long_tail"},
}};

// Cheap, repeatable variety for the values the listing prints, from a seed
// of its own so that the bench saves stay the saves they were.
struct scatter : sb::scatter {
    scatter() : sb::scatter{0x2545F491u} {}
};

// Red's block names rows 0 to 92 by the numbers 1 to 93, so a unit_class
// of row + 1 names that row's type.
std::uint16_t unit_class_of_row(int row) { return static_cast<std::uint16_t>(row + 1); }

sb::unit_description some_unit(scatter& random)
{
    sb::unit_description unit;
    unit.unit_class = unit_class_of_row(static_cast<int>(random.next() % unit_type_count));
    unit.speed_now = static_cast<std::uint16_t>(random.next() % 12);
    unit.unk1 = static_cast<std::uint16_t>(random.next() % 100);
    unit.unk5 = static_cast<std::uint16_t>(random.next() % 40);
    unit.unk8 = static_cast<std::uint16_t>(random.next() % 1000);
    unit.unkf1 = static_cast<std::uint16_t>(random.next() % 3);
    if (unit.unkf1 == 1) {
        unit.unkf1_extra = static_cast<std::uint16_t>(random.next() % 500);
    }
    return unit;
}

sb::path_description some_path(scatter& random, std::size_t points)
{
    sb::path_description path;
    path.header_words = {static_cast<std::uint16_t>(random.next() % 4), 0, 1};
    path.points.resize(points);
    std::uint16_t cell = static_cast<std::uint16_t>(random.next() % map_cell_count);
    for (auto& point : path.points) {
        point = cell;
        cell = static_cast<std::uint16_t>((cell + 1) % map_cell_count);
    }
    return path;
}

sb::unit_description unit_with_path(scatter& random, std::size_t points)
{
    sb::unit_description unit = some_unit(random);
    unit.path = some_path(random, points);
    return unit;
}

// A slot naming one of the groups' objects, never a new one.
sb::slot_description some_reference(scatter& random, std::size_t index_length)
{
    return sb::reference(static_cast<std::uint16_t>(1 + random.next() % index_length));
}

sb::unit_list_description mix_block(scatter& random, std::size_t index_length)
{
    sb::unit_list_description list;
    std::vector<sb::unit_description> transport{unit_with_path(random, mix_path_points),
                                                unit_with_path(random, mix_path_points)};
    list.slots.push_back(sb::new_unit(1, std::move(transport)));
    for (std::size_t unit = 0; unit < mix_plain_units; ++unit) {
        list.slots.push_back(sb::new_unit(1, {unit_with_path(random, mix_path_points)}));
    }
    for (std::size_t slot = 0; slot < mix_reference_slots; ++slot) {
        list.slots.push_back(some_reference(random, index_length));
    }
    return list;
}

std::uint64_t stream_bytes_of(const sb::save_description& save)
{
    const sb::bytes front = sb::build_save(front_only_save());
    return sb::build_save(save).size() - front.size();
}

// How many repeats of `one_unit_of_stream` fit into a save of `size`
// bytes, given one repeat already sits in `probe`.
std::uint64_t repeats_for(std::uint64_t size, const sb::save_description& probe)
{
    const std::uint64_t front = sb::build_save(front_only_save()).size();
    const std::uint64_t per_repeat = stream_bytes_of(probe);
    return size > front ? (size - front) / per_repeat : 0;
}

std::size_t objects_left(const sb::save_description& save)
{
    return largest_object_number - sb::index_length(save);
}

void describe_mixed(sb::save_description& save, std::uint64_t size)
{
    scatter random;
    const std::size_t index_length = sb::index_length(save);
    sb::save_description probe = save;
    probe.unit_lists = {mix_block(random, index_length)};
    const std::uint64_t blocks = repeats_for(size, probe);
    if (blocks * mix_objects_per_block > objects_left(save)) {
        throw std::invalid_argument("a mixed save this large needs more object numbers than 16 bits hold");
    }
    for (std::uint64_t block = 0; block < blocks; ++block) {
        save.unit_lists.push_back(mix_block(random, index_length));
    }
}

void describe_reference_lists(sb::save_description& save, std::uint64_t size)
{
    scatter random;
    const std::size_t index_length = sb::index_length(save);
    sb::unit_list_description list;
    for (std::size_t slot = 0; slot < longest_list; ++slot) {
        list.slots.push_back(some_reference(random, index_length));
    }
    sb::save_description probe = save;
    probe.unit_lists = {list};
    save.unit_lists.assign(repeats_for(size, probe), list);
}

void describe_long_paths(sb::save_description& save, std::uint64_t size)
{
    scatter random;
    sb::save_description probe = save;
    probe.unit_lists = {{{sb::new_unit(1, {unit_with_path(random, longest_path)})}}};
    const std::uint64_t units = repeats_for(size, probe);
    if (2 * units > objects_left(save)) {
        throw std::invalid_argument("a save of long paths this large needs more object numbers than 16 bits hold");
    }
    for (std::uint64_t unit = 0; unit < units; ++unit) {
        if (unit % long_path_units_per_list == 0) {
            save.unit_lists.emplace_back();
        }
        save.unit_lists.back().slots.push_back(sb::new_unit(1, {unit_with_path(random, longest_path)}));
    }
}

void describe_deep_chain(sb::save_description& save, std::uint64_t levels)
{
    scatter random;
    std::vector<sb::unit_description> chain;
    chain.reserve(levels);
    for (std::uint64_t level = 0; level < levels; ++level) {
        chain.push_back(some_unit(random));
    }
    save.unit_lists = {{{sb::new_unit(1, std::move(chain))}}};
}

// Slots like the demo's, until the object numbers run out: a unit alone, a
// unit with a short path, a transport carrying a unit, now and then a
// reference.
void describe_many_units(sb::save_description& save)
{
    scatter random;
    const std::size_t index_length = sb::index_length(save);
    std::size_t objects = objects_left(save);
    constexpr std::size_t short_path_points = 12;
    while (objects >= 2) {
        if (save.unit_lists.empty() || save.unit_lists.back().slots.size() == many_units_per_list) {
            save.unit_lists.emplace_back();
        }
        auto& slots = save.unit_lists.back().slots;
        const std::uint32_t roll = random.next() % 20;
        if (roll == 0) {
            slots.push_back(some_reference(random, index_length));
        } else if (roll < 3) {
            slots.push_back(sb::new_unit(1, {some_unit(random), some_unit(random)}));
            objects -= 2;
        } else if (roll < 9) {
            slots.push_back(sb::new_unit(1, {unit_with_path(random, short_path_points)}));
            objects -= 2;
        } else {
            slots.push_back(sb::new_unit(2, {some_unit(random)}));
            objects -= 1;
        }
    }
}

// Numbered by hand: number_units refuses numbers past 65,535, which is
// what this stream is about.
constexpr std::uint32_t object_numbers = 0x10000;
constexpr std::uint32_t wrap_from = 65000;
constexpr std::uint16_t plain_class_word = 2;
constexpr std::uint64_t plain_unit_bytes = 2 + 2 + unit_data_size + 4 * 2 + 2; // number to unkf1 0
constexpr std::uint64_t linked_unit_bytes = unit_data_size + 4 * 2 + 2 + 2;   // data to unkf1, word after

sb::unit_description plain_unit(scatter& random)
{
    sb::unit_description unit = some_unit(random);
    unit.unkf1 = 0;
    unit.unkf1_extra.reset();
    return unit;
}

void describe_wrapped_units(sb::save_description& save, std::uint64_t size)
{
    scatter random;
    const std::uint32_t start = static_cast<std::uint32_t>(sb::index_length(save));
    std::uint32_t counter = start;
    std::uint64_t bytes = sb::build_save(save).size();
    while (bytes < size) {
        if (save.unit_lists.empty() || save.unit_lists.back().slots.size() == many_units_per_list) {
            save.unit_lists.emplace_back();
            bytes += 2;
        }
        auto& slots = save.unit_lists.back().slots;
        const auto number = static_cast<std::uint16_t>(counter + 1);
        if (counter < wrap_from) {
            slots.push_back({number, plain_class_word, {plain_unit(random)}});
            counter += 1;
            bytes += plain_unit_bytes;
            continue;
        }
        // The slot's unit takes counter + 1, each linked unit one more after
        // it: links chosen so that the counter lands on `start`.
        const std::uint32_t links = object_numbers + start - (counter + 1);
        std::vector<sb::unit_description> chain(links + 1, plain_unit(random));
        for (std::uint32_t level = 0; level < links; ++level) {
            chain[level].link_ref = static_cast<std::uint16_t>(counter + 2);
            chain[level].link_kind = new_linked_unit_kind;
        }
        slots.push_back({number, plain_class_word, std::move(chain)});
        counter = start;
        bytes += plain_unit_bytes + links * linked_unit_bytes;
    }
}

} // namespace

std::optional<save_kind> kind_named(std::string_view name)
{
    for (const auto& [kind, kind_name] : kind_names) {
        if (kind_name == name) {
            return kind;
        }
    }
    return std::nullopt;
}

std::string_view name_of(save_kind kind)
{
    for (const auto& [named, kind_name] : kind_names) {
        if (named == kind) {
            return kind_name;
        }
    }
    return "unknown";
}

void describe_long_tail(sb::save_description& save, std::uint64_t size)
{
    const std::uint64_t closed_front = sb::build_save(save).size();
    constexpr std::uint8_t tail_byte = 0xA5;
    save.tail.assign(size > closed_front ? size - closed_front : 0, tail_byte);
}

sb::save_description front_only_save()
{
    sb::save_description save = sb::demo_save();
    save.unit_lists.clear();
    save.tail.clear();
    return save;
}

sb::save_description describe_save(save_kind kind, std::uint64_t size)
{
    sb::save_description save = front_only_save();
    switch (kind) {
    case save_kind::mixed:
        describe_mixed(save, size);
        break;
    case save_kind::reference_lists:
        describe_reference_lists(save, size);
        break;
    case save_kind::long_paths:
        describe_long_paths(save, size);
        break;
    case save_kind::deep_chain:
        describe_deep_chain(save, size);
        break;
    case save_kind::many_units:
        describe_many_units(save);
        break;
    case save_kind::wrapped_units:
        describe_wrapped_units(save, size);
        return save; // numbered already
    case save_kind::long_tail:
        describe_long_tail(save, size);
        break;
    }
    sb::number_units(save);
    return save;
}

} // namespace orbse::bench
