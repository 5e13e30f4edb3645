// How the field program writes a leaf and a break: as a line of text
// (offset in hex, size, type, path, value, and the value's meaning in
// brackets) or as a JSON Lines record.
#pragma once

#include "fields/output_stream.h"
#include "orbsaves/save_walk.h"

namespace orbse::fields {

void write_leaf_line(output_stream& out, const field_leaf& leaf);
// The value alone, as the line or the record shows it.
void write_leaf_value(output_stream& out, const field_leaf& leaf, bool json);
void write_leaf_json(output_stream& out, const field_leaf& leaf);

// A run of references, each slot as write_leaf_line or write_leaf_json
// writes its leaf, byte for byte, but composed in place: a large save's
// listing is mostly these lines.
void write_references_lines(output_stream& out, const reference_run& run);
void write_references_json(output_stream& out, const reference_run& run);

// "Read beyond end of file at 0x0000a000 (40960) reading units.lists[0]...:
// needed 144 bytes, 10 left", without a line end.
void write_break_text(output_stream& out, const walk_break& broken);
void write_break_json(output_stream& out, const walk_break& broken);
// The same break as one JSON object, without a line end, for a document
// that holds it.
void write_break_object(output_stream& out, const walk_break& broken);
// Its members alone, "error" to "left", for a record that holds more.
void write_break_members(output_stream& out, const walk_break& broken);

// A name's bytes as a JSON string, as a listing shows them (without the NUL
// padding, every byte outside printable ASCII as \u00NN); a text of the
// program's own (a path, a note) as a JSON string.
void write_json_name(output_stream& out, std::span<const std::uint8_t> bytes);
void write_json_quoted(output_stream& out, std::string_view text);
// A name's bytes as the listing shows them in text (\xNN) or in JSON
// (\u00NN), by `json`.
void write_name_value(output_stream& out, std::span<const std::uint8_t> bytes, bool json);
// Bytes as a list of numbers, "[0,7,255]".
void write_byte_list(output_stream& out, std::span<const std::uint8_t> bytes);

} // namespace orbse::fields
