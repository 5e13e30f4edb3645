// Writes the bundled demo save: a plausible four-player version-70 game on a
// map with sea, coast, land and mountains, and resource fields of each kind.
// With --unit-added, the same game a turn later, one unit built in the middle
// of red's list: what a comparison of the two should name in one line.
#include "demo_save.h"
#include "save_builder.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <map>
#include <utility>

namespace {

namespace sb = orbse::save_builder;

// The demo with one unit more in the middle of red's list, as the game saves
// it after building it: every later object takes the next number, and the
// selections go on naming the same units.
sb::save_description demo_with_unit_added()
{
    auto save = sb::demo_save();
    std::map<std::uint16_t, std::pair<std::size_t, std::size_t>> unit_at; // a unit's number: its list and slot
    for (std::size_t list = 0; list < save.unit_lists.size(); ++list) {
        for (std::size_t slot = 0; slot < save.unit_lists[list].slots.size(); ++slot) {
            if (!save.unit_lists[list].slots[slot].chain.empty()) {
                unit_at[save.unit_lists[list].slots[slot].object_number] = {list, slot};
            }
        }
    }
    auto& red_units = save.unit_lists[0].slots;
    // A building like the first one from the middle on, new.
    std::size_t middle = red_units.size() / 2;
    while (red_units[middle].chain.size() != 1 || red_units[middle].chain[0].path) {
        ++middle;
    }
    sb::slot_description built = red_units[middle];
    built.chain[0].selected = 0;
    red_units.insert(red_units.begin() + static_cast<std::ptrdiff_t>(middle), built);
    for (auto& [number, place] : unit_at) {
        place.second += place.first == 0 && place.second >= middle ? 1 : 0;
    }
    sb::number_units(save);
    for (auto& list : save.unit_lists) {
        for (auto& slot : list.slots) {
            if (const auto named = unit_at.find(slot.object_number); slot.chain.empty() && named != unit_at.end()) {
                slot.object_number = save.unit_lists[named->second.first].slots[named->second.second].object_number;
            }
        }
    }
    return save;
}

} // namespace

int main(int argc, char** argv)
{
    const bool unit_added = argc == 3 && std::strcmp(argv[1], "--unit-added") == 0;
    if (argc != 2 && !unit_added) {
        std::fprintf(stderr, "usage: make_demo_save [--unit-added] OUTPUT\n");
        return 2;
    }
    try {
        sb::write_file(argv[argc - 1], sb::build_save(unit_added ? demo_with_unit_added() : sb::demo_save()));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "make_demo_save: %s\n", error.what());
        return 1;
    }
    return 0;
}
