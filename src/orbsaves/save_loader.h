// Reads a save file front to back into `saveorec`.
#pragma once

#include "orbsaves/save_model.h"
#include "orbsaves/save_reader.h"

#include <span>
#include <string>

namespace orbse {

inline constexpr std::uint16_t version_69 = 69;
inline constexpr std::uint16_t version_70 = 70;

// Loads the whole save at `path` into `save`, which must be freshly zeroed.
// Any failure ends the run through io_check or the memory failure.
void load_save(saveorec& save, const std::string& path);

// The 224-byte header image, as version 70 stores it, decoded into fields.
game_header decode_header(std::span<const std::uint8_t, header_size> image);

player_record decode_player_record(std::span<const std::uint8_t, player_record_size> bytes);

// An updates block: for each of the 93 rows, an object number, followed by a
// values record only when the number is not the row's own (base + row).
void read_updates(save_reader& reader, units_updates_block& updates, std::uint16_t base);

// A count and that many 18-byte records.
void read_post_updates(save_reader& reader, units_post_updates_block_record& post_updates);

} // namespace orbse
