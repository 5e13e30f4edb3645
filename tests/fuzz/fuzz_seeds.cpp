#include "fuzz_seeds.h"

#include "sample_saves.h"

namespace orbse::testing {
namespace {

namespace sb = save_builder;

sb::save_description with_groups(std::uint16_t version)
{
    sb::save_description save = sb::empty_save(version);
    save.groups[red].updates = {{5, 0, {}}, {40, 0, {}}};
    save.groups[red].post_updates = {post_update_record{}, post_update_record{}};
    save.groups[blue].post_updates = {post_update_record{}};
    save.groups[gray].lead_word = 7;
    sb::number_objects(save);
    return save;
}

sb::save_description with_layers(std::uint16_t version)
{
    sb::save_description save = with_groups(version);
    for (int cell = 0; cell < map_cell_count; ++cell) {
        save.pass_layer[cell] = static_cast<std::uint8_t>(cell * 37);
        save.resource_layer[2 * cell] = static_cast<std::uint8_t>(cell * 11);
        save.resource_layer[2 * cell + 1] = static_cast<std::uint8_t>(cell * 13);
    }
    return save;
}

} // namespace

std::vector<named_seed> fuzz_seeds()
{
    std::vector<named_seed> seeds;
    for (const std::uint16_t version : {69, 70, 71, 0}) {
        std::string tag = "v";
        tag += std::to_string(version);
        seeds.emplace_back(tag + "-empty", sb::build_save(sb::empty_save(version)));
        seeds.emplace_back(tag + "-groups", sb::build_save(with_groups(version)));
        seeds.emplace_back(tag + "-layers", sb::build_save(with_layers(version)));
        seeds.emplace_back(tag + "-stream", sb::build_save(sb::stream_rich_save(version)));
        sb::save_description closed_with_tail = sb::stream_rich_save(version);
        closed_with_tail.closing_zero_size = true;
        closed_with_tail.tail = {0x03, 0x00, 0x99};
        seeds.emplace_back(tag + "-tail", sb::build_save(closed_with_tail));
    }
    return seeds;
}

} // namespace orbse::testing
