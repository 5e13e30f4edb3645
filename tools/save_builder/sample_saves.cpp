#include "sample_saves.h"

#include <optional>

namespace orbse::save_builder {
namespace {

unit_description unit_with(std::uint16_t selected, std::optional<path_description> path = {})
{
    unit_description unit;
    unit.selected = selected;
    unit.unit_class = static_cast<std::uint16_t>(100 + selected);
    unit.path = std::move(path);
    return unit;
}

path_description path_of(std::vector<std::uint16_t> points)
{
    path_description path;
    path.header_words = {1, 2, 3};
    path.points = std::move(points);
    return path;
}

} // namespace

save_description stream_rich_save(std::uint16_t version)
{
    save_description save = empty_save(version);
    save.groups[red].updates = {{3, 0, {}}};
    save.groups[gray].post_updates = {post_update_record{}};
    number_objects(save);

    unit_description with_extra = unit_with(1, path_of({10, 11, 12}));
    with_extra.unkf1 = 1;
    with_extra.unkf1_extra = 77;
    unit_description not_a_path = unit_with(2);
    not_a_path.unkf1 = 2;
    unit_description chained = unit_with(3, path_of({}));
    unit_description linked = unit_with(4, path_of({5}));
    unit_description deepest = unit_with(5);
    deepest.unkf1 = 1;
    deepest.unkf1_extra = 9;

    save.unit_lists = {
        {{new_unit(1, {with_extra}), reference(7), new_unit(2, {not_a_path})}},
        {{reference(1), reference(65535)}},
        {{new_unit(9, {chained, linked, deepest})}},
    };
    number_units(save);
    // The second unit's path words name the next object but not a path.
    save.unit_lists[0].slots[2].chain[0].path_kind = 3;
    save.closing_zero_size = false;
    return save;
}

} // namespace orbse::save_builder
